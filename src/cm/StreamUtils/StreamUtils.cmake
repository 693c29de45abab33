# StreamUtils sources/tests (see the unit's headers)
if(CORVANE_WIN32)
  target_sources(cm_win32 PRIVATE StreamUtils/FileStream.cpp StreamUtils/MappedFileStream.cpp)
endif()
# vstream: pointer and virtual streams over the page allocation layer.
target_sources(cm_portable PRIVATE StreamUtils/PointerStream.cpp StreamUtils/VirtualStream.cpp StreamUtils/PageAlloc.cpp)
# The read-ahead over a seekable stream (the packet reader uses it).
target_sources(cm_portable PRIVATE StreamUtils/ReadAheadStream.cpp)
if(CORVANE_WIN32)
  target_sources(cm_portable PRIVATE StreamUtils/PageAlloc_win32.cpp)
  target_sources(cm_win32 PRIVATE StreamUtils/VirtualStreamFile.cpp)
else()
  target_sources(cm_portable PRIVATE StreamUtils/PageAlloc_host.cpp)
endif()
