// PdbForwarderPackets: program database forwarding: the actions of a remote compiler on its program database.
#pragma once

#include "catalogue/CatalogueFields.h"
#include "catalogue/CatalogueGuids.h"

// CLASS(name, base, fields), LIST(item class), F(encoding, field name); see CatalogueFields.h.
#define CM_PDB_FORWARDER_PACKETS(CLASS, LIST, F) \
    CLASS(TPdbForwarderFileContextPacket, TPacket, F(S, Filename) F(G, FileGuid) F(I4, FileRevision))     \
    LIST(TPdbForwarderFileContextPacket)                                                                  \
    CLASS(TPdbForwarderContextPacket, TPacket, F(P<TPdbForwarderFileContextPacketList>, Files)            \
          F(G, ActionStreamID) F(E1, ProtocolVersion) F(S, StringBindingPrefix))                          \
    CLASS(TPdbQuerySymbolPacket, TPacket, F(I4, ID) F(S, Data))                                           \
    CLASS(TPdbOpenInputFilePacket, TPacket, F(I4, InputFileID) F(W, SourceFilename) F(W, ObjectFilename)) \
    CLASS(TPdbSelectInputFilePacket, TPacket, F(I4, InputFileID))                                         \
    CLASS(TPdbBeginInputHeaderPacket, TPacket, F(I4, InputFileID) F(W, Filename))                         \
    CLASS(TPdbWritePchInfoPacket, TPacket, F(S, BinaryData))                                              \
    CLASS(TPdbIntroPchPacket, TPacket, F(I4, InputFileID) F(W, StrParam) F(W, PchFilename))               \
    CLASS(TPdbCloseInputFilePacket, TPacket, F(I4, InputFileID) F(I4, IntParam))                          \
    CLASS(TPdbInputFileActionAPacket, TPacket, F(I4, InputFileID) F(I4, IntParam))                        \

namespace cm {

CM_CATALOGUE_DECLARE(CM_PDB_FORWARDER_PACKETS)

extern const TCatalogueUnit PdbForwarderPacketsUnit;
// Registers the unit's classes in declaration order.
void InitializePdbForwarderPackets();

}  // namespace cm
