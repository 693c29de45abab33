// SocketComm: the settings of the product's socket communication layer in this build, and the
// log entry its start-up writes. The layer's start-up belongs to the catalogue; the entry is
// written by the program's start-up once the log is open (the log is a layer above).
#pragma once

#include <cstdint>
#include <string>

namespace cm {

// The socket is not closed on the main thread, and its buffers are not set to zero.
constexpr bool SocketCloseInMainThread = false;
constexpr bool SocketZeroSendBuffer = false;
constexpr bool SocketZeroRecvBuffer = false;
// What one send and one receive operation carry at most, in KB.
constexpr int32_t SocketMaxSendOperationKB = 32;
constexpr int32_t SocketMaxRecvOperationKB = 2048;

// The title of the forced log entry.
constexpr const char* SocketCommSettingsTitle = "SocketComm Settings";

// The entry: titleLine (the log's title line of SocketCommSettingsTitle, '-') + CR LF, then one
// line per setting ("CloseSocketInMainThread = False" ...), the lines separated by CR LF.
std::string SocketCommSettingsEntry(const std::string& titleLine);

}  // namespace cm
