// AgentServicePackets: requests to the agent service and their replies.
#pragma once

#include "catalogue/CatalogueFields.h"
#include "catalogue/CatalogueGuids.h"
#include "catalogue/AgentPackets.h"

// CLASS(name, base, fields), LIST(item class), F(encoding, field name); see CatalogueFields.h.
#define CM_AGENT_SERVICE_PACKETS(CLASS, LIST, F) \
    CLASS(TEnableAgentPacket, TCommPacket, F(B, Enable))                                                    \
    CLASS(TChangeVersionUpdateStatusPacket, TCommPacket, F(S, Status))                                      \
    CLASS(TSetForcePortPacket, TCommPacket, F(B, Value))                                                    \
    CLASS(TRequestVersionUpdatePacket, TCommPacket, F(B, ReservedForFutureUse))                             \
    CLASS(TRegisterMonitorPacket, TCommPacket, F(B, ReservedForFutureUse))                                  \
    CLASS(TOpenFirewallPacket, TCommPacket, F(B, CheckOnly))                                                \
    CLASS(TOpenFirewallReplyPacket, TPacket, F(B, CheckPassed))                                             \
    CLASS(TShowMessageBoxPacket, TCommPacket, F(S, MessageText))                                            \
    CLASS(TRunVersionUpdatePacket, TCommPacket, F(I4, Version) F(S, VersionText) F(B, Force) F(B, Rollback) \
          F(B, QuickRollback) F(Blob, InstallerExecutable))                                                 \
    CLASS(TReadHelperLogPacket, TCommPacket, F(G, LogID))                                                   \
    CLASS(TReadHelperLogReplyPacket, TPacket, F(S, Filename) F(Blob, Data))                                 \
    CLASS(TReadExceptionLogsPacket, TCommPacket, F(S, Filter))                                              \
    CLASS(TExceptionLogPacket, TPacket, F(S, Filename) F(Blob, Data))                                       \
    LIST(TExceptionLogPacket)                                                                               \
    CLASS(TReadExceptionLogsReplyPacket, TPacket, F(P<TExceptionLogPacketList>, Files))                     \
    CLASS(TLookupAgentIPPacket, TCommPacket, F(S, AgentName))                                               \
    CLASS(TLookupAgentIPReplyPacket, TPacket, F(S, AgentIP) F(I4, AgentPort))                               \
    CLASS(TClearFileCachePacket, TCommPacket, F(B, Reserved))                                               \
    CLASS(TVerifyServiceVersionPacket, TCommPacket, F(I4, ComponentVersion) F(S, ComponentVersionText)      \
          F(S, ComponentDisplayName))                                                                       \
    CLASS(TQueryServiceStatusPacket, TCommPacket, F(B, Reserved))                                           \
    CLASS(TQueryServiceStatusReplyPacket, TPacket, F(B, Subscribed) F(B, CoordinatorMisconnection)          \
          F(B, StandAlone) F(B, UsingBackup) F(B, ConnectedDirectlyToBackup)                                \
          F(B, CoordinatorVersionMismatch) F(I4, MaxLocalHelpers) F(I4, CpuCount) F(S, AgentID)             \
          F(S, DuplicateCoordinatorName) F(N<TStaticPacket>, StaticPacket) F(I4, MaxHelpersPerJob)          \
          F(B, FirewallMisconfigured))                                                                      \
    CLASS(TStartFileMonitorDriverPacket, TCommPacket, F(B, Reserved))                                       \
    CLASS(TTestNetworkPacket, TCommPacket, F(E1, Kind) F(I4, BufferSize) F(I8, TimeStamp) F(I8, ResultTime) \
          F(Opt<TNetworkConnectionInfoPacket>, ConnectionInfo))                                             \

namespace cm {

CM_CATALOGUE_DECLARE(CM_AGENT_SERVICE_PACKETS)

extern const TCatalogueUnit AgentServicePacketsUnit;
// Registers the unit's classes in declaration order.
void InitializeAgentServicePackets();

}  // namespace cm
