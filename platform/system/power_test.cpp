// Token privileges and the requests to end the session or the system, against a bus of the test's own.
#include "platform/system/power.h"
#include "platform/system/security.h"

#include "platform/system/desktop_bus_test_support.h"

#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/machine.h"
#include "platform/base/thread.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Enables or disables one privilege of the process's token; the adjustment's last error.
DWORD SetPrivilege(const char16_t* name, bool enable) {
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    EXPECT_TRUE(LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid));
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
    const DWORD error = GetLastError();
    CloseHandle(token);
    return error;
}

TEST(TokenPrivileges, HeldPrivilegesAreEnabledAndDisabledOthersAreNotAssigned) {
    LUID luid{};
    ASSERT_TRUE(LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &luid));
    EXPECT_EQ(luid.LowPart, 19u);
    EXPECT_FALSE(LookupPrivilegeValueW(nullptr, u"SeNoSuchPrivilege", &luid));
    EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_PRIVILEGE);
    EXPECT_FALSE(LookupPrivilegeValueW(u"\\\\server", SE_SHUTDOWN_NAME, &luid));
    WCHAR name[64];
    DWORD length = 64;
    luid = {23, 0};
    ASSERT_TRUE(LookupPrivilegeNameW(nullptr, &luid, name, &length));
    EXPECT_EQ(std::u16string(name), u"SeChangeNotifyPrivilege");

    EXPECT_FALSE(platform::system::IsPrivilegeEnabled(SE_SHUTDOWN_NAME));
    EXPECT_TRUE(platform::system::IsPrivilegeEnabled(SE_CHANGE_NOTIFY_NAME));
    EXPECT_EQ(SetPrivilege(SE_SHUTDOWN_NAME, true), ERROR_SUCCESS);
    EXPECT_TRUE(platform::system::IsPrivilegeEnabled(SE_SHUTDOWN_NAME));

    // The previous state names what changed; a second token of the process sees the same privileges.
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    TOKEN_PRIVILEGES off{};
    off.PrivilegeCount = 1;
    off.Privileges[0].Luid = {19, 0};
    TOKEN_PRIVILEGES previous{};
    DWORD size = 0;
    ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &off, sizeof previous, &previous, &size));
    EXPECT_EQ(previous.PrivilegeCount, 1u);
    EXPECT_EQ(previous.Privileges[0].Luid.LowPart, 19u);
    EXPECT_EQ(previous.Privileges[0].Attributes & SE_PRIVILEGE_ENABLED, SE_PRIVILEGE_ENABLED);
    EXPECT_FALSE(platform::system::IsPrivilegeEnabled(SE_SHUTDOWN_NAME));

    // A privilege the user does not hold: TRUE, with ERROR_NOT_ALL_ASSIGNED, and still not enabled.
    if (geteuid() != 0) {
        EXPECT_EQ(SetPrivilege(SE_DEBUG_NAME, true), ERROR_NOT_ALL_ASSIGNED);
        EXPECT_FALSE(platform::system::IsPrivilegeEnabled(SE_DEBUG_NAME));
    }
    // Adjusting needs the access for it.
    HANDLE queryOnly = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &queryOnly));
    EXPECT_FALSE(AdjustTokenPrivileges(queryOnly, FALSE, &off, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    DWORD needed = 0;
    EXPECT_FALSE(GetTokenInformation(queryOnly, TokenPrivileges, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(GetTokenInformation(queryOnly, TokenPrivileges, buffer.data(), needed, &needed));
    EXPECT_GE(reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data())->PrivilegeCount, 5u);
    CloseHandle(queryOnly);
    CloseHandle(token);
    EXPECT_FALSE(OpenProcessToken(nullptr, TOKEN_QUERY, &token));
}

class PowerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_bus.Ready()); }
    void TearDown() override { SetPrivilege(SE_SHUTDOWN_NAME, false); }

    platform::machine::ScopedTestMachine m_machine;
    testsupport::FakeDesktopBus m_bus{m_machine.Scratch("bus")};
};

TEST_F(PowerTest, PowerOffNeedsTheShutdownPrivilegeAndIsNeverForced) {
    // Without the privilege nothing is asked.
    EXPECT_FALSE(ExitWindowsEx(EWX_SHUTDOWN | EWX_FORCE, SHTDN_REASON_MAJOR_APPLICATION));
    EXPECT_EQ(GetLastError(), ERROR_PRIVILEGE_NOT_HELD);
    EXPECT_TRUE(m_bus.Calls().empty());

    // With it: the log-in manager is asked whether the user may, then asked interactively; the force flag does not
    // reach it.
    ASSERT_EQ(SetPrivilege(SE_SHUTDOWN_NAME, true), ERROR_SUCCESS);
    EXPECT_TRUE(ExitWindowsEx(EWX_SHUTDOWN | EWX_FORCE, SHTDN_REASON_MAJOR_APPLICATION));
    ASSERT_TRUE(m_bus.WaitForCalls(2));
    EXPECT_EQ(m_bus.Calls(), (std::vector<std::string>{"CanPowerOff", "PowerOff(true)"}));

    EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
    ASSERT_TRUE(m_bus.WaitForCalls(4));
    EXPECT_EQ(m_bus.Calls()[2], "CanReboot");
    EXPECT_EQ(m_bus.Calls()[3], "Reboot(true)");
}

TEST_F(PowerTest, WhereTheUserMayNotNothingIsRequested) {
    ASSERT_EQ(SetPrivilege(SE_SHUTDOWN_NAME, true), ERROR_SUCCESS);
    for (const char* answer : {"no", "na"}) {
        m_bus.SetCanAnswer(answer);
        EXPECT_FALSE(ExitWindowsEx(EWX_POWEROFF, 0));
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(m_bus.Calls(), (std::vector<std::string>{"CanPowerOff", "CanPowerOff"}));
    // A password the policy asks for is asked by the manager itself.
    m_bus.SetCanAnswer("challenge");
    EXPECT_TRUE(ExitWindowsEx(EWX_POWEROFF, 0));
    ASSERT_TRUE(m_bus.WaitForCalls(4));
    EXPECT_EQ(m_bus.Calls()[3], "PowerOff(true)");
}

TEST_F(PowerTest, LogOffAsksTheSessionManagerWithoutItsDialog) {
    EXPECT_TRUE(ExitWindowsEx(EWX_LOGOFF, 0));
    ASSERT_TRUE(m_bus.WaitForCalls(1));
    EXPECT_EQ(m_bus.Calls(), (std::vector<std::string>{"Logout(1)"}));
}

TEST(PowerWithoutBus, NoBusIsNotSupported) {
    platform::machine::ScopedTestMachine machine;
    const std::string address = "unix:path=" + machine.Scratch("nobus") + "/none";
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    ASSERT_EQ(SetPrivilege(SE_SHUTDOWN_NAME, true), ERROR_SUCCESS);
    EXPECT_FALSE(ExitWindowsEx(EWX_POWEROFF, 0));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_FALSE(ExitWindowsEx(EWX_LOGOFF, 0));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    SetPrivilege(SE_SHUTDOWN_NAME, false);
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

} // namespace
