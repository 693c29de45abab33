// RemoteExceptionPackets: remote exceptions: a failure of a service, carried back to the caller.
#pragma once

#include "catalogue/CatalogueFields.h"
#include "catalogue/CatalogueGuids.h"

// CLASS(name, base, fields), LIST(item class), F(encoding, field name); see CatalogueFields.h.
#define CM_REMOTE_EXCEPTION_PACKETS(CLASS, LIST, F) \
    CLASS(TCommExceptionPacket, TPacket, F(S, ExceptionMessage) F(S, ExceptionClass) \
          F(S, ExceptionMethodName))                                                 \

namespace cm {

CM_CATALOGUE_DECLARE(CM_REMOTE_EXCEPTION_PACKETS)

extern const TCatalogueUnit RemoteExceptionPacketsUnit;
// Registers the unit's classes in declaration order.
void InitializeRemoteExceptionPackets();

}  // namespace cm
