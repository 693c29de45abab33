// RemoteExecutionPackets: remote execution: files sent with a task and its results.
#pragma once

#include "catalogue/CatalogueFields.h"
#include "catalogue/CatalogueGuids.h"

// CLASS(name, base, fields), LIST(item class), F(encoding, field name); see CatalogueFields.h.
// FileInfo is the file system's information record of the file (TFileInformationRecord).
#define CM_REMOTE_EXECUTION_PACKETS(CLASS, LIST, F) \
    CLASS(TExecuteSearchReplacePacket, TPacket, F(B, CaseSensitive) F(B, IncludeTerminatingNull)            \
          F(S, SearchForContent) F(S, ReplaceWithContent))                                                  \
    LIST(TExecuteSearchReplacePacket)                                                                       \
    CLASS(TExecuteSearchReplaceFilePacket, TPacket, F(S, Path)                                              \
          F(P<TExecuteSearchReplacePacketList>, Items))                                                     \
    CLASS(TExecuteIncrementalFilePacket, TPacket, F(S, Path) F(Blob, Content) F(FileInfo, FileInfo)         \
          F(B, ContentValid) F(I4, Revision) F(B, ContinueWithExistingFile) F(I4, BaseRevision))            \
    LIST(TExecuteIncrementalFilePacket)                                                                     \
    CLASS(TExecuteDirContentPacket, TPacket, F(S, DirName) F(Blob, DirData))                                \
    CLASS(TExecuteCommonDirPacket, TPacket, F(S, DirName) F(S, FileMask) F(B, ScanOutputText)               \
          F(B, DeleteCached) F(L, ExistingFiles))                                                           \
    CLASS(TExecuteOutputFilePacket, TPacket, F(S, Path) F(B, Persistent) F(B, PullAsSinglePart)             \
          F(B, Incremental))                                                                                \
    CLASS(TExecuteResultPacket, TPacket, F(I4, ExitCode) F(I8, KernelTime) F(I8, UserTime) F(S, StdOutText) \
          F(P<TExecuteIncrementalFilePacketList>, IncrementalFiles) F(Blob, MetaOutput) F(S, StdErrText)    \
          F(Blob, PdbActionStream) F(L, PossibleInputFilesAccessed))                                        \
    CLASS(TParentProcessIDPacket, TPacket, F(I4, PID) F(I8, Timestamp))                                     \
    LIST(TParentProcessIDPacket)                                                                            \

namespace cm {

CM_CATALOGUE_DECLARE(CM_REMOTE_EXECUTION_PACKETS)

extern const TCatalogueUnit RemoteExecutionPacketsUnit;
// Registers the unit's classes in declaration order.
void InitializeRemoteExecutionPackets();

}  // namespace cm
