// CoordinatorPackets: the management of the coordinator and, through it, of its agents.
#pragma once

#include "catalogue/CatalogueFields.h"
#include "catalogue/CatalogueGuids.h"

// CLASS(name, base, fields), LIST(item class), F(encoding, field name); see CatalogueFields.h.
// The forwarded Packet is of any registered class (Any): a read replaces it by the class the
// stream names.
#define CM_COORDINATOR_PACKETS(CLASS, LIST, F) \
    CLASS(TCommRarSupportPacket, TCommPacket, F(Blob, Data))                                                \
    CLASS(TCoordQueryAgentsPacket, TCommPacket, F(B, Authenticate))                                         \
    CLASS(TCoordQueryAgentsReplyPacket, TCommPacket, F(E1, RoleState) F(B, Unsubscribed) F(I4, MinDiskFree) \
          F(I4, MinVirtualMem) F(I4, MinPhysicalMem) F(B, CompleteRemoteAdmin) F(S, OtherCoordHost)         \
          F(I4, WorkerCount) F(Blob, CompressedAgentData) F(I4, SubscribedCount) F(B, UseRoutingIP)         \
          F(B, Active) F(I4, MinIdleCPUPercent) F(I4, MaxHelperPerJob))                                     \
    CLASS(TQueryRolePacket, TCommPacket, F(B, Sync))                                                        \
    CLASS(TQueryRoleReplyPacket, TCommPacket, F(E1, RoleState) F(I4, Version) F(S, VersionText)             \
          F(S, ProductCaption))                                                                             \
    CLASS(TForwardToAgentPacket, TCommPacket, F(S, ID) F(Any, Packet))                                      \
    CLASS(TRefreshPacket, TCommPacket, F(B, Reserved))                                                      \
    CLASS(TRequestQueryStatePacket, TCommPacket, F(B, Reserved))                                            \
    CLASS(TQueryStatePacket, TCommPacket, F(S, Name) F(I4, Port))                                           \
    CLASS(TSubscribeAgentPacket, TCommPacket, F(B, Subscribe) F(S, ID))                                     \
    CLASS(TResetAutoSubscribePacket, TCommPacket, F(S, AgentMask))                                          \
    CLASS(TCoordGeneralReplyPacket, TCommPacket, F(S, Msg))                                                 \
    CLASS(TTerminatePacket, TCommPacket, F(B, Reserved))                                                    \
    CLASS(TUpdateVersionAgentPacket, TCommPacket, F(S, ID) F(B, Force) F(B, AllowRetry) F(G, UpdateID)      \
          F(B, QuickRollback))                                                                              \
    CLASS(TUpdateVersionAgentReplyPacket, TCommPacket, F(B, Retry))                                         \
    CLASS(TResetAgentPacket, TCommPacket, F(B, Reserved))                                                   \
    CLASS(TSetAgentPriorityPacket, TCommPacket, F(S, ID) F(I4, Priority) F(Real, PriorityBonus))            \
    CLASS(TSetAgentCommentPacket, TCommPacket, F(S, Comment))                                               \
    CLASS(TSetAgentLoggingLevelPacket, TCommPacket, F(I4, LogLevel))                                        \
    CLASS(TAllocateUpdateIDPacket, TCommPacket, F(Blob, Installer))                                         \
    CLASS(TAllocateUpdateIDReplyPacket, TCommPacket, F(G, ID))                                              \
    CLASS(TOpenFirewallAgentPacket, TCommPacket, F(B, Reserved))                                            \
    CLASS(TRetestConnectionAgentPacket, TCommPacket, F(S, ID))                                              \
    CLASS(TSetAgentAllowDisablePacket, TCommPacket, F(S, ID) F(B, Allow))                                   \
    CLASS(TSetAgentAllowRemoteAdminPacket, TCommPacket, F(S, ID) F(B, Allow))                               \
    CLASS(TClearResizeRecommendAgentPacket, TCommPacket, F(B, Reserved))                                    \
    CLASS(TResizeFileCacheAgentPacket, TCommPacket, F(I4, Size))                                            \
    CLASS(TSetAgentRemoteCompilerPriorityPacket, TCommPacket, F(I4, Priority))                              \
    CLASS(TSetBuildGroupAgentPacket, TCommPacket, F(S, ID) F(S, BuildGroup))                                \
    CLASS(TSetAgentAssignPriorityPacket, TCommPacket, F(S, ID) F(I4, Priority))                             \
    CLASS(TCancelUpdateVersionAgentPacket, TCommPacket, F(S, ID))                                           \
    CLASS(TCancelUpdateVersionAgentReplyPacket, TCommPacket, F(B, Reserved))                                \
    CLASS(TConfigureMultiBootPacket, TCommPacket, F(S, AgentIDs) F(S, ClearAgentIDs) F(G, MultiBootID))     \
    CLASS(TAgentWakeOnLANPacket, TCommPacket, F(S, ID))                                                     \
    CLASS(TAgentWakeOnLANReplyPacket, TCommPacket, F(B, Reserved))                                          \
    CLASS(TShowMessagePacket, TCommPacket, F(S, MessageSender) F(S, MessageText))                           \
    CLASS(TResetPacket, TCommPacket, F(B, Reserved))                                                        \
    CLASS(TCoordinatorRoleNotifyPacket, TCommPacket, F(E1, State) F(B, Reserved))                           \
    CLASS(TUpdateVersionPacket, TCommPacket, F(S, VersionText) F(I4, Version) F(B, Force) F(B, RollBack))   \
    CLASS(TStoreVersionUpdatePacket, TCommPacket, F(G, ID) F(I4, Position) F(Blob, StreamedPart)            \
          F(I4, Count))                                                                                     \
    CLASS(TInstallVersionUpdatePacket, TCommPacket, F(G, ID) F(I4, Size) F(S, VersionText) F(I4, Version)   \
          F(B, Force) F(B, Rollback) F(B, QuickRollback) F(B, RunAsService) F(S, Params))                   \
    CLASS(TCoordSettingsRequestPacket, TCommPacket, F(B, Reserved))                                         \
    CLASS(TCoordSettingsPacket, TCommPacket, F(Real, MinIdleLevel) F(I4, ReportInterval) F(I4, MaxWorkers)  \
          F(B, AutoSubscribe) F(S, UnsubscribedAgents) F(B, UpdateVersionOnSubscribe) F(B, UseIP_Obsolete)  \
          F(B, AllowSystemStandby) F(I4, MinDiskFree) F(I4, MinVirtualMem) F(I4, MinPhysicalMem)            \
          F(S, IgnoreProcesses) F(B, IgnoreFirewall) F(S, OtherCoordHost) F(I4, OtherCoordPort)             \
          F(S, OtherCoordDisplay) F(I4, Port) F(S, BackupCoordNames) F(S, BackupCoordPorts)                 \
          F(S, BackupCoordIPs) F(B, UpdateVersionAlways) F(B, CheckForUpdatesOnline))                       \
    CLASS(TAgentShuttingDownPacket, TCommPacket, F(S, ID))                                                  \
    CLASS(TQueryStateReplyPacket, TCommPacket, F(I4, AutoEnableExts) F(B, AutoSubscribe) F(Real, FreeBonus) \
          F(S, IgnoreProcesses) F(I4, MaxWorkers) F(I4, MinDiskFree) F(Real, MinIdleLevel)                  \
          F(I4, MinPhysicalMem) F(I4, MinVirtualMem) F(S, RAMBonus) F(I4, ReportInterval)                   \
          F(Real, ScreenSaverBonus) F(Real, StayBonus) F(S, UnsubscribedAgents) F(B, UseIP_Obsolete)        \
          F(Blob, CoordSubscriber))                                                                         \
    CLASS(TSetAgentRegistryPacket, TCommPacket, F(S, Key) F(S, Value) F(S, Section))                        \
    CLASS(TUnsubscribeWildcardAgentsPacket, TCommPacket, F(S, AgentMask))                                   \

namespace cm {

CM_CATALOGUE_DECLARE(CM_COORDINATOR_PACKETS)

extern const TCatalogueUnit CoordinatorPacketsUnit;
// Registers the unit's classes in declaration order.
void InitializeCoordinatorPackets();

}  // namespace cm
