#pragma once
// The wait for the phone's boot-loader link before each download pass. A small topmost
// window says so while the connection thread releases the desktop synchronisation link
// and tries, once a second for a minute and then once more with messages, to open the
// image file and the link. The user interface keeps painting meanwhile.

#include <cstdint>
#include <string>
#include <string_view>

#include "update/UpdatePlatform.h"

namespace flashwise::update {

class CDownloadAgent;

constexpr char16_t kSetupSuccessEvent[] = u"SetupConnectionSuccess";
constexpr char16_t kSetupFailEvent[] = u"SetupConnectionFail";
constexpr std::uint32_t kAttemptPauseMs = 1000;
constexpr std::uint32_t kSetupLimitMs = 60000;

// What the connection thread works with. Shared between SetupConnection and the
// thread, so it lives as long as either needs it.
struct ConnectionThreadParameter {
    UpdatePlatform* platform = nullptr;
    CDownloadAgent* agent = nullptr;
    std::u16string fileName;
};

// True when the agent holds an open image file and an open boot-loader link. Returns
// only once the connection thread has ended; a null agent yields false at once.
bool SetupConnection(UpdatePlatform& platform, CDownloadAgent* agent, std::u16string_view fileName);

// The connection thread's body: signals one of the two events, then ends.
void RunConnectionThread(ConnectionThreadParameter& parameter);

}  // namespace flashwise::update
