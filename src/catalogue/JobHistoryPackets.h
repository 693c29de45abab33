// JobHistoryPackets: the job history and the time statistics.
#pragma once

#include "catalogue/CatalogueFields.h"
#include "catalogue/CatalogueGuids.h"

// CLASS(name, base, fields), LIST(item class), F(encoding, field name); see CatalogueFields.h.
// JobDateTime, MinDateTime and MaxDateTime are date-times.
#define CM_JOB_HISTORY_PACKETS(CLASS, LIST, F) \
    CLASS(TAddJobToHistoryPacket, TCommPacket, F(G, JobID) F(DateTime, JobDateTime) F(Blob, JobMetaData)) \
    CLASS(TQueryJobHistoryPacket, TCommPacket, F(DateTime, MinDateTime) F(DateTime, MaxDateTime)          \
          F(I4, MinSerialNumber) F(I4, MaxSerialNumber) F(I4, MetaDataSizeLimit))                         \
    CLASS(TJobHistoryEntryPacket, TPacket, F(G, JobID) F(DateTime, JobDateTime) F(I4, SerialNumber)       \
          F(Blob, MetaData))                                                                              \
    LIST(TJobHistoryEntryPacket)                                                                          \
    CLASS(TQueryJobHistoryReplyPacket, TCommPacket, F(I4, TotalJobCount) F(I4, ReturnedJobCount_Obsolete) \
          F(Blob, JobMetaData_Obsolete) F(P<TJobHistoryEntryPacketList>, JobList) F(G, SourceID)          \
          F(S, SourceComputerName) F(B, Incomplete))                                                      \
    CLASS(TClearJobHistoryPacket, TCommPacket, F(B, Reserved))                                            \
    CLASS(TCollectTimeStatPacket, TCommPacket, F(B, Reserved))                                            \
    CLASS(TCollectTimeStatReplyPacket, TCommPacket, F(Blob, BuildSystemData) F(Blob, VisualStudioData))   \

namespace cm {

CM_CATALOGUE_DECLARE(CM_JOB_HISTORY_PACKETS)

extern const TCatalogueUnit JobHistoryPacketsUnit;
// Registers the unit's classes in declaration order.
void InitializeJobHistoryPackets();

}  // namespace cm
