#include "app/VersionFetch.h"

#include <algorithm>

#include "update/HelperDeployment.h"
#include "update/RapiConnection.h"

namespace flashwise::app {

using update::NamedEvent;
using update::RapiApi;
using update::RapiKey;

VersionFetch::VersionFetch(update::UpdatePlatform& p, std::u16string identity, std::u16string language)
    : platform(p),
      modelIdentity(std::move(identity)),
      languageCode(std::move(language)),
      done_(NamedEvent::Create(p.events, kFetchDoneEvent, false)),
      wrongDevice_(NamedEvent::Create(p.events, kWrongDeviceEvent, false)),
      wrongLanguage_(NamedEvent::Create(p.events, kWrongLanguageEvent, false)) {
    block.doneEvent = done_.Handle();
    block.failureEvent = wrongDevice_.Handle();
    block.thirdEvent = wrongLanguage_.Handle();
}

bool VersionFetch::Valid() const { return done_.Valid() && wrongDevice_.Valid() && wrongLanguage_.Valid(); }

std::vector<update::WaitHandle> VersionFetch::Events() const {
    return {block.doneEvent, block.failureEvent, block.thirdEvent};
}

void VersionFetch::Abandon() {
    std::lock_guard<std::mutex> hold(lock_);
    abandoned_ = true;
}

std::optional<FetchSignal> VersionFetch::Settle() {
    std::lock_guard<std::mutex> hold(lock_);
    abandoned_ = true;
    return delivered_;
}

std::optional<FetchSignal> VersionFetch::Delivered() const {
    std::lock_guard<std::mutex> hold(lock_);
    return delivered_;
}

std::optional<std::uint32_t> VersionFetch::SealNewerOs() {
    std::lock_guard<std::mutex> hold(lock_);
    sealed_ = true;
    return newerOs_;
}

PhoneVersions VersionFetch::Versions() const {
    std::lock_guard<std::mutex> hold(lock_);
    return versions_;
}

void VersionFetch::Deliver(FetchSignal signal, const PhoneVersions& versions) {
    std::lock_guard<std::mutex> hold(lock_);
    // A phone of the older system needs its boot-loader pass however late that is known.
    if (!sealed_ && versions.newerOs) newerOs_ = versions.newerOs;
    if (abandoned_) return;
    delivered_ = signal;
    versions_ = versions;
    switch (signal) {
    case FetchSignal::Done: done_.Set(); break;
    case FetchSignal::WrongDevice: wrongDevice_.Set(); break;
    case FetchSignal::WrongLanguage: wrongLanguage_.Set(); break;
    }
}

bool SameIgnoringCase(std::u16string_view a, std::u16string_view b) {
    const auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char16_t x, char16_t y) { return fold(x) == fold(y); });
}

namespace {

struct Value {
    bool usable = false;  // present and shorter than the buffer
    bool read = false;    // its data came (all of it, or the buffer's worth)
    std::u16string text;  // up to its first terminator, never beyond what was returned
};

Value ReadValue(RapiApi& rapi, RapiKey key, std::u16string_view name) {
    Value value;
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    if (rapi.QueryPhoneValue(key, name, &type, nullptr, &size) != update::kRapiErrorSuccess ||
        size >= kValueBufferBytes) {
        return value;
    }
    value.usable = true;
    std::vector<std::uint8_t> buffer(kValueBufferBytes, 0);
    std::uint32_t returned = kValueBufferBytes;
    const std::int32_t result = rapi.QueryPhoneValue(key, name, &type, buffer.data(), &returned);
    if (result != update::kRapiErrorSuccess && result != update::kRapiErrorMoreData) return value;
    value.read = true;
    // Only the bytes this read returned count: a value without a terminator ends there.
    const std::size_t characters = std::min(returned, kValueBufferBytes) / 2;
    for (std::size_t i = 0; i < characters; ++i) {
        const auto c = static_cast<char16_t>(buffer[2 * i] | (buffer[2 * i + 1] << 8));
        if (c == 0) break;
        value.text.push_back(c);
    }
    return value;
}

// The last three characters carry the phone's language (all of it when shorter).
std::u16string_view LanguagePart(std::u16string_view extRom) {
    return extRom.size() > 3 ? extRom.substr(extRom.size() - 3) : extRom;
}

std::optional<std::uint32_t> NewerOsOf(RapiApi& rapi) {
    update::RapiVersion version{};
    if (!rapi.GetVersion(&version) || version.major != 5) return std::nullopt;
    if (version.minor == 1) return 0u;
    if (version.minor >= 2) return 1u;
    return std::nullopt;
}

}  // namespace

void RunVersionFetch(VersionFetch& fetch) {
    update::UpdatePlatform& platform = fetch.platform;
    RapiApi& rapi = platform.rapi;
    if (!update::DeployHelper(platform, update::PhoneHelper::DeviceSpy)) return;
    // The helper writes the values within this second.
    platform.ticks.Sleep(kHelperStartPauseMs);

    update::RapiConnection connection = update::RapiConnection::Blocking(rapi);
    if (!connection.Started()) return;
    RapiKey key = nullptr;
    if (rapi.OpenPhoneKey(update::RapiLocalMachine(), kVersionKey, &key) != update::kRapiErrorSuccess) return;

    PhoneVersions versions;
    const auto finish = [&](FetchSignal signal) {
        rapi.ClosePhoneKey(key);
        connection.End();
        fetch.Deliver(signal, versions);
    };

    // A model value that exists but cannot be read compares as empty: no phone of
    // unknown model passes as the right one.
    const Value id = ReadValue(rapi, key, u"ID");
    if (id.usable && !SameIgnoringCase(id.text, fetch.modelIdentity)) return finish(FetchSignal::WrongDevice);

    const Value rom = ReadValue(rapi, key, u"vROM");
    if (rom.read) versions.rom = rom.text;
    const Value radio = ReadValue(rapi, key, u"vRadio");
    if (radio.read) versions.radio = radio.text;

    const Value extRom = ReadValue(rapi, key, u"vExtROM");
    if (extRom.read) {
        const std::u16string_view language = LanguagePart(extRom.text);
        if (!language.empty() && !SameIgnoringCase(language, fetch.languageCode)) {
            return finish(FetchSignal::WrongLanguage);
        }
    }
    rapi.ClosePhoneKey(key);
    versions.newerOs = NewerOsOf(rapi);
    connection.End();
    fetch.Deliver(FetchSignal::Done, versions);
}

}  // namespace flashwise::app
