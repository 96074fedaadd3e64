// The stand-in device-center services under Wine's service control manager: started,
// stopped and reconfigured as the updater does it, and preset by SimServiceCtl.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tests/support/win/WineTestSupport.h"

namespace flashwise::winetest {
namespace {

constexpr DWORD kToolBoundMs = 60000;
constexpr DWORD kStateBoundMs = 15000;

struct ServiceHandle {
    SC_HANDLE value = nullptr;
    ~ServiceHandle()
    {
        if (value)
            CloseServiceHandle(value);
    }
};

ProcessResult Ctl(const std::wstring& arguments)
{
    return RunCaptured(L"\"" + GivenPath("SimServiceCtl") + L"\" " + arguments, kToolBoundMs);
}

DWORD StateOf(SC_HANDLE service)
{
    SERVICE_STATUS status{};
    return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

bool Reaches(SC_HANDLE service, DWORD state)
{
    for (DWORD waited = 0; waited < kStateBoundMs; waited += 100) {
        if (StateOf(service) == state)
            return true;
        Sleep(100);
    }
    return false;
}

class Services : public testing::Test {
protected:
    void SetUp() override
    {
        manager_.value = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager_.value, nullptr);
    }

    // Installs NAME afresh with the stand-in and the given service options.
    ServiceHandle Install(const wchar_t* name, const std::wstring& options)
    {
        Remove(name);
        const ProcessResult installed =
            Ctl(std::wstring(L"install ") + name + L" \"" + GivenPath("SimService") + L"\" " + options);
        EXPECT_TRUE(installed.ended && installed.exitCode == 0) << installed.output;
        installed_.push_back(name);
        ServiceHandle service;
        service.value = OpenServiceW(manager_.value, name, SERVICE_ALL_ACCESS);
        return service;
    }

    void Remove(const wchar_t* name) { Ctl(std::wstring(L"remove ") + name); }

    void TearDown() override
    {
        for (const std::wstring& name : installed_)
            Remove(name.c_str());
    }

    ServiceHandle manager_;
    std::vector<std::wstring> installed_;
};

TEST_F(Services, StopAndStartThroughTheServiceControlManager)
{
    ServiceHandle wcescomm = Install(L"WcesComm", L"--start auto");
    ServiceHandle rapimgr = Install(L"RapiMgr", L"--start auto");
    ASSERT_NE(wcescomm.value, nullptr);
    ASSERT_NE(rapimgr.value, nullptr);
    EXPECT_EQ(Ctl(L"preset WcesComm running").exitCode, 0u);
    EXPECT_EQ(Ctl(L"preset RapiMgr running").exitCode, 0u);
    EXPECT_EQ(StateOf(wcescomm.value), static_cast<DWORD>(SERVICE_RUNNING));

    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(wcescomm.value, SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(Reaches(wcescomm.value, SERVICE_STOPPED));
    EXPECT_EQ(Ctl(L"query WcesComm").output, "state=stopped start=auto\n");
    EXPECT_EQ(Ctl(L"query RapiMgr").output, "state=running start=auto\n");

    // Disabled after stopping, as the updater leaves it: a start is refused with 1058.
    ASSERT_TRUE(ChangeServiceConfigW(wcescomm.value, SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(StartServiceW(wcescomm.value, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DISABLED));
    ASSERT_TRUE(ChangeServiceConfigW(wcescomm.value, SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(StartServiceW(wcescomm.value, 0, nullptr));
    EXPECT_TRUE(Reaches(wcescomm.value, SERVICE_RUNNING));

    EXPECT_EQ(Ctl(L"preset RapiMgr stopped disabled").exitCode, 0u);
    EXPECT_EQ(Ctl(L"query RapiMgr").output, "state=stopped start=disabled\n");
}

TEST_F(Services, PendingAndRefusingServices)
{
    ServiceHandle slow = Install(L"WcesComm", L"--start auto --stop-delay-ms 4000");
    ServiceHandle stubborn = Install(L"RapiMgr", L"--start auto --refuse-stop");
    ASSERT_NE(slow.value, nullptr);
    ASSERT_NE(stubborn.value, nullptr);
    EXPECT_EQ(Ctl(L"preset WcesComm running").exitCode, 0u);
    EXPECT_EQ(Ctl(L"preset RapiMgr running").exitCode, 0u);

    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(slow.value, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(StateOf(slow.value), static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_EQ(Ctl(L"query WcesComm").output, "state=stop-pending start=auto\n");
    EXPECT_TRUE(Reaches(slow.value, SERVICE_STOPPED));

    EXPECT_FALSE(ControlService(stubborn.value, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(StateOf(stubborn.value), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_NE(Ctl(L"preset RapiMgr stopped").exitCode, 0u);

    // Preset into a pending state: the tool returns while the service is on its way.
    ASSERT_TRUE(StartServiceW(slow.value, 0, nullptr));
    ASSERT_TRUE(Reaches(slow.value, SERVICE_RUNNING));
    EXPECT_EQ(Ctl(L"preset WcesComm stop-pending").exitCode, 0u);
    EXPECT_EQ(StateOf(slow.value), static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_TRUE(Reaches(slow.value, SERVICE_STOPPED));
}

TEST_F(Services, ControlToolRefusesBadCommandLines)
{
    EXPECT_EQ(Ctl(L"preset").exitCode, 1u);
    ServiceHandle service = Install(L"WcesComm", L"");
    ASSERT_NE(service.value, nullptr);
    EXPECT_EQ(Ctl(L"preset WcesComm sideways").exitCode, 1u);
    EXPECT_EQ(Ctl(L"preset WcesComm running sometimes").exitCode, 1u);
    EXPECT_EQ(Ctl(L"query WcesComm").output, "state=stopped start=demand\n");
    EXPECT_EQ(Ctl(L"query NoSuchService").exitCode, 2u);
}

}  // namespace
}  // namespace flashwise::winetest
