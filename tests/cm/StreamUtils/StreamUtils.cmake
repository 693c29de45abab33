# StreamUtils sources/tests (see the unit's headers)
corvane_gtest(cm_streams_portable_test SOURCES StreamUtils/StreamUtils_test.cpp StreamUtils/VirtualStream_test.cpp StreamUtils/PointerStream_test.cpp
  StreamUtils/ReadAheadStream_test.cpp LIBS cm_portable)
if(CORVANE_WIN32)
  # File and mapped-file streams under Wine; cm_hold_file holds a file open for the retry tests.
  add_executable(cm_hold_file StreamUtils/HoldFile.cpp)
  target_link_libraries(cm_hold_file PRIVATE cm_win32)
  set_target_properties(cm_hold_file PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  corvane_gtest(cm_filestreams_test
    SOURCES StreamUtils/FileStream_test.cpp StreamUtils/MappedFileStream_test.cpp
    LIBS cm_win32)
  add_dependencies(cm_filestreams_test cm_hold_file)
endif()
if(CORVANE_WIN32)
  # vstream: TVirtualStream::SaveToFile through the file stream, under Wine.
  corvane_gtest(cm_virtual_stream_file_test SOURCES StreamUtils/VirtualStreamFile_test.cpp LIBS cm_win32)
endif()
if(CORVANE_WIN32)
  # faults: the file and mapped streams on a volume that fills up. The script mounts a 2 MB tmpfs
  # in the build tree and runs the cases under Wine; it reports a skip (77) where it cannot mount.
  add_executable(cm_filestream_faults_test StreamUtils/FileStreamFaults_test.cpp)
  target_link_libraries(cm_filestream_faults_test PRIVATE cm_win32 ${CORVANE_GTEST})
  target_include_directories(cm_filestream_faults_test PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  set_target_properties(cm_filestream_faults_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  corvane_script_test(cm_filestream_faults
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/StreamUtils/FileStreamFaults.sh
            $<TARGET_FILE:cm_filestream_faults_test> ${CMAKE_CURRENT_BINARY_DIR}/faultfs
    TIMEOUT 120)
  set_tests_properties(cm_filestream_faults PROPERTIES SKIP_RETURN_CODE 77)
endif()
