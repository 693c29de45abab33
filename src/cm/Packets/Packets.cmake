# cm/Packets: the packet engine (portable) and packet files (Win32).
target_sources(cm_portable PRIVATE
  Packets/PacketClass.cpp Packets/PacketCodec.cpp Packets/PacketReflect.cpp
  Packets/FieldCodings.cpp Packets/FieldReader.cpp Packets/FieldEncoding.cpp Packets/FieldConversions.cpp)
if(CORVANE_WIN32)
  # Wide text through the system code page on Windows, Latin-1 on the host.
  target_sources(cm_portable PRIVATE Packets/WideText_win32.cpp)
  target_sources(cm_win32 PRIVATE Packets/PacketFile.cpp)
else()
  target_sources(cm_portable PRIVATE Packets/WideText_host.cpp)
endif()
