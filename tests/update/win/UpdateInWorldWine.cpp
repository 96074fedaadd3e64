// The update's own operations in the whole simulated world on one Windows path
// (run by tests/phoneworld/run_phone_world.py inside tools/wine/phone-world.py's world):
// DeployHelper restarts the phone into its boot loader, SetupConnection releases the
// desktop's link and opens the boot loader, the image lands, and the agent restores
// the desktop's link. The world's log shows the order. (A boot loader that never
// appears is the wizard's row boot_loader_never_appears: its minute is sat through once.)
//
//   update_world_wine.exe xp|vista RESULTS DEVICEMODE SYSREBOOT WCESTEST SIMSERVICECTL

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "image/DownloadDriver.h"
#include "link/ConnManagerVista.h"
#include "link/win/WinSerialPort.h"
#include "link/win/WinUsbSystemApi.h"
#include "sim/phone/PhoneSettings.h"
#include "sim/phone/WorldLog.h"
#include "sim/phone/win/PhoneStore.h"
#include "sim/phone/win/WorldLogFile.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ScenarioChecks.h"
#include "tests/support/ScratchFolder.h"
#include "update/CDownloadAgent.h"
#include "update/ConnectionSetup.h"
#include "update/HelperDeployment.h"
#include "update/RapiConnection.h"
#include "update/win/SystemUpdatePlatform.h"

using namespace flashwise;
using namespace flashwise::update;
using flashwise::test::Check;
using simphone::WorldAct;

namespace {

constexpr DWORD kSetupLimitMs = 60000;

// The program's links, without the protocol's pauses (the boot loader here needs none).
class UnpausedLinks : public LinkFactory {
public:
    std::unique_ptr<CConnManager> NewSerialLink() override {
        return std::make_unique<CConnManager>(std::make_unique<WinSerialPort>(), [](std::uint32_t) {});
    }
    std::unique_ptr<CConnManager> NewWinUsbLink() override {
        return std::make_unique<CConnManagerVista>(std::make_unique<WinUsbSystemApi>(), [](std::uint32_t) {});
    }
    bool BootLoaderInterfacePresent() override {
        return CConnManagerVista(std::make_unique<WinUsbSystemApi>(), [](std::uint32_t) {}).InterfacePresent();
    }
};

std::vector<WorldAct> ActsSince(std::uint64_t mark) {
    std::vector<WorldAct> acts;
    for (auto& act : simphone::ParseWorldLog(test::ReadWholeFile(simphone::WorldLogPath()))) {
        if (act.ms >= mark) acts.push_back(std::move(act));
    }
    return acts;
}

using Fields = std::vector<std::pair<std::string, std::string>>;

// Times of the acts from `source` named `name` with these fields.
std::vector<std::uint64_t> Times(const std::vector<WorldAct>& acts, const char* source, const char* name,
                                 const Fields& fields = {}) {
    std::vector<std::uint64_t> times;
    for (const auto& act : acts) {
        bool match = act.source == source && act.act == name;
        for (const auto& [field, value] : fields) match = match && act.Field(field) == value;
        if (match) times.push_back(act.ms);
    }
    return times;
}

std::uint64_t First(const std::vector<std::uint64_t>& times) { return times.empty() ? 0 : times.front(); }

// When the desktop had let go of the phone (Vista: both services stopped and disabled).
std::uint64_t Released(bool xp, const std::vector<WorldAct>& acts) {
    if (xp) return First(Times(acts, "dccman", "message-0x432", {{"types", "0"}}));
    std::uint64_t last = 0;
    for (const char* name : {"WcesComm", "RapiMgr"}) {
        const std::uint64_t stopped = First(Times(acts, "service", "state", {{"name", name}, {"state", "stopped"}}));
        const std::uint64_t disabled = First(Times(acts, "scm", "start-type", {{"name", name}, {"type", "disabled"}}));
        if (!stopped || !disabled) return 0;
        // The desktop lets go when the service stops; the watch sees a start type only
        // when it is next scheduled, which on a busy machine can be after the open.
        last = std::max(last, stopped);
    }
    return last;
}

// When the desktop had the phone again (Vista: each service made automatic, then running).
std::uint64_t Restored(bool xp, const std::vector<WorldAct>& acts) {
    if (xp) return First(Times(acts, "dccman", "message-0x432", {{"types", "10"}}));
    std::uint64_t last = 0;
    for (const char* name : {"WcesComm", "RapiMgr"}) {
        // A disabled service does not start, so running again after its stop, and seen
        // automatic (the watch sees it when it is next scheduled), is restored.
        const std::uint64_t automatic = First(Times(acts, "scm", "start-type", {{"name", name}, {"type", "auto"}}));
        const std::uint64_t stopped = First(Times(acts, "service", "state", {{"name", name}, {"state", "stopped"}}));
        const auto running = Times(acts, "service", "state", {{"name", name}, {"state", "running"}});
        const auto after = std::find_if(running.begin(), running.end(), [&](std::uint64_t t) { return t > stopped; });
        if (!automatic || !stopped || after == running.end()) return 0;
        last = std::max(last, *after);
    }
    return last;
}

// Every connection this process made was ended.
void CheckRapiBalance(const std::vector<WorldAct>& acts) {
    const std::string pid = std::to_string(GetCurrentProcessId());
    const auto count = [&](const char* call) {
        return Times(acts, "rapi", call, {{"pid", pid}, {"result", "0x00000000"}}).size();
    };
    const std::size_t made = count("CeRapiInit") + count("CeRapiInitEx");
    Check(made > 0 && made == count("CeRapiUninit"),
          "every connection made was ended (" + std::to_string(made) + " made)");
}

bool DesktopReachesPhone(RapiApi& rapi) {
    RapiConnection connection = RapiConnection::Request(rapi);
    return connection.WaitReady(10000) == update::WaitOutcome::Signalled && RapiSucceeded(connection.Result());
}

// The boot loader's own restart once its flash is written; here the test's hand.
void RestartPhoneNormally() {
    simphone::PhoneStore store;
    if (store.Ok()) simphone::Restart(store.Document());
    Check(store.Ok() && store.Save(), "the phone restarts normally after the download");
}

// The helpers as a release carries them, read from their files: what the update checks
// the files it writes against.
class HelperPackage final : public PackagePayloads {
public:
    void Add(unsigned id, const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        binaries_[id].assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool ReadBinary(unsigned id, const std::uint8_t** data, std::size_t* size) override {
        const auto found = binaries_.find(id);
        if (found == binaries_.end()) return false;
        *data = found->second.data();
        *size = found->second.size();
        return true;
    }
    std::u16string Text(unsigned) override { return {}; }
    std::u16string NewRomVersion() override { return {}; }

private:
    std::map<unsigned, std::vector<std::uint8_t>> binaries_;
};

struct Paths {
    std::filesystem::path results, deviceMode, sysReboot, wcestest;
};

int Run(bool xp, const Paths& paths) {
    test::ScratchFolder work;
    for (const auto& helper : {paths.deviceMode, paths.sysReboot, paths.wcestest}) {
        std::filesystem::copy_file(helper, work.Path() / helper.filename());
    }
    test::ImageSizes sizes;
    sizes.l50 = 1001;
    sizes.l51a = 9000;
    sizes.l52 = 8193;
    sizes.l53 = 3;
    test::WriteImage(work.Path() / "Tarn_G4.abi", sizes);

    HelperPackage package;
    package.Add(146, paths.deviceMode);
    package.Add(103, paths.sysReboot);
    package.Add(150, paths.wcestest);
    UnpausedLinks links;
    const UpdatePlatform& system = SystemUpdatePlatform();
    UpdatePlatform platform{system.rapi,  system.files,  package, system.services, system.shell,
                            system.messages, system.ticks, links,        system.waits,    system.events,
                            system.threads, system.windows, WorkFolder(work.Path())};
    const std::unique_ptr<CDownloadAgent> agent = NewDownloadAgent(platform, GetVersion());
    Check((dynamic_cast<CDownloadAgentVista*>(agent.get()) != nullptr) == !xp, "the agent of this Windows path");
    const std::uint64_t mark = simphone::WorldClockMs();
    Check(DesktopReachesPhone(platform.rapi), "the desktop reaches the phone at the start");

    Check(DeployHelper(platform, PhoneHelper::DeviceMode), "DeviceMode deployed and started");
    Check(DeployHelper(platform, PhoneHelper::SysReboot), "SysReboot deployed and started");
    const DWORD started = GetTickCount();
    const bool connected = SetupConnection(platform, agent.get(), u"Tarn_G4.abi");
    const DWORD waited = GetTickCount() - started;
    Check(connected && waited < kSetupLimitMs, "SetupConnection opens the boot loader (" +
                                                   std::to_string(waited) + " ms)");
    if (!connected) return 1;
    Check(RunDownload(agent->State(), *agent->Link(), *agent->Image(), [](std::uint32_t) {}),
          "the image is written");
    Check(test::ReadWholeFile(paths.results / "summary.txt").find("end-transfers=1") != std::string::npos,
          "the boot loader saw the transfer end");
    RestartPhoneNormally();
    Check(agent->SetDesktopLink(true, false) == 1, "the agent restores the desktop's link");
    Check(DesktopReachesPhone(platform.rapi), "the desktop reaches the phone again");

    const auto acts = ActsSince(mark);
    const std::uint64_t released = Released(xp, acts);
    const std::uint64_t restored = Restored(xp, acts);
    const std::uint64_t opened = First(Times(acts, "bridge", "open"));
    Check(released != 0, "the world's log shows the release");
    Check(restored > released, "the world's log shows the restore after the release");
    Check(opened != 0 && released <= opened && opened < restored,
          "the boot loader opened after the release and before the restore");
    CheckRapiBalance(acts);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7 || (std::strcmp(argv[1], "xp") != 0 && std::strcmp(argv[1], "vista") != 0)) {
        std::fprintf(stderr, "usage: update_world_wine.exe xp|vista RESULTS DEVICEMODE SYSREBOOT WCESTEST SIMSERVICECTL\n");
        return 2;
    }
    try {
        Run(std::strcmp(argv[1], "xp") == 0, Paths{argv[2], argv[3], argv[4], argv[5]});
    } catch (const std::exception& e) {
        Check(false, std::string("no exception: ") + e.what());
    }
    return test::CheckVerdict();
}
