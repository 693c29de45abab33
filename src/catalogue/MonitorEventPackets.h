// MonitorEventPackets: the events the build monitor shows.
#pragma once

#include "catalogue/CatalogueFields.h"
#include "catalogue/CatalogueGuids.h"
#include "catalogue/AgentPackets.h"
#include "catalogue/GraphPackets.h"

// CLASS(name, base, fields), LIST(item class), F(encoding, field name); see CatalogueFields.h.
// StartTime and Now are date-times; the E4 BuildFlags a flag word.
#define CM_MONITOR_EVENT_PACKETS(CLASS, LIST, F) \
    CLASS(TMonitorEventStartedPacket, TPacket, F(I4, ms) F(DateTime, StartTime) F(E4, BuildFlags)           \
          F(S, Caption) F(S, PrimaryFileName) F(G, ID) F(S, ComputerName) F(B, IsMSBuilsProject))           \
    CLASS(TMonitorEventCompletePacket, TPacket, F(I4, ms) F(B, Cancel) F(S, Summary) F(B, Success)          \
          F(Ic, SystemWarningCount) F(Ic, SystemErrorCount) F(Ic, ErrorCount) F(Ic, WarningCount))          \
    CLASS(TMonitorEventCountPacket, TPacket, F(I4, ms) F(I4, Built) F(I4, Skipped) F(I4, Errors)            \
          F(I4, Warnings))                                                                                  \
    CLASS(TMonitorEventProjectCountPacket, TPacket, F(I4, ms) F(Ic, ProjectIndex) F(I4, Built)              \
          F(I4, Skipped) F(I4, Errors) F(I4, Warnings))                                                     \
    CLASS(TMonitorEventMessagePacket, TPacket, F(I4, ms) F(I4, Kind) F(DateTime, Now) F(S, Message)         \
          F(S, Text) F(S, Agent) F(S, Project) F(I4, Code))                                                 \
    CLASS(TMonitorEventOutputPacket, TPacket, F(I4, ms) F(S, Text) F(I4, TaskID) F(I4, ErrorCount)          \
          F(I4, WarningCount) F(B, CreateRegion))                                                           \
    CLASS(TMonitorEventProjectOutputPacket, TPacket, F(I4, ms) F(Ic, ProjectIndex) F(S, Text) F(I4, TaskID) \
          F(Ic, ErrorCount) F(Ic, WarningCount) F(B, CreateRegion))                                         \
    CLASS(TMonitorEventProjectCompletePacket, TPacket, F(I4, ms) F(Ic, ProjectIndex))                       \
    CLASS(TMonitorEventProjectPacket, TPacket, F(S, Name) F(S, Filename) F(Ic, TaskCount) F(B, Skip))       \
    LIST(TMonitorEventProjectPacket)                                                                        \
    CLASS(TMonitorEventProjectListPacket, TPacket, F(I4, ms) F(Ic, TaskCount) F(B, Hidden)                  \
          F(P<TMonitorEventProjectPacketList>, List))                                                       \
    CLASS(TMonitorEventEmployPacket, TPacket, F(I4, ms) F(S, ID) F(I4, RowIndex)                            \
          F(N<TStaticPacket>, StaticInfo) F(S, Caption) F(S, Host) F(B, Local))                             \
    CLASS(TMonitorEventUnemployPacket, TPacket, F(I4, ms) F(S, ID) F(Ic, RowIndex))                         \
    CLASS(TMonitorEventBeginStepPacket, TPacket, F(I4, ms) F(S, WorkerID) F(S, Hint) F(S, Name)             \
          F(I4, TaskID) F(G, CmdGUID) F(S, Source) F(B, DetailedLog) F(B, Remote) F(S, Status))             \
    CLASS(TMonitorEventEndStepPacket, TPacket, F(I4, ms) F(S, WorkerID) F(Ic, Errors) F(Ic, Warnings)       \
          F(B, Double) F(B, ExitCodeExists) F(I4, ExitCode))                                                \
    CLASS(TMonitorEventStepFailedPacket, TPacket, F(I4, ms) F(S, WorkerID))                                 \
    CLASS(TMonitorEventModifyBarHintPacket, TPacket, F(I4, ms) F(I4, TaskID) F(S, NewHintText)              \
          F(I4, InsertAtLine))                                                                              \
    CLASS(TMonitorEventBeginBarPacket, TPacket, F(I4, ms) F(S, RowID) F(S, RowCaption) F(S, Name)           \
          F(S, Hint))                                                                                       \
    CLASS(TMonitorEventEndBarPacket, TPacket, F(I4, ms) F(S, RowID))                                        \
    CLASS(TMonitorEventAddGraphRowPacket, TPacket, F(I4, ms) F(S, RowID) F(S, DisplayName)                  \
          F(Ic, DefaultHeight) F(S, FollowRowID))                                                           \
    CLASS(TMonitorEventAddGraphSetPacket, TPacket, F(I4, ms) F(S, RowID)                                    \
          F(N<TGraphSetDefPacket>, SetDefinitionPacket))                                                    \
    CLASS(TMonitorEventAddGraphSamplePacket, TPacket, F(I4, ms) F(S, RowID)                                 \
          F(N<TGraphSamplePacket>, SamplePacket))                                                           \
    CLASS(TMonitorEventCloseBrowseDBPacket, TPacket, F(I4, ms))                                             \

namespace cm {

CM_CATALOGUE_DECLARE(CM_MONITOR_EVENT_PACKETS)

extern const TCatalogueUnit MonitorEventPacketsUnit;
// Registers the unit's classes in declaration order.
void InitializeMonitorEventPackets();

}  // namespace cm
