# cm/RealTimeCompressStreams: the block-compressed stream format (portable) and its codec table:
# the Win32 build loads MiniLZO.dll / QuickLZ.dll / QuickLZ131.dll at run time, the host build
# links minilzo and, when the build has it, the QuickLZ core library.
target_sources(cm_portable PRIVATE
  RealTimeCompressStreams/RealTimeCompressStreams.cpp
  RealTimeCompressStreams/DecompressStream.cpp
)
if(CORVANE_WIN32)
  target_sources(cm_portable PRIVATE RealTimeCompressStreams/CompressCodecs_win32.cpp)
else()
  target_sources(cm_portable PRIVATE RealTimeCompressStreams/CompressCodecs_host.cpp)
  target_link_libraries(cm_portable PUBLIC minilzo_core $<$<TARGET_EXISTS:quicklz_core>:quicklz_core>)
  set_property(SOURCE RealTimeCompressStreams/CompressCodecs_host.cpp APPEND PROPERTY
    COMPILE_DEFINITIONS CORVANE_HAVE_QUICKLZ=$<TARGET_EXISTS:quicklz_core>)
endif()
