#include "catalogue/SocketComm.h"

namespace cm {

namespace {

const char* BoolText(bool value) {
    return value ? "True" : "False";
}

}  // namespace

std::string SocketCommSettingsEntry(const std::string& titleLine) {
    return titleLine + "\r\n" +
           "CloseSocketInMainThread = " + BoolText(SocketCloseInMainThread) + "\r\n" +
           "ZeroWinsockSendBuffer   = " + BoolText(SocketZeroSendBuffer) + "\r\n" +
           "ZeroWinsockRecvBuffer   = " + BoolText(SocketZeroRecvBuffer) + "\r\n" +
           "MaxSendOperationSize    = " + std::to_string(SocketMaxSendOperationKB) + "KB" + "\r\n" +
           "MaxRecvOperationSize    = " + std::to_string(SocketMaxRecvOperationKB) + "KB";
}

}  // namespace cm
