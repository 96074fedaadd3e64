#include "helpers/wcestest/ConnectionSwitch.h"

#include <gtest/gtest.h>

#include <optional>

namespace flashwise::wcestest {
namespace {

class RecordingManager : public ConnectionManager {
public:
    explicit RecordingManager(Answer answer) : answer_(answer) {}
    Answer EnableTypes(std::uint32_t types) override
    {
        sent_ = types;
        return answer_;
    }
    std::optional<std::uint32_t> sent_;

private:
    Answer answer_;
};

SwitchOutcome RunWith(std::vector<std::string> args, RecordingManager& manager)
{
    return RunSwitch(args, "wcestest.exe", manager);
}

TEST(ConnectionSwitch, SendsTheSumOfTheEnabledTypes)
{
    struct Case { const char* arg; std::uint32_t types; };
    const Case cases[] = {
        {"/c:", 0}, {"-c:", 0}, {"/c:s", 2}, {"/c:n", 4}, {"/c:u", 8}, {"/c:su", 10},
        {"/c:SNU", 14}, {"-c:uNs", 14}, {"/c:ss", 2}, {"/c:sn", 6},
    };
    for (const Case& c : cases) {
        RecordingManager manager(ConnectionManager::Answer::Accepted);
        const SwitchOutcome outcome = RunWith({c.arg}, manager);
        EXPECT_EQ(outcome.exitCode, 0) << c.arg;
        EXPECT_EQ(outcome.consoleText, "") << c.arg;
        ASSERT_TRUE(manager.sent_.has_value()) << c.arg;
        EXPECT_EQ(*manager.sent_, c.types) << c.arg;
    }
}

TEST(ConnectionSwitch, ManagerFailuresEndWithCodeTwo)
{
    RecordingManager missing(ConnectionManager::Answer::NotFound);
    SwitchOutcome outcome = RunWith({"/c:su"}, missing);
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_EQ(outcome.consoleText, "Error - WcesComm.exe was not found.\n");

    RecordingManager refusing(ConnectionManager::Answer::Refused);
    outcome = RunWith({"/c:"}, refusing);
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_EQ(outcome.consoleText, "Error - WcesComm.exe not responding.\n");
    EXPECT_EQ(refusing.sent_, std::optional<std::uint32_t>(0));
}

TEST(ConnectionSwitch, CommandLineErrorsEndWithCodeOneAndSendNothing)
{
    struct Case { std::vector<std::string> args; const char* text; };
    const Case cases[] = {
        {{"/c:x"}, "Error: Bad /c option argument, only 's', 'n', 'u' supported.\n"},
        {{"/c:s1"}, "Error: Bad /c option argument, only 's', 'n', 'u' supported.\n"},
        {{"/c"}, "Error: Colon ':' does not follow /c option.\n"},
        {{"/csu"}, "Error: Colon ':' does not follow /c option.\n"},
        {{"/C:su"}, "Error: Unknown option.\n"},
        {{"/x"}, "Error: Unknown option.\n"},
        {{"/"}, "Error: Unknown option.\n"},
        {{"c:su"}, "Error: Invalid argument.\n"},
        {{""}, "Error: Invalid argument.\n"},
        // An error anywhere on the line wins over an earlier good option.
        {{"/c:su", "extra"}, "Error: Invalid argument.\n"},
    };
    for (const Case& c : cases) {
        RecordingManager manager(ConnectionManager::Answer::Accepted);
        const SwitchOutcome outcome = RunWith(c.args, manager);
        EXPECT_EQ(outcome.exitCode, 1) << c.args[0];
        EXPECT_EQ(outcome.consoleText, c.text) << c.args[0];
        EXPECT_FALSE(manager.sent_.has_value()) << c.args[0];
    }
}

TEST(ConnectionSwitch, UsageForNoArgumentQuestionMarkAndH)
{
    for (std::vector<std::string> args : {std::vector<std::string>{}, {"/?"}, {"-h"}, {"/c:s", "/h"}}) {
        RecordingManager manager(ConnectionManager::Answer::Accepted);
        const SwitchOutcome outcome = RunWith(args, manager);
        EXPECT_EQ(outcome.exitCode, 1);
        EXPECT_EQ(outcome.consoleText.rfind("Usage: wcestest.exe /c:[snu]\n", 0), 0u);
        EXPECT_FALSE(manager.sent_.has_value());
    }
    const std::string usage = UsageText("x.exe");
    for (const char* line : {"  /c - Enable communication types.", "'s' Enable serial communication.",
                             "'n' Enable network communication.", "'u' Enable usb communication.",
                             "(not providing 's', 'n', or 'u' will auto disable it.",
                             "/c:sn    Enable serial, network, disable usb.",
                             "/c:      Disable all connection types.",
                             "/c:u     Enable usb, disable network and serial."})
        EXPECT_NE(usage.find(line), std::string::npos) << line;
}

TEST(ConnectionSwitch, ProgramNameIsTheBaseName)
{
    EXPECT_EQ(ProgramName("C:\\work\\wcestest.exe"), "wcestest.exe");
    EXPECT_EQ(ProgramName("Z:/tmp/wcestest.exe"), "wcestest.exe");
    EXPECT_EQ(ProgramName("wcestest"), "wcestest");
    EXPECT_EQ(ProgramName(""), "wcestest.exe");
}

}  // namespace
}  // namespace flashwise::wcestest
