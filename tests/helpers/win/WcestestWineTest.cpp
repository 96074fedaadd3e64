// wcestest.exe against the stand-in connection manager window, under Wine.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tests/support/win/WineTestSupport.h"

namespace flashwise::winetest {
namespace {

constexpr DWORD kRunBoundMs = 20000;
constexpr DWORD kWindowBoundMs = 30000;

class StandInManager {
public:
    StandInManager(long answer, const std::wstring& log)
    {
        std::wstring line = L"\"" + GivenPath("SimDccMan") + L"\" --answer " + std::to_wstring(answer) +
                            L" --log \"" + log + L"\" --lifetime-ms 60000";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process_))
            return;
        for (DWORD waited = 0; waited < kWindowBoundMs && !window_; waited += 50) {
            window_ = FindWindowW(L"DccMan Class", nullptr);
            DWORD code = 0;
            if (!window_ && WaitForExit(process_.hProcess, 50, code)) {
                ADD_FAILURE() << "the stand-in ended with exit code " << code << " before showing its window";
                return;
            }
        }
    }

    ~StandInManager()
    {
        if (window_)
            PostMessageW(window_, WM_CLOSE, 0, 0);
        if (process_.hProcess) {
            DWORD code = 0;
            if (!WaitForExit(process_.hProcess, kWindowBoundMs, code))
                TerminateProcess(process_.hProcess, 1);
            CloseHandle(process_.hThread);
            CloseHandle(process_.hProcess);
        }
        // The next test must not find this window.
        for (DWORD waited = 0; waited < kWindowBoundMs && FindWindowW(L"DccMan Class", nullptr); waited += 50)
            Sleep(50);
    }

    bool Up() const { return window_ != nullptr; }

private:
    PROCESS_INFORMATION process_{};
    HWND window_ = nullptr;
};

class Wcestest : public testing::Test {
protected:
    void SetUp() override
    {
        log_ = CurrentFolder() + L"\\dccman-" + std::to_wstring(GetTickCount()) + L".log";
        DeleteFileW(log_.c_str());
    }
    void TearDown() override { DeleteFileW(log_.c_str()); }

    ProcessResult Run(const std::wstring& arguments)
    {
        return RunCaptured(L"\"" + GivenPath("wcestest") + L"\"" + arguments, kRunBoundMs);
    }

    std::wstring log_;
};

TEST_F(Wcestest, SendsTheEnabledTypesToTheConnectionManager)
{
    StandInManager manager(0, log_);
    ASSERT_TRUE(manager.Up());
    for (const wchar_t* arguments : {L" /c:", L" /c:su", L" -c:SNU"}) {
        const ProcessResult result = Run(arguments);
        ASSERT_TRUE(result.ended);
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(result.output, "");
    }
    EXPECT_EQ(ReadTextFile(log_), "0\n10\n14\n");
}

TEST_F(Wcestest, MissingOrRefusingManager)
{
    ASSERT_EQ(FindWindowW(L"DccMan Class", nullptr), nullptr);
    ProcessResult result = Run(L" /c:su");
    ASSERT_TRUE(result.ended);
    EXPECT_EQ(result.exitCode, 2u);
    EXPECT_EQ(result.output, "Error - WcesComm.exe was not found.\n");

    StandInManager manager(5, log_);
    ASSERT_TRUE(manager.Up());
    result = Run(L" /c:");
    ASSERT_TRUE(result.ended);
    EXPECT_EQ(result.exitCode, 2u);
    EXPECT_EQ(result.output, "Error - WcesComm.exe not responding.\n");
    EXPECT_EQ(ReadTextFile(log_), "0\n");
}

TEST_F(Wcestest, CommandLineErrorsAndUsageSendNothing)
{
    StandInManager manager(0, log_);
    ASSERT_TRUE(manager.Up());
    struct Case { const wchar_t* arguments; const char* text; };
    const Case cases[] = {
        {L" /c:sx", "Error: Bad /c option argument, only 's', 'n', 'u' supported.\n"},
        {L" /csu", "Error: Colon ':' does not follow /c option.\n"},
        {L" /q", "Error: Unknown option.\n"},
        {L" su", "Error: Invalid argument.\n"},
    };
    for (const Case& c : cases) {
        const ProcessResult result = Run(c.arguments);
        ASSERT_TRUE(result.ended);
        EXPECT_EQ(result.exitCode, 1u);
        EXPECT_EQ(result.output, c.text);
    }
    for (const wchar_t* arguments : {L"", L" /?", L" -h"}) {
        const ProcessResult result = Run(arguments);
        ASSERT_TRUE(result.ended);
        EXPECT_EQ(result.exitCode, 1u);
        EXPECT_EQ(result.output.rfind("Usage: wcestest.exe /c:[snu]\n", 0), 0u) << result.output;
    }
    EXPECT_EQ(ReadTextFile(log_), "");
}

}  // namespace
}  // namespace flashwise::winetest
