# The packet engine, in both builds (host under the sanitizers).
corvane_gtest(cm_packets_test
  SOURCES Packets/Packets_test.cpp Packets/PacketTestClasses.cpp
  LIBS packets)
corvane_copy_codecs(cm_packets_test)
