# cm/Packets: the packet engine (portable) and packet files (Win32).
target_sources(cm_portable PRIVATE Packets/PacketClass.cpp Packets/PacketCodec.cpp Packets/PacketReflect.cpp)
if(CORVANE_WIN32)
  target_sources(cm_win32 PRIVATE Packets/PacketFile.cpp)
endif()
