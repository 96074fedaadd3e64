// The files of the working folder and the helpers copied to the phone: every outcome of
// each operation, the copy's pieces, and a Remote API connection ended on every path.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "res/ResourceIds.h"
#include "tests/support/update/FakeUpdatePlatform.h"
#include "update/CDownloadAgent.h"
#include "update/HelperDeployment.h"
#include "update/PrivateFolder.h"

namespace flashwise::test {
namespace {

constexpr std::uint32_t kNotEnoughMemory = 8;
constexpr std::uint32_t kDiskFull = 112;
const std::vector<std::string> kHelpers{"SysReboot.exe", "DeviceSpy.exe", "DeviceMode.exe", "wcestest.exe"};
const std::vector<std::string> kPhoneHelpers{"SysReboot.exe", "DeviceSpy.exe", "DeviceMode.exe"};

// The phone-side helpers in the working folder and, the same bytes, in the package.
void PlaceHelpers(FakeUpdatePlatform& fake, const std::vector<std::uint8_t>& bytes) {
    for (const std::string& name : kPhoneHelpers) fake.files.files[name].bytes = bytes;
    for (const unsigned id : {IDBIN_SYSREBOOT, IDBIN_DEVICESPY, IDBIN_DEVICEMODE}) fake.package.binaries[id] = bytes;
}

std::vector<std::uint8_t> Bytes(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
    return bytes;
}

void FillPackage(FakeUpdatePlatform& fake) {
    for (const unsigned id : {IDBIN_SYSREBOOT, IDBIN_DEVICESPY, IDBIN_DEVICEMODE, IDBIN_WCESTEST, IDBIN_FIRMWARE_IMAGE,
                              IDBIN_BOOT_LOADER_IMAGE}) {
        fake.package.binaries[id] = Bytes(100 + id, id);
    }
    fake.package.texts[IDS_IMAGE_FILE_NAME] = u"Tarn_G4.abi";
    fake.package.texts[IDS_BOOT_LOADER_IMAGE_FILE_NAME] = u"Tarn_G4_SPBL.abi";
}

std::vector<std::string> FileNames(const FakeFiles& files) {
    std::vector<std::string> names;
    for (const auto& entry : files.files) names.push_back(entry.first);
    return names;
}

TEST(ExtractHelperFiles, WritesThePhoneHelpersHiddenOrStopsAtTheFirstFailure) {
    struct Row {
        const char* what;
        std::function<void(FakeUpdatePlatform&)> arrange;
        bool result;
        std::vector<std::string> present;
    };
    const Row rows[] = {
        {"all three", [](FakeUpdatePlatform&) {}, true, kPhoneHelpers},
        {"DeviceMode missing from the package",
         [](FakeUpdatePlatform& f) { f.package.binaries.erase(IDBIN_DEVICEMODE); }, false,
         {"DeviceSpy.exe", "SysReboot.exe"}},
        {"DeviceSpy cannot be created",
         [](FakeUpdatePlatform& f) { f.files.createErrors["DeviceSpy.exe"] = 5; }, false, {"SysReboot.exe"}},
        {"DeviceSpy's write fails", [](FakeUpdatePlatform& f) { f.files.writeErrors["DeviceSpy.exe"] = kDiskFull; },
         false, {"DeviceSpy.exe", "SysReboot.exe"}},
        {"DeviceSpy written short", [](FakeUpdatePlatform& f) { f.files.shortWrites.insert("DeviceSpy.exe"); },
         false, {"DeviceSpy.exe", "SysReboot.exe"}},
    };
    for (const Row& row : rows) {
        FakeUpdatePlatform fake;
        FillPackage(fake);
        row.arrange(fake);
        EXPECT_EQ(ExtractHelperFiles(fake.platform), row.result) << row.what;
        std::vector<std::string> expected = row.present;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(FileNames(fake.files), expected) << row.what;
        EXPECT_EQ(fake.files.openFiles, 0) << row.what;
        EXPECT_TRUE(fake.log.Matching("message").empty()) << row.what;
    }

    // A second run replaces the files, hidden and whole: each is deleted, then made new.
    FakeUpdatePlatform fake;
    FillPackage(fake);
    ASSERT_TRUE(ExtractHelperFiles(fake.platform));
    fake.package.binaries[IDBIN_DEVICESPY] = Bytes(3, 9);
    ASSERT_TRUE(ExtractHelperFiles(fake.platform));
    EXPECT_EQ(fake.files.files["DeviceSpy.exe"].bytes, Bytes(3, 9));
    EXPECT_TRUE(fake.files.files["DeviceSpy.exe"].hidden);
    EXPECT_EQ(fake.log.Matching("file Create").front(), "file Create SysReboot.exe");
    // A file that cannot be deleted (someone else's) is never written into.
    fake.files.createErrors["DeviceSpy.exe"] = 80;
    EXPECT_FALSE(ExtractHelperFiles(fake.platform));
}

TEST(ExtractImageFiles, TheMessageFollowsTheErrorOfTheFailedWrite) {
    struct Row {
        const char* what;
        std::function<void(FakeUpdatePlatform&)> arrange;
        bool result;
        std::vector<std::string> messages;
    };
    const Row rows[] = {
        {"both written", [](FakeUpdatePlatform&) {}, true, {}},
        {"out of memory", [](FakeUpdatePlatform& f) { f.files.writeErrors["Tarn_G4.abi"] = kNotEnoughMemory; }, false,
         {"message 35 owned"}},
        {"disk full", [](FakeUpdatePlatform& f) { f.files.writeErrors["Tarn_G4_SPBL.abi"] = kDiskFull; }, false,
         {"message 36 owned"}},
        {"short write", [](FakeUpdatePlatform& f) { f.files.shortWrites.insert("Tarn_G4.abi"); }, false,
         {"message 36 owned"}},
        {"cannot be created", [](FakeUpdatePlatform& f) { f.files.createErrors["Tarn_G4.abi"] = 5; }, false,
         {"message 36 owned"}},
        {"no file name", [](FakeUpdatePlatform& f) { f.package.texts.erase(IDS_IMAGE_FILE_NAME); }, false, {}},
        {"a name with a folder",
         [](FakeUpdatePlatform& f) { f.package.texts[IDS_BOOT_LOADER_IMAGE_FILE_NAME] = u"..\\Tarn_G4_SPBL.abi"; },
         false, {}},
        {"a device name", [](FakeUpdatePlatform& f) { f.package.texts[IDS_IMAGE_FILE_NAME] = u"CON"; }, false, {}},
        {"image missing from the package",
         [](FakeUpdatePlatform& f) { f.package.binaries.erase(IDBIN_FIRMWARE_IMAGE); }, false, {}},
    };
    int page = 0;
    for (const Row& row : rows) {
        FakeUpdatePlatform fake;
        FillPackage(fake);
        row.arrange(fake);
        HeldFiles held(fake.files);
        EXPECT_EQ(ExtractImageFiles(fake.platform, &page, held), row.result) << row.what;
        EXPECT_EQ(fake.log.Matching("message"), row.messages) << row.what;
        // Both stay open from their write to their last use; a failed one is let go.
        if (row.result) EXPECT_EQ(fake.files.openFiles, 2) << row.what;
        if (fake.package.texts[IDS_IMAGE_FILE_NAME] == u"CON" ||
            fake.package.texts[IDS_BOOT_LOADER_IMAGE_FILE_NAME].find(u'\\') != std::u16string::npos) {
            EXPECT_TRUE(fake.files.files.empty()) << row.what;  // nothing written anywhere
        }
        held.Release();
        EXPECT_EQ(fake.files.openFiles, 0) << row.what;
    }
}

// ---- DeployHelper

struct DeployRow {
    const char* what;
    PhoneHelper helper;
    std::function<void(FakeUpdatePlatform&)> arrange;
    bool result;
    bool touchesRapi;
    bool started;
};

TEST(DeployHelper, EveryOutcomeEndsTheConnectionAndClosesEveryFile) {
    const auto none = [](FakeUpdatePlatform&) {};
    const DeployRow rows[] = {
        {"DeviceMode deployed", PhoneHelper::DeviceMode, none, true, true, true},
        {"SysReboot deployed", PhoneHelper::SysReboot, none, true, true, true},
        {"DeviceSpy deployed", PhoneHelper::DeviceSpy, none, true, true, true},
        {"local file missing", PhoneHelper::DeviceMode, [](FakeUpdatePlatform& f) { f.files.files.clear(); }, false,
         false, false},
        {"not in the package", PhoneHelper::DeviceMode, [](FakeUpdatePlatform& f) { f.package.binaries.clear(); },
         false, false, false},
        {"local file changed after its write", PhoneHelper::DeviceMode,
         [](FakeUpdatePlatform& f) { f.files.files["DeviceMode.exe"].bytes[9000] ^= 1; }, false, true, false},
        {"local file grown after its write", PhoneHelper::SysReboot,
         [](FakeUpdatePlatform& f) { f.files.files["SysReboot.exe"].bytes.push_back(0); }, false, true, false},
        {"request refused", PhoneHelper::DeviceMode, [](FakeUpdatePlatform& f) { f.rapi.initExCall = 0x80004005; },
         false, true, false},
        {"no connection within 3000 ms", PhoneHelper::DeviceMode,
         [](FakeUpdatePlatform& f) { f.rapi.initExWait = WaitOutcome::TimedOut; }, false, true, false},
        {"connection attempt failed", PhoneHelper::SysReboot,
         [](FakeUpdatePlatform& f) { f.rapi.initExRecord = 0x80004005; }, false, true, false},
        {"blocking connection fails", PhoneHelper::DeviceSpy,
         [](FakeUpdatePlatform& f) { f.rapi.initResult = 0x80004005; }, false, true, false},
        {"phone file not created", PhoneHelper::DeviceMode,
         [](FakeUpdatePlatform& f) { f.rapi.createFileFails = true; }, false, true, false},
        {"second piece refused", PhoneHelper::DeviceMode, [](FakeUpdatePlatform& f) { f.rapi.failWriteAt = 1; }, false,
         true, false},
        {"short write on the phone", PhoneHelper::SysReboot, [](FakeUpdatePlatform& f) { f.rapi.shortWriteAt = 0; },
         false, true, false},
        {"local read fails", PhoneHelper::DeviceSpy, [](FakeUpdatePlatform& f) { f.files.readFails = true; }, false,
         true, false},
        {"process not started", PhoneHelper::DeviceSpy,
         [](FakeUpdatePlatform& f) { f.rapi.createProcessFails = true; }, false, true, true},
        {"uninit fails", PhoneHelper::DeviceMode, [](FakeUpdatePlatform& f) { f.rapi.uninitResult = 0x80004005; },
         false, true, true},
    };
    for (const DeployRow& row : rows) {
        FakeUpdatePlatform fake;
        PlaceHelpers(fake, Bytes(10000, 3));
        row.arrange(fake);

        EXPECT_EQ(DeployHelper(fake.platform, row.helper), row.result) << row.what;

        // "rapi Init" and "rapi InitEx" alike.
        const std::size_t connects = fake.log.Count("rapi Init");
        EXPECT_EQ(connects, row.touchesRapi ? 1u : 0u) << row.what;
        EXPECT_EQ(fake.log.Count("rapi Uninit"), connects) << row.what;
        EXPECT_EQ(fake.rapi.liveRequests, 0) << row.what;
        EXPECT_EQ(fake.rapi.openHandles, 0) << row.what;
        EXPECT_EQ(fake.files.openFiles, 0) << row.what;
        EXPECT_EQ(fake.log.Count("rapi CreateProcess"), row.started ? 1u : 0u) << row.what;
        // The record outlives the uninit.
        const auto lines = fake.log.Lines();
        const auto uninit = std::find(lines.begin(), lines.end(), "rapi Uninit");
        const auto released = std::find(lines.begin(), lines.end(), "rapi request released");
        if (released != lines.end()) {
            EXPECT_LT(uninit, released) << row.what;
        }
    }
}

TEST(DeployHelper, NamesAndWaitsOfEachHelper) {
    struct Row {
        PhoneHelper helper;
        std::vector<std::string> calls;
    };
    const Row rows[] = {
        {PhoneHelper::DeviceSpy,
         {"rapi Init", "rapi CreateFile \\windows\\DeviceSpy.exe", "rapi SetEndOfFile", "rapi CloseHandle file",
          "rapi CreateProcess DeviceSpy", "rapi CloseHandle process", "rapi CloseHandle thread", "rapi Uninit"}},
        {PhoneHelper::DeviceMode,
         {"rapi InitEx", "rapi wait 3000", "rapi CreateFile \\windows\\DeviceMode.exe", "rapi SetEndOfFile",
          "rapi CloseHandle file", "rapi CreateProcess DeviceMode", "rapi CloseHandle process",
          "rapi CloseHandle thread", "rapi Uninit", "rapi request released"}},
    };
    for (const Row& row : rows) {
        FakeUpdatePlatform fake;
        PlaceHelpers(fake, Bytes(10, 1));
        ASSERT_TRUE(DeployHelper(fake.platform, row.helper));
        EXPECT_EQ(fake.log.Matching("rapi"), row.calls);
    }
}

TEST(DeployHelper, CopiesInPiecesWithAFinalEmptyWrite) {
    struct Row {
        std::size_t size;
        std::vector<std::uint32_t> writes;
    };
    const Row rows[] = {
        {0, {0}},
        {1, {1, 0}},
        {8191, {8191, 0}},
        {8192, {8192, 0}},
        {8193, {8192, 1, 0}},
        {3 * 8192, {8192, 8192, 8192, 0}},
    };
    for (const Row& row : rows) {
        FakeUpdatePlatform fake;
        PlaceHelpers(fake, Bytes(row.size, 5));
        ASSERT_TRUE(DeployHelper(fake.platform, PhoneHelper::SysReboot)) << row.size;
        EXPECT_EQ(fake.rapi.writeSizes, row.writes) << row.size;
        EXPECT_EQ(fake.rapi.phoneFiles[u"\\windows\\SysReboot.exe"], Bytes(row.size, 5)) << row.size;
    }
}

// ---- removal

TEST(HelperRemoval, DeletionsInOrderAndTheCleanUpAfterAFailure) {
    FakeUpdatePlatform fake;
    FillPackage(fake);
    DeleteHelperFiles(fake.platform);
    EXPECT_EQ(fake.log.Lines(),
              (std::vector<std::string>{"file Delete SysReboot.exe", "file Delete DeviceSpy.exe",
                                        "file Delete DeviceMode.exe", "file Delete wcestest.exe"}));

    fake.log.Clear();
    ASSERT_TRUE(ExtractHelperFiles(fake.platform));
    {
        HeldFiles held(fake.files);
        ASSERT_TRUE(ExtractImageFiles(fake.platform, nullptr, held));
    }
    fake.files.files.erase("DeviceMode.exe");  // already gone: no harm
    fake.log.Clear();
    {
        CDownloadAgent agent(fake.platform);
        CleanUpAfterFailure(fake.platform, agent);
        EXPECT_EQ(fake.ticks.Now(), 1000u);
    }
    EXPECT_EQ(fake.log.Lines(),
              (std::vector<std::string>{"file Delete wcestest.exe", "file Create wcestest.exe",
                                        "file Close wcestest.exe", "shell run wcestest.exe /c:su",
                                        "file Close wcestest.exe", "file Delete wcestest.exe", "record removed",
                                        "file Delete SysReboot.exe",
                                        "file Delete DeviceSpy.exe", "file Delete DeviceMode.exe",
                                        "file Delete wcestest.exe", "file Delete Tarn_G4.abi",
                                        "file Delete Tarn_G4_SPBL.abi", "file Delete ExtRom.tmp",
                                        "rapi Uninit"}));
    EXPECT_TRUE(fake.files.files.empty());
}

TEST(HelperRemoval, CancelOnTheUpdatePage) {
    for (const bool yes : {false, true}) {
        FakeUpdatePlatform fake;
        FillPackage(fake);
        ASSERT_TRUE(ExtractHelperFiles(fake.platform));
        fake.files.files.erase("DeviceSpy.exe");
        fake.messages.answerYes = yes;
        fake.log.Clear();
        int page = 0;
        EXPECT_EQ(CancelUpdatePage(fake.platform, &page, [&] { fake.log.Add("page ended 2"); },
                                   [&] { fake.log.Add("page closed"); }),
                  yes);
        if (!yes) {
            EXPECT_EQ(fake.log.Lines(), std::vector<std::string>{"confirm 2 owned"});
            EXPECT_EQ(fake.files.files.size(), 2u);
            continue;
        }
        EXPECT_EQ(fake.log.Lines(),
                  (std::vector<std::string>{"confirm 2 owned", "page ended 2", "file Delete SysReboot.exe",
                                            "file Delete DeviceMode.exe", "page closed"}));
        EXPECT_EQ(fake.ticks.Now(), 20u);
        EXPECT_TRUE(fake.files.files.empty());
    }
}


// ---- the private work folder

class FakeFolders : public PrivateFolders {
public:
    std::vector<Made> outcomes;  // one per try, then Created
    std::vector<std::string> calls;
    std::filesystem::path Base() override { return "/base"; }
    std::uint32_t RandomToken() override { return 0x0A0B0C00u + static_cast<std::uint32_t>(calls.size()); }
    Made Create(const std::filesystem::path& folder) override {
        calls.push_back("create " + folder.generic_string());
        const std::size_t tries = calls.size();
        return tries <= outcomes.size() ? outcomes[tries - 1] : Made::Created;
    }
    void Remove(const std::filesystem::path& folder) override { calls.push_back("remove " + folder.generic_string()); }
};

TEST(PrivateWorkFolder, ANewNameEachTryThenRemovedOnTheWayOut) {
    using Made = PrivateFolders::Made;
    FakeFolders folders;
    folders.outcomes = {Made::Exists, Made::Exists};
    {
        PrivateWorkFolder work(folders);
        ASSERT_TRUE(work.Make());
        EXPECT_EQ(work.Folder()->File("Tarn_G4.abi").generic_string(), "/base/Flashwise-0A0B0C02/Tarn_G4.abi");
        // A name that would leave the folder leads nowhere.
        for (const char16_t* name : {u"..\\Tarn_G4.abi", u"C:Tarn_G4.abi", u"sub/Tarn_G4.abi", u"..", u"Tarn_G4.abi.",
                                     u"Tarn_G4.abi ", u"NUL.abi", u"com1", u"LPT9.txt", u"CONOUT$", u"", u"a\tb"}) {
            EXPECT_TRUE(work.Folder()->File(std::u16string_view(name)).empty()) << Narrow(name);
        }
        EXPECT_FALSE(work.Folder()->File(u"[CHT] Tarn_G4.abi").empty());
        EXPECT_FALSE(work.Folder()->File(u"COM10.abi").empty());
    }
    EXPECT_EQ(folders.calls, (std::vector<std::string>{"create /base/Flashwise-0A0B0C00", "create /base/Flashwise-0A0B0C01",
                                                       "create /base/Flashwise-0A0B0C02",
                                                       "remove /base/Flashwise-0A0B0C02"}));

    // Every name taken, or the system refusing: no folder, nothing removed that is not ours.
    for (const std::vector<Made>& outcomes :
         {std::vector<Made>(kPrivateFolderTries + 1, Made::Exists), std::vector<Made>{Made::Exists, Made::Failed}}) {
        FakeFolders refusing;
        refusing.outcomes = outcomes;
        {
            PrivateWorkFolder work(refusing);
            EXPECT_FALSE(work.Make());
            EXPECT_FALSE(work.Folder());
        }
        EXPECT_EQ(refusing.calls.size(), std::min<std::size_t>(outcomes.size(), 16));
        for (const std::string& call : refusing.calls) EXPECT_EQ(call.rfind("create", 0), 0u) << call;
    }
}

}  // namespace
}  // namespace flashwise::test
