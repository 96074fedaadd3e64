#include "update/ConnectionSetup.h"

#include <memory>
#include <vector>

#include "update/CDownloadAgent.h"

namespace flashwise::update {
namespace {

bool Attempt(CDownloadAgent& agent, const std::u16string& fileName, bool reportFailure) {
    return agent.SetDesktopLink(false, reportFailure) != 0 && agent.PrepareDownload(fileName);
}

}  // namespace

void RunConnectionThread(ConnectionThreadParameter& parameter) {
    UpdatePlatform& platform = *parameter.platform;
    Ticks& ticks = platform.ticks;
    const std::uint32_t start = ticks.Now();
    NamedEvent success = NamedEvent::Open(platform.events, kSetupSuccessEvent);
    NamedEvent failure = NamedEvent::Open(platform.events, kSetupFailEvent);

    bool connected = false;
    for (;;) {
        ticks.Sleep(kAttemptPauseMs);
        connected = Attempt(*parameter.agent, parameter.fileName, false);
        // Only between attempts: one under way is never cut short.
        if (connected || TicksSince(start, ticks.Now()) >= kSetupLimitMs) break;
    }
    if (!connected) connected = Attempt(*parameter.agent, parameter.fileName, true);

    (connected ? success : failure).Set();
}

bool SetupConnection(UpdatePlatform& platform, CDownloadAgent* agent, std::u16string_view fileName) {
    if (agent == nullptr) return false;
    const std::unique_ptr<WaitWindow> window = platform.windows.ShowSetupConnection();
    NamedEvent success = NamedEvent::Create(platform.events, kSetupSuccessEvent, true);
    NamedEvent failure = NamedEvent::Create(platform.events, kSetupFailEvent, true);
    if (!success.Valid() || !failure.Valid()) return false;

    auto parameter = std::make_shared<ConnectionThreadParameter>();
    parameter->platform = &platform;
    parameter->agent = agent;
    parameter->fileName = std::u16string(fileName);
    const std::unique_ptr<Worker> thread = StartWorker(platform.threads, parameter, &RunConnectionThread);
    if (!thread) return false;

    // The thread's end counts too: a thread that could not reach its events has failed,
    // and the wait must not outlive it.
    const std::vector<WaitHandle> outcomes{success.Handle(), failure.Handle(), thread->Handle()};
    const std::size_t first = WaitForFirstHandle(platform.waits, outcomes);
    // The thread only closes its handles after its signal; a second pass that follows
    // at once must not find this pass still running.
    if (first != 2) WaitForFirstHandle(platform.waits, {thread->Handle()});
    return first == 0;
}

}  // namespace flashwise::update
