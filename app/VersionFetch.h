#pragma once
// The version-fetch worker: starts the information helper on the phone, reads the
// phone's model, versions and language from its registry and its system version, and
// reports to the update page through one of three named events.
//
// The worker hands what it read to its page through the shared VersionFetch and never
// touches the page itself: the page writes the labels and the agent's newer-OS flag
// when it takes the signal. The events' names are seen by every process, so the page
// believes a signal only together with what the worker handed over. Once the page has
// stopped waiting (it timed out, went back or quit), the worker may still run to its
// end, blocked as long as the phone makes it, but it then writes nothing and signals
// nothing; only what it learnt of the phone's system still counts, until the update
// starts.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "update/NamedEvents.h"
#include "update/UpdatePlatform.h"
#include "update/WorkerParameterBlock.h"

namespace flashwise::app {

constexpr char16_t kFetchDoneEvent[] = u"GetVersionThread";
constexpr char16_t kWrongDeviceEvent[] = u"WrongDevice";
constexpr char16_t kWrongLanguageEvent[] = u"WrongLanguage";
constexpr std::uint32_t kHelperStartPauseMs = 1000;
// A registry value is used only when it is shorter than this, and read into as much.
constexpr std::uint32_t kValueBufferBytes = 4096;
constexpr char16_t kVersionKey[] = u"KROV\\SYSVERSION";

// What the worker read, handed over with its signal.
struct PhoneVersions {
    std::optional<std::u16string> rom;    // vROM, when it was read
    std::optional<std::u16string> radio;  // vRadio, when it was read
    std::optional<std::uint32_t> newerOs;  // when the phone's system version decided it
};

enum class FetchSignal { Done, WrongDevice, WrongLanguage };

// The worker's parameter block and its way back. Shared by the page and the worker, so
// it lives until both have let go.
class VersionFetch {
public:
    // Makes the three events (reset, so that no stale signal counts).
    VersionFetch(update::UpdatePlatform& platform, std::u16string modelIdentity, std::u16string languageCode);

    bool Valid() const;
    // In the order "GetVersionThread", "WrongDevice", "WrongLanguage".
    std::vector<update::WaitHandle> Events() const;

    // The page has stopped waiting: from now on the worker delivers nothing.
    void Abandon();
    // The same, at once with what the worker handed over before it (if anything).
    std::optional<FetchSignal> Settle();
    // What the worker handed over, whoever took or gave the event's signal.
    std::optional<FetchSignal> Delivered() const;
    // What came with the signal.
    PhoneVersions Versions() const;
    // The newer-OS flag of the phone as the worker found it, even when it came after
    // the page stopped waiting; nothing counts after this call (the update starts).
    std::optional<std::uint32_t> SealNewerOs();

    // The worker's side: the versions and the signal, unless the page has gone.
    void Deliver(FetchSignal signal, const PhoneVersions& versions);

    update::UpdatePlatform& platform;
    const std::u16string modelIdentity;
    const std::u16string languageCode;
    // The events of the block; the labels and the agent stay with the page.
    update::WorkerParameterBlock block;

private:
    update::NamedEvent done_;
    update::NamedEvent wrongDevice_;
    update::NamedEvent wrongLanguage_;
    mutable std::mutex lock_;
    bool abandoned_ = false;
    bool sealed_ = false;
    std::optional<FetchSignal> delivered_;
    std::optional<std::uint32_t> newerOs_;
    PhoneVersions versions_;
};

// The worker's body.
void RunVersionFetch(VersionFetch& fetch);

// Case folded letter by letter, A to Z only, as the phone's texts are plain ASCII.
bool SameIgnoringCase(std::u16string_view a, std::u16string_view b);

}  // namespace flashwise::app
