// AgentPackets: agent descriptions (static and dynamic) and the coordinator's records of agents.
#pragma once

#include "catalogue/CatalogueFields.h"
#include "catalogue/CatalogueGuids.h"

// CLASS(name, base, fields), LIST(item class), F(encoding, field name); see CatalogueFields.h.
// Members the product's services define: VersionInfo is the operating system's version record
// (TOSVersionRecord), the scheduler's StartTime and StopTime and LastConnected / LastConnectionTest
// are date-times, the other doubles plain numbers.
#define CM_AGENT_PACKETS(CLASS, LIST, F) \
    CLASS(TNetworkConnectionInfoPacket, TPacket, F(I8, SpeedBitsPerSec) F(I4, IP) F(S, Name)                \
          F(S, Description) F(S, PhysicalAddress))                                                          \
    CLASS(TBenchmarkPacket, TPacket, F(I4, RAM_Write_MBPerSec) F(I4, RAM_Read_MBPerSec)                     \
          F(I4, L1_Write_MBPerSec) F(I4, L1_Read_MBPerSec) F(I4, CPU_Add_MHz) F(I4, CPU_Mul_MHz)            \
          F(I4, CPU_Lea_MHz) F(I4, Rating) F(I4, MemoryRating) F(I4, CpuRating) F(I4, CPU_Speed))           \
    CLASS(TSchedulerPacket, TCommPacket, F(B, Enable) F(DateTime, StartTime) F(DateTime, StopTime))         \
    CLASS(TStaticPacket, TPacket, F(I4, Version) F(S, VersionText) F(S, Host) F(S, Addr) F(S, ID)           \
          F(I4, Port) F(I4, CPUSpeed) F(S, HostComment) F(I4, ShadowSize) F(OSVersion, VersionInfo)         \
          F(I1, LogLevel) F(I8, DiskTotal) F(I4, IP) F(S, DisplayName) F(I4, TotalPhysical_Legacy)          \
          F(I4, TotalVirtual_Legacy) F(I4, ShadowFragCount_Obsolete) F(I4, CPUCount) F(B, AllowDisable)     \
          F(S, MSVCVersion) F(S, NETFramworkVersion) F(T, InstalledAssemblies) F(I4, RemoteTaskPriority)    \
          F(S, CPUBrandString) F(I1, CPULogicalCount) F(I1, CPUPhysicalCount)                               \
          F(I8, ConnectionSpeed_BackwardCompatible) F(N<TNetworkConnectionInfoPacket>, ConnectionInfo)      \
          F(I4, RoutingIP) F(I2, ProcessorArchitecture) F(N<TBenchmarkPacket>, Benchmark)                   \
          F(B, UseAgentWhenRunningOnBattery) F(I8, TotalPhysical) F(I8, TotalVirtual)                       \
          F(I4, ProductInfoType) F(I4, Serverr2Metric) F(I1, VersionInfoProductType) F(I2, SuiteMask)       \
          F(I2, ActiveCodePage) F(G, HistorySourceID) F(N<TSchedulerPacket>, Scheduler))                    \
    LIST(TStaticPacket)                                                                                     \
    CLASS(TPreferredHelperPacket, TPacket, F(S, AgentName) F(I4, WorkTimeMSec) F(I4, MaxTimeMSec)           \
          F(I4, EmployedAtTickCount))                                                                       \
    LIST(TPreferredHelperPacket)                                                                            \
    CLASS(TVersionUpdatePacket, TPacket, F(G, UpdateID) F(B, UpdateToCurrentVersion) F(I4, UpdateSize)      \
          F(I4, DownloadedBytes) F(B, DownloadInProgress) F(B, DownloadComplete) F(S, InstallStatus)        \
          F(B, InstallStarted) F(B, QuickRollback))                                                         \
    CLASS(TSubscriptionPacket, TPacket, F(B, Subscribed) F(I4, BuildPriority) F(Real, BuildPriorityBonus)   \
          F(S, BuildGroup) F(I4, AssignPriority) F(DateTime, LastConnected)                                 \
          F(P<TPreferredHelperPacketList>, PreferredHelpers) F(B, RemoteAdmin)                              \
          F(Opt<TVersionUpdatePacket>, VersionUpdate) F(G, MultiBootID))                                    \
    CLASS(THelperPacket, TPacket, F(S, WorkingFor) F(Real, IdleLevel_Obsolete) F(B, Assigning)              \
          F(B, Working) F(S, ID))                                                                           \
    LIST(THelperPacket)                                                                                     \
    CLASS(TKnownCoordPacket, TPacket, F(B, IsPrimary) F(S, ComputerName))                                   \
    LIST(TKnownCoordPacket)                                                                                 \
    CLASS(TDynamicPacket, TPacket, F(I4, HelpersNeeded) F(I4, UpTime) F(I4, DisplayWorkPowerMHz)            \
          F(B, ScreenSaver) F(I4, BuildWarningCount) F(S, BuildClass) F(I4, WorkerCount) F(I8, DiskFree)    \
          F(B, Enabled) F(B, Initializing) F(B, Terminating) F(B, Building) F(I4, AvailPhysical_Legacy)     \
          F(I4, AvailVirtual_Legacy) F(Real, TotalIdleLevel) F(P<THelperPacketList>, Helpers)               \
          F(S, BuildCaption) F(S, BuildHelpersAsText_Obsolete) F(DateTime, LastConnectionTest)              \
          F(B, ConnectionTest) F(B, TestInitiated) F(I4, BuildMinWinVer_Major) F(I4, BuildMinWinVer_Minor)  \
          F(I4, ShadowUsed) F(T, RequiredAssemblies) F(I4, LastReclaimDeltaSec) F(I1, RawIdleLevel)         \
          F(I1, RawIgnoredCpuLevel) F(I1, RawServiceCpuLevel) F(I1, RawHelperCpuLevel) F(I1, RawVECpuLevel) \
          F(P<TKnownCoordPacketList>, KnownCoords) F(Opt<TVersionUpdatePacket>, VersionUpdate)              \
          F(B, VersionUpdateCancelled) F(G, BuildID) F(L, BuildHelperIDs) F(I4, BuildDonePercent)           \
          F(I4, BuildErrorCount) F(B, RunningOnBatteryPower) F(I4, BatteryRemainingPercent)                 \
          F(I8, AvailPhysical) F(I8, AvailVirtual) F(B, FirewallMisconfigured) F(Ic, BuildMaxWinVer_Major)  \
          F(Ic, BuildMaxWinVer_Minor) F(I4, HistorySerialNumber) F(Ic, DisplayWorkPowerCPUs)                \
          F(L, LogOnUsers) F(B, SchedulerRunning) F(B, Only64bitHelpers))                                   \
    CLASS(TReportAgentPacket, TCommPacket, F(N<TStaticPacket>, Static) F(N<TDynamicPacket>, Dynamic)        \
          F(B, Standalone) F(B, Subscribed) F(B, VersionUpdateRequired) F(B, AllowDisable))                 \
    CLASS(TReportAgentReplyPacket, TCommPacket, F(B, VersionUpdateNeeded) F(I4, CoordinatorProductVersion)  \
          F(Opt<TVersionUpdatePacket>, VersionUpdate) F(S, BackupCoordinatorHost)                           \
          F(I4, BackupCoordinatorPort) F(S, BackupCoordinatorDisplayName)                                   \
          F(B, CheckForDuplicateCoordinator) F(G, CoordinatorWorkGroupID) F(E1, CoordinatorRoleState)       \
          F(S, CoordinatorName) F(S, IgnoreProcesses) F(S, DuplicateCoordinatorName)                        \
          F(I4, ReportIntervalSec) F(I1, MinIdleLevelPercent) F(B, Subscribed) F(B, AllowDisableAgent)      \
          F(I4, MaxHelpersPerJob) F(E1, CustomCheckFailures))                                               \
    CLASS(TAgentExportXml, TPacket, F(B, Online) F(I4, Version) F(S, VersionText) F(S, Host) F(I4, Port)    \
          F(I4, CPUSpeed) F(I4, CPUCount) F(I1, CPUAvailablePercent) F(S, CPUBrandString) F(S, Description) \
          F(I4, FileCacheSize) F(I4, FileCacheUsed) F(S, OSVersion) F(I1, LogLevel) F(S, IP)                \
          F(S, RoutingIP) F(S, PerformanceRating) F(I4, UpTimeSec) F(B, ScreenSaverRunning) F(B, Enabled)   \
          F(B, Building) F(I1, BuildProgressPercent) F(I4, BuildAssignedCPUCount) F(S, WorkingForAgents)    \
          F(I8, TotalPhysical) F(I8, TotalVirtual) F(I8, AvailPhysical) F(I8, AvailVirtual)                 \
          F(B, Subscribed) F(S, BuildGroup) F(I8, LastConnected) F(S, LastConnectedText) F(B, RemoteAdmin)  \
          F(I4, WorkPowerMHz) F(I4, WorkPowerCPUs) F(I4, TotalDiskSpace) F(I4, AvailDiskSpace)              \
          F(S, MSVCVersion) F(S, NetFrameworkVersion) F(S, LoggedOnUsers) F(S, BuildTitle)                  \
          F(B, SchedulerEnabled) F(S, SchedulerStartTime) F(S, SchedulerStopTime) F(B, SchedulerRunning))   \
    LIST(TAgentExportXml)                                                                                   \
    CLASS(TCoordExportXml, TPacket, F(S, Role) F(S, Host) F(I4, Port) F(I4, AgentCount) F(I8, ExportTime)   \
          F(S, ExportTimeText) F(P<TAgentExportXmlList>, Agents) F(I4, Version) F(S, VersionText)           \
          F(B, PrimaryCoordinatorOnline) F(B, BackupCoordinatorOnline) F(S, BackupCoordinatorHost)          \
          F(I4, MinRequiredCPU) F(I4, MinRequiredDiskSpce) F(I4, MinRequiredVirtualMem)                     \
          F(I4, MinRequiredPhysMem) F(I4, MaxHelpers))                                                      \

namespace cm {

CM_CATALOGUE_DECLARE(CM_AGENT_PACKETS)

extern const TCatalogueUnit AgentPacketsUnit;
// Registers the unit's classes in declaration order.
void InitializeAgentPackets();

}  // namespace cm
