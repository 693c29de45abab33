// BuildJobPackets: builds, jobs and the helpers employed for them.
#pragma once

#include "catalogue/CatalogueFields.h"
#include "catalogue/CatalogueGuids.h"
#include "catalogue/AgentPackets.h"
#include "catalogue/RemoteExecutionPackets.h"

// CLASS(name, base, fields), LIST(item class), F(encoding, field name); see CatalogueFields.h.
// Members the product's services define: JobStatus and MostRecentJob are build statuses.
#define CM_BUILD_JOB_PACKETS(CLASS, LIST, F) \
    CLASS(TBuildStatusPacket, TPacket, F(G, BuildID) F(S, BuildClass) F(S, Caption) F(B, Started)         \
          F(I1, DonePercent) F(I4, HelpersNeeded) F(L, HelperIDs) F(I4, MinWinVer_Major)                  \
          F(I4, MinWinVer_Minor) F(L, RequiredAssemblies) F(I4, BuildErrorCount) F(I4, BuildWarningCount) \
          F(P<TParentProcessIDPacketList>, ParentProcessIDs) F(E4, Flags) F(Ic, MaxWinVer_Major)          \
          F(Ic, MaxWinVer_Minor) F(B, Only64bitHelpers))                                                  \
    CLASS(TAttachToBuildPacket, TCommPacket, F(G, BuildID))                                               \
    CLASS(TStopJobPacket, TCommPacket, F(G, JobID))                                                       \
    CLASS(TQueryJobStatusPacket, TCommPacket, F(G, JobID) F(B, Async))                                    \
    CLASS(TQueryJobStatusReplyPacket, TCommPacket, F(B, JobActive) F(N<TBuildStatusPacket>, JobStatus)    \
          F(S, JobExecutablePath) F(N<TBuildStatusPacket>, MostRecentJob))                                \
    CLASS(TReportJobPacket, TCommPacket, F(N<TBuildStatusPacket>, Status))                                \
    CLASS(TReportJobReplyPacket, TPacket, F(B, Approved))                                                 \
    CLASS(TEmployHelpersPacket, TCommPacket, F(L, HelperIDs) F(P<TStaticPacketList>, StaticInfos)         \
          F(B, UseRoutingIPs))                                                                            \
    CLASS(TReportHelperPacket, TCommPacket, F(I4, CPUIndex) F(I4, Port) F(I4, RunCommandTime))            \
    CLASS(TDisableHelperPacket, TCommPacket, F(S, Reason))                                                \

namespace cm {

CM_CATALOGUE_DECLARE(CM_BUILD_JOB_PACKETS)

extern const TCatalogueUnit BuildJobPacketsUnit;
// Registers the unit's classes in declaration order.
void InitializeBuildJobPackets();

}  // namespace cm
