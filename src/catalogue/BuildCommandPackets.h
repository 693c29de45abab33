// BuildCommandPackets: build commands and the meta-build records of finished builds.
#pragma once

#include "catalogue/CatalogueFields.h"
#include "catalogue/CatalogueGuids.h"

// CLASS(name, base, fields), LIST(item class), F(encoding, field name); see CatalogueFields.h.
#define CM_BUILD_COMMAND_PACKETS(CLASS, LIST, F) \
    CLASS(TBuildCommandProjectPacket, TPacket, F(S, Name) F(S, Config) F(S, RelativePath_Optional)          \
          F(S, MSBuildName) F(S, IdeName))                                                                  \
    LIST(TBuildCommandProjectPacket)                                                                        \
    CLASS(TBuildCommandPacket, TPacket, F(G, BuildID) F(E4, Flags) F(S, BuildClass) F(S, Caption)           \
          F(S, PrimaryFilename) F(S, EnvBlock) F(S, WorkspaceAsStr) F(W, LocalAppDataDir)                   \
          F(L, SelectedSources) F(L, LoadedProjectPaths) F(L, Obsolete_ActiveProjects)                      \
          F(L, CompilerParamsAdd) F(L, CompilerParamsSub) F(L, LinkerParamsAdd) F(L, LinkerParamsSub)       \
          F(L, ShouldBuildProjectPaths) F(L, AllowRemote) F(L, AllowIntercept) F(S, CurDir) F(S, Command)   \
          F(S, ProfileFilename) F(S, BuildConsoleCommandLine) F(S, MonitorFilename) F(S, EVC4_CeConfig)     \
          F(I4, OverrideMaxHelpersPerJob) F(P<TBuildCommandProjectPacketList>, ActiveProjects)              \
          F(L, BoundsCheckerInstrumentedProjects) F(S, IntelCompilerVersion) F(Ic, MinWinVer_Major)         \
          F(Ic, MinWinVer_Minor) F(Ic, MaxWinVer_Major) F(Ic, MaxWinVer_Minor) F(I1, OverrideLogLevel)      \
          F(L, ForcedEnv) F(L, Obsolete_NintendoProjects) F(B, LogWarnings) F(S, InitiatorName)             \
          F(B, KeepNumOfJobs) F(S, PlugInVer) F(S, KWJsonName) F(S, OutDir) F(B, UseMSBuild)                \
          F(I8, InjectBase))                                                                                \
    CLASS(TMetaBuildAttachmentPacket, TPacket, F(S, Filename) F(Blob, Content))                             \
    LIST(TMetaBuildAttachmentPacket)                                                                        \
    CLASS(TMetaBuildPacket, TPacket, F(G, ID) F(S, Caption) F(S, ComputerName) F(S, UserName)               \
          F(E4, BuildFlags) F(I4, ErrorCount) F(I4, WarningCount) F(I4, SystemErrorCount)                   \
          F(I4, SystemWarningCount) F(DateTime, StartTime) F(Real, Duration) F(B, Cancelled)                \
          F(Blob, OldMonitorEvents) F(I4, ProductVersion) F(I4, ProductBuildNum) F(S, ProductVersionText)   \
          F(I4, SystemAutoRecoveryCount) F(Blob, BuildLog) F(S, ProjectFormat) F(I4, LoggingLevel)          \
          F(B, SegmentedBuildLog) F(S, PrimaryFilename) F(B, Incomplete) F(N<TBuildCommandPacket>, Command) \
          F(Blob, EventLog) F(P<TMetaBuildAttachmentPacketList>, Attachments) F(S, Tag)                     \
          F(Blob, MonitorEvents) F(B, IsSuccess))                                                           \
    LIST(TMetaBuildPacket)                                                                                  \
    CLASS(TMetaBuildCachePacket, TPacket, F(P<TMetaBuildPacketList>, Builds))                               \

namespace cm {

CM_CATALOGUE_DECLARE(CM_BUILD_COMMAND_PACKETS)

extern const TCatalogueUnit BuildCommandPacketsUnit;
// Registers the unit's classes in declaration order.
void InitializeBuildCommandPackets();

}  // namespace cm
