// VEPackets: the virtual environment of remote processes: sessions, processes, patches and the file cache.
#pragma once

#include "catalogue/CatalogueFields.h"
#include "catalogue/CatalogueGuids.h"
#include "catalogue/PdbForwarderPackets.h"

// CLASS(name, base, fields), LIST(item class), F(encoding, field name); see CatalogueFields.h.
// Members the product's services define: Map is a TIntegerMap (int32 key and value records).
// The H fields are kernel handles, the ones DuplicateHandles (cm/Packets/PacketHandles.h)
// replaces, those of FileHandles included; ParentCurDirHandle (8 bytes) and ProcessHandleInSession
// (4 bytes) are written as plain integers and are not duplicated.
#define CM_VE_PACKETS(CLASS, LIST, F) \
    CLASS(TVEContextPacket, TPacket, F(S, ComputerName) F(S, WindowsDir) F(S, SystemDir)                    \
          F(S, SystemWindowsDir) F(S, TempDir) F(S, UserName) F(S, UserSecurityID) F(S, Env)                \
          F(S, InternetCacheDir) F(S, CookiesDir) F(S, HistoryDir) F(I4, Win32MajorVersion)                 \
          F(I4, Win32MinorVersion) F(L, SystemDllMasks) F(I4, DriveMap) F(S, DriveTypes)                    \
          F(B, RemoveSysWow64FromPath) F(I4, VEAlloc_MaxSpace) F(S, CvTempDir))                             \
    CLASS(TVEReservePacket, TPacket, F(E1, FreeTrigger) F(S, Path) F(M<TIntegerMap>, Map)                   \
          F(B, PathContainsWildcards) F(B, Redundant) F(B, PathContainsFilenameOnly) F(S, BasedOnPath))     \
    LIST(TVEReservePacket)                                                                                  \
    CLASS(TVEPatchPacket, TPacket, F(I4, Position) F(I4, Size) F(S, Content))                               \
    LIST(TVEPatchPacket)                                                                                    \
    CLASS(TVEPatchFilePacket, TPacket, F(S, Path) F(P<TVEPatchPacketList>, Patches))                        \
    LIST(TVEPatchFilePacket)                                                                                \
    CLASS(TVESessionPacket, TCommPacket, F(N<TVEContextPacket>, Context) F(B, LogOnly) F(I4, InstanceIndex) \
          F(I4, SessionProcessID) F(S, VECacheDir) F(S, FileCacheDir) F(S, ModuleCacheDir)                  \
          F(H, ReclaimLockHandle) F(H, CreateProcessMutex) F(G, StreamGroupID) F(G, CacheStreamGroupID)     \
          F(H, ExampleFileHandle) F(S, SessionUserSID) F(W, SessionUserNameEx2)                             \
          F(I4, SystemVolumeSerialNumber) F(B, AllowInjectionIntoMSPDBSRV))                                 \
    CLASS(TVEHandlePacket, TPacket, F(H, Handle) F(I4, Token) F(I8, StreamID))                              \
    LIST(TVEHandlePacket)                                                                                   \
    CLASS(TVEProcessPacket, TCommPacket, F(I4, JobID) F(H, ProcessArrayHandle) F(H, TerminateEventHandle)   \
          F(P<TVEPatchFilePacketList>, PatchFiles) F(P<TVEReservePacketList>, ReserveList)                  \
          F(I4, CompilerHeapAddress) F(S, CmdLine) F(S, CurrentDir) F(S, SavedPathVariable) F(S, AppName)   \
          F(B, SkipReserve) F(I4, ProcessIndex) F(P<TVEHandlePacketList>, FileHandles)                      \
          F(I4, DivideSleepTime) F(I4, ParentLogID_Obsolete) F(B, WaitForSyncOnSleep)                       \
          F(I8, ParentCurDirHandle) F(B, IsDebugged) F(G, SyncServerID) F(B, PatchClExeConfig)              \
          F(B, CompleteExitProcess) F(Opt<TPdbForwarderContextPacket>, PdbForwarderContext)                 \
          F(G, PossibleInputSharedHeapGUID))                                                                \
    CLASS(TVEPreloadPacket, TCommPacket, F(I4, ProcessHandleInSession))                                     \
    CLASS(TVEFileCachePacket, TPacket, F(Blob, FileTableStream) F(Blob, StorageTableStream))                \
    CLASS(TVEFileInfoPacket, TPacket, F(I4, Size) F(I8, CreationTime) F(I8, LastWriteTime) F(B, IsDir)      \
          F(S, Name) F(S, ShortName) F(B, IsSystem) F(B, IsReadOnly))                                       \
    LIST(TVEFileInfoPacket)                                                                                 \
    CLASS(TVEDirInfoPacket, TPacket, F(I4, DirIndex) F(I4, DirVersion) F(B, DirExists)                      \
          F(B, UseKnownVersion) F(S, ShortName) F(S, LongName) F(P<TVEFileInfoPacketList>, Files)           \
          F(B, DirCaseSensitive))                                                                           \

namespace cm {

CM_CATALOGUE_DECLARE(CM_VE_PACKETS)

extern const TCatalogueUnit VEPacketsUnit;
// Registers the unit's classes in declaration order.
void InitializeVEPackets();

}  // namespace cm
