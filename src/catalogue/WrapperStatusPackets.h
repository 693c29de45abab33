// WrapperStatusPackets: the status of the compiler wrappers.
#pragma once

#include "catalogue/CatalogueFields.h"
#include "catalogue/CatalogueGuids.h"

// CLASS(name, base, fields), LIST(item class), F(encoding, field name); see CatalogueFields.h.
#define CM_WRAPPER_STATUS_PACKETS(CLASS, LIST, F) \
    CLASS(TWrapperStatusItemPacket, TPacket, F(I4, ProductVersion) F(S, CompilerPath)                    \
          F(I8, CompilerLastWriteTime) F(I4, CompilerSize) F(S, WrapperPath) F(I8, WrapperLastWriteTime) \
          F(I4, WrapperSize))                                                                            \
    LIST(TWrapperStatusItemPacket)                                                                       \
    CLASS(TWrapperStatusPacket, TPacket, F(P<TWrapperStatusItemPacketList>, Items))                      \

namespace cm {

CM_CATALOGUE_DECLARE(CM_WRAPPER_STATUS_PACKETS)

extern const TCatalogueUnit WrapperStatusPacketsUnit;
// Registers the unit's classes in declaration order.
void InitializeWrapperStatusPackets();

}  // namespace cm
