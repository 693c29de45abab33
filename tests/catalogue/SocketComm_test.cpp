#include <gtest/gtest.h>

#include "catalogue/SocketComm.h"

namespace cm::test {
namespace {

TEST(SocketCommTest, SettingsEntryIsTheTitleLineAndTheValuesOfThisBuild) {
    EXPECT_EQ(SocketCommSettingsEntry("----------SocketComm Settings-----------11/12/2026 04:50:00.000----------"),
              "----------SocketComm Settings-----------11/12/2026 04:50:00.000----------\r\n"
              "CloseSocketInMainThread = False\r\n"
              "ZeroWinsockSendBuffer   = False\r\n"
              "ZeroWinsockRecvBuffer   = False\r\n"
              "MaxSendOperationSize    = 32KB\r\n"
              "MaxRecvOperationSize    = 2048KB");
}

}  // namespace
}  // namespace cm::test
