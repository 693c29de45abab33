# cm/RealTimeCompressStreams: the sdc2 layout, TDecompressStream and the codecs (host: linked in;
# win32: the DLLs, copied beside the test as the program carries them beside itself).
corvane_gtest(cm_compress_streams_test
  SOURCES RealTimeCompressStreams/RealTimeCompressStreams_test.cpp
  LIBS cm_portable)
corvane_copy_codecs(cm_compress_streams_test)
if(CORVANE_WIN32)
  # Stand-in libraries for the loader's cases, each in a folder of its own under its real name:
  # a MiniLZO.dll with the plain __cdecl names only, and a QuickLZ131.dll whose scratch is too big.
  add_library(cm_compress_plain_minilzo SHARED ${MINILZO_DIR}/minilzo.c RealTimeCompressStreams/PlainMiniLzo.def)
  target_include_directories(cm_compress_plain_minilzo PRIVATE ${MINILZO_DIR})
  target_compile_options(cm_compress_plain_minilzo PRIVATE -w)
  add_library(cm_compress_stdcall_minilzo SHARED ${CMAKE_SOURCE_DIR}/src/codecs/minilzo/MiniLzoExports.c
    RealTimeCompressStreams/StdcallPlainMiniLzo_${CORVANE_ARCH}.def)
  target_link_libraries(cm_compress_stdcall_minilzo PRIVATE minilzo_core)
  add_library(cm_compress_oversized_qlz131 SHARED
    RealTimeCompressStreams/OversizedQuickLz131.c RealTimeCompressStreams/OversizedQuickLz131_${CORVANE_ARCH}.def)
  foreach(t plain_minilzo stdcall_minilzo oversized_qlz131)
    target_link_options(cm_compress_${t} PRIVATE -static-libgcc -s)
    set_target_properties(cm_compress_${t} PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${t}
                          ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${t})
    add_dependencies(cm_compress_streams_test cm_compress_${t})
  endforeach()
  set_target_properties(cm_compress_plain_minilzo PROPERTIES OUTPUT_NAME MiniLZO)
  set_target_properties(cm_compress_stdcall_minilzo PROPERTIES OUTPUT_NAME MiniLZO)
  set_target_properties(cm_compress_oversized_qlz131 PROPERTIES OUTPUT_NAME QuickLZ131)

  # The same test program run from a directory of its own per case (see CodecLibraryCase.sh).
  set(case_script ${CMAKE_CURRENT_SOURCE_DIR}/RealTimeCompressStreams/CodecLibraryCase.sh)
  set(case_dir ${CMAKE_CURRENT_BINARY_DIR}/codec-cases)
  corvane_script_test(cm_compress_streams_missing_dll
    COMMAND ${case_script} $<TARGET_FILE:cm_compress_streams_test> ${case_dir}/missing MissingMiniLzoLibrary
    TIMEOUT 60)
  corvane_script_test(cm_compress_streams_plain_dll
    COMMAND ${case_script} $<TARGET_FILE:cm_compress_streams_test> ${case_dir}/plain PlainMiniLzoEntryPoints
            $<TARGET_FILE:cm_compress_plain_minilzo>
    TIMEOUT 60)
  corvane_script_test(cm_compress_streams_stdcall_plain_dll
    COMMAND ${case_script} $<TARGET_FILE:cm_compress_streams_test> ${case_dir}/stdcall StdcallPlainMiniLzoEntryPoints
            $<TARGET_FILE:cm_compress_stdcall_minilzo>
    TIMEOUT 60)
  corvane_script_test(cm_compress_streams_oversized_dll
    COMMAND ${case_script} $<TARGET_FILE:cm_compress_streams_test> ${case_dir}/oversized OversizedQuickLz131Scratch
            $<TARGET_FILE:cm_compress_oversized_qlz131>
    TIMEOUT 60)
endif()
