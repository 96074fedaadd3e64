// The desktop helper's command line: its parse, its texts and its exit code, with a
// connection manager whose answer the first input byte picks. The rest is the
// command line as the C runtime hands it over: the program's path, then the
// arguments, separated by NUL bytes.

#include <string>
#include <vector>

#include "helpers/wcestest/ConnectionSwitch.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using namespace flashwise::wcestest;

class ScriptedManager : public ConnectionManager {
public:
    explicit ScriptedManager(Answer answer) : answer_(answer) {}
    Answer EnableTypes(std::uint32_t types) override {
        ++calls;
        lastTypes = types;
        return answer_;
    }
    int calls = 0;
    std::uint32_t lastTypes = 0;

private:
    Answer answer_;
};

bool StartsWith(const std::string& text, const std::string& start) { return text.compare(0, start.size(), start) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    flashwise::fuzz::InputReader in(data, size);
    const auto answer = static_cast<ConnectionManager::Answer>(in.Byte() % 3);
    std::vector<std::string> fields;
    {
        const std::string all(reinterpret_cast<const char*>(in.Rest()), in.Left());
        std::size_t from = 0;
        for (;;) {
            const std::size_t nul = all.find('\0', from);
            fields.push_back(all.substr(from, nul == std::string::npos ? std::string::npos : nul - from));
            if (nul == std::string::npos) break;
            from = nul + 1;
        }
    }

    const std::vector<std::string> args(fields.begin() + 1, fields.end());
    const std::string program = ProgramName(fields.front());
    FUZZ_CHECK(!program.empty() && program.find_first_of("\\/:") == std::string::npos);

    ScriptedManager manager(answer);
    const SwitchOutcome outcome = RunSwitch(args, program, manager);
    const SwitchRequest request = ParseArguments(args);
    switch (outcome.exitCode) {
        case 0:
            // Switched: the manager took the types, nothing was printed.
            FUZZ_CHECK(request.kind == SwitchRequest::Kind::Switch && manager.calls == 1);
            FUZZ_CHECK(answer == ConnectionManager::Answer::Accepted && outcome.consoleText.empty());
            FUZZ_CHECK((manager.lastTypes & ~(kSerial | kNetwork | kUsb)) == 0);
            break;
        case 1:
            // A command line that says nothing to do: the manager is never asked.
            FUZZ_CHECK(request.kind != SwitchRequest::Kind::Switch && manager.calls == 0);
            FUZZ_CHECK(StartsWith(outcome.consoleText, "Usage: " + program) ||
                       StartsWith(outcome.consoleText, "Error: "));
            break;
        case 2:
            FUZZ_CHECK(manager.calls == 1 && answer != ConnectionManager::Answer::Accepted);
            FUZZ_CHECK(StartsWith(outcome.consoleText, "Error - WcesComm.exe "));
            break;
        default:
            FUZZ_CHECK(!"an exit code other than 0, 1 and 2");
    }
    return 0;
}
