// The version-fetch worker: what it reads from the phone's registry, which of the three
// signals it gives, what it hands back, and that it gives nothing once abandoned.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/VersionFetch.h"
#include "tests/support/app/FakeWizard.h"

namespace flashwise::test {
namespace {

using app::FetchSignal;
using Values = std::map<std::u16string, std::vector<std::uint8_t>>;

// A phone of the release's model and language, on Windows CE 5.2.
Values RightPhone() {
    return {{u"ID", PhoneString(u"Krov Q512")},
            {u"vROM", PhoneString(u"V1.22.333 FRA")},
            {u"vRadio", PhoneString(u"V4.5.6_2008-01-02")},
            {u"vExtROM", PhoneString(u"V1.22.333 FRA")}};
}

std::vector<std::uint8_t> Bytes(std::size_t size, char16_t fill) {
    return PhoneString(std::u16string(size / 2, fill), false);
}

struct FetchWorld : FakeWizard {
    FetchWorld() {
        fake.files.files["DeviceSpy.exe"] = FakeFiles::File{{'M', 'Z'}, true};
        fake.package.binaries[149] = {'M', 'Z'};  // what the written file is checked against
        fake.rapi.sysVersion = RightPhone();
        fake.rapi.version = update::RapiVersion{5, 2, 0, 3};
    }
    // The signal given, if any.
    std::optional<FetchSignal> Run(app::VersionFetch& fetch) {
        app::RunVersionFetch(fetch);
        const auto events = fetch.Events();
        const FetchSignal order[] = {FetchSignal::Done, FetchSignal::WrongDevice, FetchSignal::WrongLanguage};
        std::optional<FetchSignal> given;
        for (std::size_t i = 0; i < events.size(); ++i) {
            if (!static_cast<FakeWaitable*>(events[i])->signalled) continue;
            EXPECT_FALSE(given.has_value()) << "two signals";
            given = order[i];
        }
        return given;
    }
};

struct Row {
    const char* what;
    std::function<void(FetchWorld&)> arrange;
    std::optional<FetchSignal> signal;
    std::optional<std::u16string> rom;
    std::optional<std::u16string> radio;
    std::optional<std::uint32_t> newerOs;
};

TEST(VersionFetch, ChecksModelAndLanguageAndHandsBackWhatItRead) {
    const std::u16string rom = u"V1.22.333 FRA";
    const std::u16string radio = u"V4.5.6_2008-01-02";
    const auto set = [](std::u16string name, std::vector<std::uint8_t> bytes) {
        return [=](FetchWorld& w) { (*w.fake.rapi.sysVersion)[name] = bytes; };
    };
    const auto drop = [](std::u16string name) { return [=](FetchWorld& w) { w.fake.rapi.sysVersion->erase(name); }; };
    const auto os = [](std::uint32_t major, std::uint32_t minor) {
        return [=](FetchWorld& w) { w.fake.rapi.version = update::RapiVersion{major, minor, 0, 3}; };
    };
    std::u16string idThenJunk = u"Krov Q512";
    idThenJunk.push_back(0);
    idThenJunk += u"left over";
    const Row rows[] = {
        {"the right phone", [](FetchWorld&) {}, FetchSignal::Done, rom, radio, 1u},
        {"model in other letter case", set(u"ID", PhoneString(u"KROV q512")), FetchSignal::Done, rom, radio, 1u},
        {"another model: nothing read after it", set(u"ID", PhoneString(u"Krov Q999")), FetchSignal::WrongDevice,
         std::nullopt, std::nullopt, std::nullopt},
        {"model compared up to its first terminator", set(u"ID", PhoneString(idThenJunk)), FetchSignal::Done, rom,
         radio, 1u},
        {"model without terminator", set(u"ID", PhoneString(u"Krov Q512", false)), FetchSignal::Done, rom, radio,
         1u},
        {"no model value: no model check", drop(u"ID"), FetchSignal::Done, rom, radio, 1u},
        {"model value of 4,096 bytes: no model check", set(u"ID", Bytes(4096, u'K')), FetchSignal::Done, rom, radio,
         1u},
        {"model value of 4,094 bytes is checked", set(u"ID", Bytes(4094, u'K')), FetchSignal::WrongDevice,
         std::nullopt, std::nullopt, std::nullopt},
        {"model value there but unreadable: not taken for the right one",
         [](FetchWorld& w) { w.fake.rapi.unreadableValues.insert(u"ID"); }, FetchSignal::WrongDevice, std::nullopt,
         std::nullopt, std::nullopt},
        {"language in lower case", set(u"vExtROM", PhoneString(u"V1.22.333 fra")), FetchSignal::Done, rom, radio, 1u},
        {"another language: the versions come with the warning", set(u"vExtROM", PhoneString(u"V1.22.333 ENG")),
         FetchSignal::WrongLanguage, rom, radio, std::nullopt},
        {"extended-ROM version shorter than three: compared whole", set(u"vExtROM", PhoneString(u"RA")),
         FetchSignal::WrongLanguage, rom, radio, std::nullopt},
        {"extended-ROM version of exactly the code", set(u"vExtROM", PhoneString(u"Fra")), FetchSignal::Done, rom,
         radio, 1u},
        {"empty extended-ROM version passes", set(u"vExtROM", PhoneString(u"")), FetchSignal::Done, rom, radio, 1u},
        {"no extended-ROM version: no language check", drop(u"vExtROM"), FetchSignal::Done, rom, radio, 1u},
        {"no model and no extended-ROM version",
         [](FetchWorld& w) {
             w.fake.rapi.sysVersion->erase(u"ID");
             w.fake.rapi.sysVersion->erase(u"vExtROM");
         },
         FetchSignal::Done, rom, radio, 1u},
        {"a release without a language code refuses every tagged phone",
         [](FetchWorld& w) { w.system.language = u""; }, FetchSignal::WrongLanguage, rom, radio, std::nullopt},
        {"a short unterminated value after a long one keeps no tail of it",
         [](FetchWorld& w) {
             (*w.fake.rapi.sysVersion)[u"vROM"] = PhoneString(u"V1.22.333 FRA", false);
             (*w.fake.rapi.sysVersion)[u"vRadio"] = PhoneString(u"V9", false);
         },
         FetchSignal::Done, rom, std::u16string(u"V9"), 1u},
        {"ROM version of 4,094 bytes is read whole", set(u"vROM", Bytes(4094, u'7')), FetchSignal::Done,
         std::u16string(2047, u'7'), radio, 1u},
        {"ROM version of 4,096 bytes is skipped", set(u"vROM", Bytes(4096, u'7')), FetchSignal::Done, std::nullopt,
         radio, 1u},
        {"radio version unreadable is left alone", [](FetchWorld& w) { w.fake.rapi.unreadableValues.insert(u"vRadio"); },
         FetchSignal::Done, rom, std::nullopt, 1u},
        {"Windows CE 4.2 leaves the flag", os(4, 2), FetchSignal::Done, rom, radio, std::nullopt},
        {"Windows CE 5.0 leaves the flag", os(5, 0), FetchSignal::Done, rom, radio, std::nullopt},
        {"Windows CE 5.1 needs the boot-loader pass", os(5, 1), FetchSignal::Done, rom, radio, 0u},
        {"Windows CE 6.0 leaves the flag", os(6, 0), FetchSignal::Done, rom, radio, std::nullopt},
        {"a failed version query leaves the flag", [](FetchWorld& w) { w.fake.rapi.version.reset(); },
         FetchSignal::Done, rom, radio, std::nullopt},
        {"the helper cannot be copied: no signal", [](FetchWorld& w) { w.fake.files.files.clear(); }, std::nullopt,
         std::nullopt, std::nullopt, std::nullopt},
        {"no connection: no signal", [](FetchWorld& w) { w.fake.rapi.initResult = update::kRapiFail; }, std::nullopt,
         std::nullopt, std::nullopt, std::nullopt},
        {"no version key: no signal", [](FetchWorld& w) { w.fake.rapi.sysVersion.reset(); }, std::nullopt,
         std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Row& row : rows) {
        FetchWorld w;
        row.arrange(w);
        app::VersionFetch fetch(w.fake.platform, w.system.identity, w.system.language);

        EXPECT_EQ(w.Run(fetch), row.signal) << row.what;
        const app::PhoneVersions versions = fetch.Versions();
        EXPECT_EQ(versions.rom, row.rom) << row.what;
        EXPECT_EQ(versions.radio, row.radio) << row.what;
        EXPECT_EQ(versions.newerOs, row.newerOs) << row.what;
        // The helper had its second before the values were read; nothing is left open.
        if (row.signal) {
            EXPECT_EQ(w.fake.ticks.Now(), 1000u) << row.what;
        }
        EXPECT_EQ(w.fake.rapi.openKeys, 0) << row.what;
        EXPECT_EQ(w.fake.log.Count("rapi Init"), w.fake.log.Count("rapi Uninit")) << row.what;
    }
}

TEST(VersionFetch, AnAbandonedFetchHandsBackAndSignalsNothing) {
    FetchWorld w;
    (*w.fake.rapi.sysVersion)[u"ID"] = PhoneString(u"Krov Q999");
    app::VersionFetch fetch(w.fake.platform, w.system.identity, w.system.language);
    fetch.Abandon();
    EXPECT_EQ(w.Run(fetch), std::nullopt);
    EXPECT_EQ(fetch.Versions().rom, std::nullopt);
    EXPECT_EQ(w.fake.log.Count("event Set"), 0u);
}

TEST(VersionFetch, SignalsLeftByOthersAreClearedWhenTheEventsAreMade) {
    FetchWorld w;
    for (const char16_t* name : {app::kFetchDoneEvent, app::kWrongDeviceEvent, app::kWrongLanguageEvent}) {
        w.fake.events.SignalFromOutside(name);
    }
    app::VersionFetch fetch(w.fake.platform, w.system.identity, w.system.language);
    for (update::WaitHandle event : fetch.Events()) EXPECT_FALSE(static_cast<FakeWaitable*>(event)->signalled);
}

}  // namespace
}  // namespace flashwise::test
