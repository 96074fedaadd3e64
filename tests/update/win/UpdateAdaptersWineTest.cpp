// The update's Windows adapters under Wine: the Remote API bound from the system folder
// only, a helper deployed onto the simulated phone, the desktop helper run by its full
// path, the device-center services, the message-aware wait, named events, workers and
// the connection set-up's wait window.
// Paths: SimPhoneSetup, DeviceMode, wcestest, SimDccMan, SimService, SimServiceCtl and
// Satellite (a translation library with the wizard's layouts and texts).

#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <fstream>
#include <functional>
#include <string>

#include "package/Package.h"
#include "tests/support/win/SimulatedPhone.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/win/WineTestSupport.h"
#include "update/CDownloadAgent.h"
#include "update/ConnectionSetup.h"
#include "update/HelperDeployment.h"
#include "update/RapiConnection.h"
#include "update/ServiceControl.h"
#include "update/WorkerParameterBlock.h"
#include "update/win/MessageWait.h"
#include "update/win/SystemEvents.h"
#include "update/win/SystemRapi.h"
#include "update/win/SystemRunRecordStore.h"
#include "update/win/SystemUpdateJournalStore.h"
#include "update/win/SystemServiceManager.h"
#include "update/win/SystemThreads.h"
#include "update/win/SystemTicks.h"
#include "update/win/SystemPrivateFolders.h"
#include "update/win/SystemUpdatePlatform.h"
#include "tests/support/update/FakeUpdatePlatform.h"
#include "image/RandomAccessFile.h"

namespace flashwise::winetest {
namespace {

using namespace flashwise::update;

constexpr DWORD kToolBoundMs = 60000;
constexpr DWORD kEffectBoundMs = 15000;

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    return text;
}

// Polls until `done` holds or the bound passes.
template <typename Done>
bool Eventually(Done done, DWORD boundMs = kEffectBoundMs) {
    for (DWORD waited = 0; waited < boundMs; waited += 50) {
        if (done()) return true;
        Sleep(50);
    }
    return done();
}

// The program's working folder in a test: a scratch folder of its own, and a file in it.
std::wstring FileIn(const test::ScratchFolder& folder, const wchar_t* name) {
    return (folder.Path() / name).wstring();
}

// A package whose payload `id` is the given program's file, as a release would carry it.
test::FakePackage PackageWith(unsigned id, const std::string& program) {
    test::FakePackage package;
    std::ifstream in(std::filesystem::path(GivenPath(program)), std::ios::binary);
    package.binaries[id].assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return package;
}

UpdatePlatform PlatformIn(const std::wstring& folder, PackagePayloads& package = SystemUpdatePlatform().package) {
    UpdatePlatform platform = SystemUpdatePlatform();
    return UpdatePlatform{platform.rapi,  platform.files,  package, platform.services, platform.shell,
                          platform.messages, platform.ticks, platform.links, platform.waits, platform.events,
                          platform.threads, platform.windows, WorkFolder(std::filesystem::path(folder))};
}

// ---- the Remote API

TEST(RapiBinding, FromTheSystemFolderOnlyAndTheCallsReachTheDouble) {
    // A copy of the library beside the program, which is also the working folder.
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::wstring decoy = CurrentFolder() + L"\\Rapi.dll";
    ASSERT_TRUE(CopyFileW((std::wstring(system) + L"\\Rapi.dll").c_str(), decoy.c_str(), FALSE));

    SimulatedPhone phone("binding", "[phone]\nbattery=77\nos=5.2\n");
    ASSERT_TRUE(phone.Ready());
    SystemRapi rapi;
    {
        RapiConnection connection = RapiConnection::Request(rapi);
        ASSERT_TRUE(connection.Started());
        ASSERT_EQ(connection.WaitReady(3000), WaitOutcome::Signalled);
        EXPECT_EQ(connection.Result(), kRapiOk);
        RapiKey root = nullptr;
        ASSERT_EQ(rapi.OpenPhoneKey(RapiLocalMachine(), u"", &root), 0);
        EXPECT_EQ(rapi.ClosePhoneKey(root), 0);
        RapiPowerStatus power;
        ASSERT_TRUE(rapi.GetPowerStatus(&power, true));
        EXPECT_EQ(power.batteryLifePercent, 77);
        RapiVersion version;
        ASSERT_TRUE(rapi.GetVersion(&version));
        EXPECT_EQ(version.major, 5u);
        EXPECT_EQ(version.minor, 2u);
        EXPECT_EQ(connection.End(), kRapiOk);
    }
    // Nothing to end a second time.
    EXPECT_EQ(rapi.Uninit(), kRapiFail);

    // Every load of the library, one line each, named the system folder's copy.
    const std::string probes = ReadTextFile(std::wstring(_wgetenv(L"FLASHWISE_PROBE_LOG")));
    ASSERT_FALSE(probes.empty());
    std::size_t start = 0;
    for (std::size_t end; (end = probes.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::wstring loaded = Lower(std::wstring(probes.begin() + start, probes.begin() + end));
        EXPECT_EQ(loaded, Lower(std::wstring(system) + L"\\rapi.dll"));
    }
    DeleteFileW(decoy.c_str());
}

TEST(RapiBinding, AHelperIsCopiedToThePhoneAndStarted) {
    SimulatedPhone phone("deploy", "[phone]\nbattery=80\n");
    ASSERT_TRUE(phone.Ready());
    test::ScratchFolder folder;
    ASSERT_TRUE(CopyFileW(GivenPath("DeviceMode").c_str(), FileIn(folder, L"DeviceMode.exe").c_str(), FALSE));
    test::FakePackage package = PackageWith(146, "DeviceMode");
    UpdatePlatform platform = PlatformIn(folder.Path().wstring(), package);

    ASSERT_TRUE(DeployHelper(platform, PhoneHelper::DeviceMode));
    EXPECT_EQ(ReadTextFile(phone.FileOnDesktop(L"\\windows\\DeviceMode.exe")),
              ReadTextFile(FileIn(folder, L"DeviceMode.exe")));
    EXPECT_TRUE(Eventually([&] { return phone.StateText().find("boot_next=bootloader") != std::string::npos; }))
        << phone.StateText();
    // The connection was ended: the library has none left to end.
    EXPECT_EQ(SystemUpdatePlatform().rapi.Uninit(), kRapiFail);

    // The local file was let go of: the clean-up deletes it.
    DeleteHelperFiles(platform);
    EXPECT_EQ(GetFileAttributesW(FileIn(folder, L"DeviceMode.exe").c_str()), INVALID_FILE_ATTRIBUTES);
}

// ---- the desktop helper on the XP path

TEST(DesktopHelper, RunsTheFileItWroteNeverAPlantedOne) {
    test::ScratchFolder folder;
    // Someone else's file under the helper's name: replaced before the run.
    ASSERT_TRUE(WriteTextFile(FileIn(folder, L"wcestest.exe"), "not the helper"));
    const std::wstring marker = FileIn(folder, L"planted-ran.txt");
    ASSERT_TRUE(WriteTextFile(FileIn(folder, L"wcestest.bat"), "echo ran > \"" +
                                                                 std::string(marker.begin(), marker.end()) + "\"\r\n"));
    const std::wstring log = FileIn(folder, L"dccman.log");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION manager{};
    std::wstring line = L"\"" + GivenPath("SimDccMan") + L"\" --log \"" + log + L"\" --lifetime-ms 60000";
    ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &manager));
    ASSERT_TRUE(Eventually([] { return FindWindowW(L"DccMan Class", nullptr) != nullptr; }));

    // A search by bare name from here would find the .bat first.
    const std::wstring previous = CurrentFolder();
    SetCurrentDirectoryW(folder.Path().wstring().c_str());
    test::FakePackage package = PackageWith(150, "wcestest");
    UpdatePlatform platform = PlatformIn(folder.Path().wstring(), package);
    {
        CDownloadAgent agent(platform);
        // Each run has ended, its message sent, before the next one starts.
        EXPECT_EQ(agent.SetDesktopLink(false, false), 1);
        EXPECT_EQ(ReadTextFile(log), "0\n");
        EXPECT_EQ(GetFileAttributesW(FileIn(folder, L"wcestest.exe").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(agent.SetDesktopLink(true, false), 1);
    }
    SetCurrentDirectoryW(previous.c_str());
    // Disable all, then serial and USB.
    EXPECT_EQ(ReadTextFile(log), "0\n10\n");
    EXPECT_EQ(GetFileAttributesW(marker.c_str()), INVALID_FILE_ATTRIBUTES);

    TerminateProcess(manager.hProcess, 0);
    WaitForSingleObject(manager.hProcess, kEffectBoundMs);
    CloseHandle(manager.hProcess);
    CloseHandle(manager.hThread);

    // With no connection manager the helper exits with an error: no success then.
    CDownloadAgent agent(platform);
    EXPECT_EQ(agent.SetDesktopLink(true, false), 0);
    EXPECT_EQ(GetFileAttributesW(FileIn(folder, L"wcestest.exe").c_str()), INVALID_FILE_ATTRIBUTES);
}

// ---- the work folder and its files

TEST(WorkFiles, HeldFromTheirWriteNobodyElseCanChangeThem) {
    test::ScratchFolder folder;
    const std::wstring path = FileIn(folder, L"Tarn_G4.abi");
    LocalFiles& files = SystemUpdatePlatform().files;
    std::uint32_t error = 0;
    const LocalFile held = files.Create(path, &error);
    ASSERT_NE(held, LocalFiles::Invalid()) << error;
    const std::uint8_t bytes[4] = {1, 2, 3, 4};
    std::uint32_t written = 0;
    ASSERT_TRUE(files.Write(held, bytes, 4, &written, &error));

    // Created new only: the name is taken now.
    EXPECT_EQ(files.Create(path, &error), LocalFiles::Invalid());
    EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_FILE_EXISTS));
    // Others can read it (the image object does), but not write, move or delete it.
    RandomAccessFile reader;
    ASSERT_TRUE(reader.Open(path, RandomAccessFile::Mode::Read));
    std::uint8_t read[4] = {};
    EXPECT_EQ(reader.Read(read, 4), 4u);
    EXPECT_EQ(read[3], 4);
    reader.Close();
    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_FALSE(MoveFileExW(path.c_str(), FileIn(folder, L"moved").c_str(), MOVEFILE_REPLACE_EXISTING));
    files.Close(held);

    // Opened again for a copy: read only, and again nobody else may change it meanwhile.
    const LocalFile copy = files.OpenForCopy(path);
    ASSERT_NE(copy, LocalFiles::Invalid());
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    files.Close(copy);
    EXPECT_TRUE(files.Delete(path));
}

TEST(WorkFiles, ThePrivateFolderOnlyAdministratorsCanWriteAndNobodyCanMove) {
    test::ScratchFolder base;
    const std::filesystem::path path = WorkFolder::PrivateFolderIn(base.Path(), 0x1234ABCDu);
    SystemPrivateFolders folders;
    ASSERT_EQ(folders.Create(path), PrivateFolders::Made::Created);
    EXPECT_EQ(folders.Create(path), PrivateFolders::Made::Exists);

    // The descriptor it is made with: owned by the Administrators group, an access list
    // protected from the parent's with two entries, SYSTEM and the Administrators, full
    // control, inherited by everything made inside.
    EXPECT_EQ(SystemPrivateFolders::AccessText(), L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
    // What the system keeps of it (Wine keeps no access lists, only what it can map onto
    // the file's mode): nobody beyond those two may even look in.
    DWORD needed = 0;
    GetFileSecurityW(path.wstring().c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(GetFileSecurityW(path.wstring().c_str(), DACL_SECURITY_INFORMATION, buffer.data(), needed, &needed));
    BOOL present = FALSE, defaulted = FALSE;
    ACL* acl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(buffer.data(), &present, &acl, &defaulted));
    ASSERT_TRUE(present && acl != nullptr);
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(acl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_FALSE(IsWellKnownSid(&ace->SidStart, WinWorldSid)) << i;
        EXPECT_FALSE(IsWellKnownSid(&ace->SidStart, WinBuiltinUsersSid)) << i;
        EXPECT_FALSE(IsWellKnownSid(&ace->SidStart, WinAuthenticatedUserSid)) << i;
    }

    // Held open: it cannot be moved or removed while the run lasts.
    ASSERT_TRUE(WriteTextFile((path / L"ExtRom.tmp").wstring(), "x"));
    EXPECT_FALSE(MoveFileW(path.wstring().c_str(), (base.Path() / L"moved").wstring().c_str()));
    folders.Remove(path);
    EXPECT_EQ(GetFileAttributesW(path.wstring().c_str()), INVALID_FILE_ATTRIBUTES);
}

// ---- the user-interface thread's pieces

LRESULT CALLBACK CountingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
        ++*reinterpret_cast<int*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST(MessageWait, DispatchesDropsQuitAndWakesForEachReason) {
    WNDCLASSW type{};
    type.lpfnWndProc = CountingProcedure;
    type.hInstance = GetModuleHandleW(nullptr);
    type.lpszClassName = L"FlashwiseWaitTest";
    RegisterClassW(&type);
    HWND window = CreateWindowW(L"FlashwiseWaitTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    int dispatched = 0;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&dispatched));

    MessageWait waits;
    for (int i = 0; i < 3; ++i) PostMessageW(window, WM_APP, 0, 0);
    PostQuitMessage(0);
    waits.DispatchQueued();
    EXPECT_EQ(dispatched, 3);
    MSG left;
    EXPECT_FALSE(PeekMessageW(&left, nullptr, 0, 0, PM_REMOVE)) << "the quit request was removed";

    HANDLE first = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE second = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    WakeResult woke = waits.WaitForHandlesOrInput({first, second}, 50);
    EXPECT_EQ(woke.wake, Wake::TimedOut);

    SetEvent(second);
    woke = waits.WaitForHandlesOrInput({first, second}, 5000);
    EXPECT_EQ(woke.wake, Wake::Handle);
    EXPECT_EQ(woke.index, 1u);
    SetEvent(first);
    EXPECT_EQ(waits.WaitForHandlesOrInput({first, second}, 5000).index, 0u) << "the first in order counts";

    ResetEvent(first);
    ResetEvent(second);
    const DWORD self = GetCurrentThreadId();
    SystemThreads threads;
    const auto poster = threads.Start([self] {
        Sleep(100);
        PostThreadMessageW(self, WM_APP + 1, 0, 0);
    });
    ASSERT_NE(poster, nullptr);
    EXPECT_EQ(waits.WaitForHandlesOrInput({first, second}, 5000).wake, Wake::Input);
    WaitForSingleObject(poster->Handle(), 5000);
    waits.DispatchQueued();
    CloseHandle(first);
    CloseHandle(second);
    DestroyWindow(window);
}

TEST(NamedEvents, AnEventLeftSignalledIsResetWhenCreated) {
    SystemEvents events;
    HANDLE stale = CreateEventW(nullptr, TRUE, TRUE, L"FlashwiseStaleEvent");
    ASSERT_NE(stale, nullptr);
    {
        NamedEvent fresh = NamedEvent::Create(events, u"FlashwiseStaleEvent", true);
        ASSERT_TRUE(fresh.Valid());
        EXPECT_EQ(WaitForSingleObject(fresh.Handle(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
        NamedEvent opened = NamedEvent::Open(events, u"FlashwiseStaleEvent");
        ASSERT_TRUE(opened.Valid());
        EXPECT_TRUE(opened.Set());
        EXPECT_EQ(WaitForSingleObject(stale, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    }
    CloseHandle(stale);
    EXPECT_FALSE(NamedEvent::Open(events, u"FlashwiseStaleEvent").Valid()) << "gone with its last handle";
}

struct SlowBlock {
    HANDLE go = nullptr;
    HANDLE done = nullptr;
    int value = 0;
    std::atomic<int> seen{0};
};

TEST(Workers, TheParameterBlockOutlivesWhoeverStartedTheWorker) {
    SystemThreads threads;
    auto block = std::make_shared<SlowBlock>();
    block->go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    block->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    block->value = 42;
    HANDLE go = block->go;
    HANDLE done = block->done;
    std::weak_ptr<SlowBlock> watch = block;
    StartWorker<SlowBlock>(threads, std::move(block), [](SlowBlock& b) {
        WaitForSingleObject(b.go, 10000);
        b.seen = b.value;
        SetEvent(b.done);
    });
    // The starter has let go of both the block and the worker.
    EXPECT_FALSE(watch.expired());
    SetEvent(go);
    ASSERT_EQ(WaitForSingleObject(done, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(Eventually([&] { return watch.expired(); }));
    CloseHandle(go);
    CloseHandle(done);
}

// ---- the connection set-up's window

struct WindowSearch {
    const std::function<bool(HWND)>* match;
    HWND found;
};

BOOL CALLBACK VisitWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !(*search->match)(window)) return TRUE;
    search->found = window;
    return FALSE;
}

std::wstring WindowText(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

// The first top-level window of this process for which `match` holds.
HWND FindOwnWindow(const std::function<bool(HWND)>& match) {
    WindowSearch search{&match, nullptr};
    EnumWindows(&VisitWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Finds the wait window of this process while the connection thread runs.
struct WindowSeen {
    HWND window = nullptr;
    bool visible = false;
    bool topmost = false;
    bool owned = true;
};

class WatchingLink : public CConnManager {
public:
    WatchingLink(WindowSeen& seen, std::wstring text) : seen_(seen), text_(std::move(text)) {}
    // Runs on the connection thread while the user-interface thread waits.
    bool Open() override {
        const HWND window =
            FindOwnWindow([&](HWND w) { return GetDlgItem(w, 1012) && WindowText(GetDlgItem(w, 1012)) == text_; });
        if (window != nullptr) {
            seen_.window = window;
            seen_.visible = IsWindowVisible(window) != FALSE;
            seen_.topmost = (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
            seen_.owned = GetWindow(window, GW_OWNER) != nullptr;
        }
        return seen_.window != nullptr;
    }

private:
    WindowSeen& seen_;
    std::wstring text_;
};

class WatchingLinks : public LinkFactory {
public:
    explicit WatchingLinks(WindowSeen& seen, std::wstring text) : seen_(seen), text_(std::move(text)) {}
    std::unique_ptr<CConnManager> NewSerialLink() override { return Make(); }
    std::unique_ptr<CConnManager> NewWinUsbLink() override { return Make(); }
    // Only the welcome page looks for a boot loader this way; these tests never open one.
    bool BootLoaderInterfacePresent() override { return false; }

private:
    std::unique_ptr<CConnManager> Make() { return std::make_unique<WatchingLink>(seen_, text_); }
    WindowSeen& seen_;
    std::wstring text_;
};

class LinkAlwaysReleased : public CDownloadAgent {
public:
    using CDownloadAgent::CDownloadAgent;
    int SetDesktopLink(bool, bool) override { return 1; }
};

TEST(SetupConnectionWindow, TopmostWithoutOwnerWhileWaitingAndGoneOnReturn) {
    HMODULE satellite = LoadLibraryExW(GivenPath("Satellite").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(satellite, nullptr);
    package::SetStringSource(satellite);
    std::wstring text;
    ASSERT_TRUE(package::LoadPackageString(43, text));

    test::ScratchFolder folder;
    ASSERT_TRUE(WriteTextFile(FileIn(folder, L"Tarn_G4.abi"), std::string(600, 'x')));
    WindowSeen seen;
    WatchingLinks links(seen, text);
    UpdatePlatform real = PlatformIn(folder.Path().wstring());
    UpdatePlatform platform{real.rapi,  real.files,  real.package, real.services, real.shell,  real.messages,
                            real.ticks, links,       real.waits,   real.events,   real.threads, real.windows,
                            real.folder};
    {
        LinkAlwaysReleased agent(platform);
        EXPECT_TRUE(SetupConnection(platform, &agent, u"Tarn_G4.abi"));
        ASSERT_NE(seen.window, nullptr);
        EXPECT_TRUE(seen.visible);
        EXPECT_TRUE(seen.topmost);
        EXPECT_FALSE(seen.owned);
        EXPECT_FALSE(IsWindow(seen.window)) << "destroyed before SetupConnection returned";
        EXPECT_TRUE(agent.Image()->IsOpen());
    }
    package::SetStringSource(nullptr);
    FreeLibrary(satellite);
}

// ---- the device-center services (Vista path)

class Services : public testing::Test {
protected:
    void Install(const wchar_t* name, const std::wstring& options, const wchar_t* preset) {
        Ctl(std::wstring(L"remove ") + name);
        const ProcessResult installed =
            Ctl(std::wstring(L"install ") + name + L" \"" + GivenPath("SimService") + L"\" " + options);
        ASSERT_TRUE(installed.ended && installed.exitCode == 0) << installed.output;
        installed_.push_back(name);
        ASSERT_EQ(Ctl(std::wstring(L"preset ") + name + L" " + preset).exitCode, 0u);
    }
    std::string Query(const wchar_t* name) { return Ctl(std::wstring(L"query ") + name).output; }
    void TearDown() override {
        for (const std::wstring& name : installed_) Ctl(L"remove " + name);
    }
    static ProcessResult Ctl(const std::wstring& arguments) {
        return RunCaptured(L"\"" + GivenPath("SimServiceCtl") + L"\" " + arguments, kToolBoundMs);
    }

    SystemServiceManager manager_;
    SystemTicks ticks_;
    std::vector<std::wstring> installed_;
};

TEST_F(Services, StopDisablesStartEnables) {
    Install(L"WcesComm", L"--start auto", L"running");
    EXPECT_TRUE(ControlDeviceService(manager_, ticks_, "stop", "WcesComm"));
    EXPECT_EQ(Query(L"WcesComm"), "state=stopped start=disabled\n");
    EXPECT_TRUE(ControlDeviceService(manager_, ticks_, "STOP", "WcesComm")) << "already stopped";
    EXPECT_TRUE(ControlDeviceService(manager_, ticks_, "START", "WcesComm"));
    EXPECT_EQ(Query(L"WcesComm"), "state=running start=auto\n");
    EXPECT_FALSE(ControlDeviceService(manager_, ticks_, "STOP", "NoSuchService"));
}

TEST_F(Services, PendingRefusedAndDisabledServices) {
    Install(L"WcesComm", L"--start auto --stop-delay-ms 2500", L"running");
    Install(L"RapiMgr", L"--start auto --refuse-stop", L"running");
    // A slow stop within the queries.
    EXPECT_TRUE(ControlDeviceService(manager_, ticks_, "STOP", "WcesComm"));
    // A refused stop, and the restore that undoes its mark.
    EXPECT_FALSE(ControlDeviceService(manager_, ticks_, "STOP", "RapiMgr"));
    EXPECT_EQ(Query(L"RapiMgr"), "state=running start=disabled\n");
    EXPECT_TRUE(ControlDeviceService(manager_, ticks_, "START", "RapiMgr"));
    EXPECT_EQ(Query(L"RapiMgr"), "state=running start=auto\n");
    // A disabled, stopped service is enabled before it is started.
    EXPECT_EQ(Query(L"WcesComm"), "state=stopped start=disabled\n");
    EXPECT_TRUE(ControlDeviceService(manager_, ticks_, "START", "WcesComm"));
    EXPECT_EQ(Query(L"WcesComm"), "state=running start=auto\n");
    // A stop under way fails a second stop at once.
    SERVICE_STATUS status{};
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceW(scm, L"WcesComm", SERVICE_ALL_ACCESS);
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_FALSE(ControlDeviceService(manager_, ticks_, "STOP", "WcesComm"));
    CloseServiceHandle(service);
    CloseServiceHandle(scm);
    // A service removed while it stops stays behind until it has stopped.
    EXPECT_TRUE(Eventually([&] { return Query(L"WcesComm").rfind("state=stopped", 0) == 0; }));
}

TEST_F(Services, ServicesComeBackExactlyAsRecorded) {
    Install(L"WcesComm", L"--start demand", L"running");
    Install(L"RapiMgr", L"--start auto", L"stopped");
    std::uint32_t type = 0;
    std::uint32_t state = 0;
    ASSERT_TRUE(ReadDeviceService(manager_, u"WcesComm", &type, &state));
    EXPECT_EQ(type, static_cast<std::uint32_t>(SERVICE_DEMAND_START));
    EXPECT_EQ(state, static_cast<std::uint32_t>(SERVICE_RUNNING));
    ASSERT_TRUE(ControlDeviceService(manager_, ticks_, "STOP", "WcesComm"));
    EXPECT_TRUE(RestoreDeviceService(manager_, ticks_, u"WcesComm", SERVICE_DEMAND_START, SERVICE_RUNNING));
    EXPECT_EQ(Query(L"WcesComm"), "state=running start=demand\n");
    EXPECT_TRUE(RestoreDeviceService(manager_, ticks_, u"RapiMgr", SERVICE_AUTO_START, SERVICE_STOPPED));
    EXPECT_EQ(Query(L"RapiMgr"), "state=stopped start=auto\n");
}

// The run's record in the registry: written, read back whole, and gone with the key.
TEST(RunRecordStore, SurvivesTheProcessUntilRemoved) {
    SystemRunRecordStore store;
    store.Remove();
    EXPECT_FALSE(store.Load().has_value());
    RunRecord record;
    record.services = {{u"WcesComm", SERVICE_DEMAND_START, SERVICE_RUNNING}, {u"RapiMgr", SERVICE_AUTO_START, 1}};
    record.desktopLinkReleased = true;
    record.workFolder = L"C:\\some folder\\work";
    ASSERT_TRUE(store.Save(record));
    // Another store object reads what this one wrote, as the next run would.
    const std::optional<RunRecord> read = SystemRunRecordStore().Load();
    ASSERT_TRUE(read.has_value());
    ASSERT_EQ(read->services.size(), 2u);
    EXPECT_EQ(read->services[0].name, u"WcesComm");
    EXPECT_EQ(read->services[0].startType, static_cast<std::uint32_t>(SERVICE_DEMAND_START));
    EXPECT_EQ(read->services[1].name, u"RapiMgr");
    EXPECT_EQ(read->services[1].state, 1u);
    EXPECT_TRUE(read->desktopLinkReleased);
    EXPECT_EQ(read->workFolder, record.workFolder);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Flashwise\\Run", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    store.Remove();
    EXPECT_FALSE(store.Load().has_value());
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Flashwise", 0, KEY_READ, &key), ERROR_SUCCESS);
}

// The update journal beside the run's record under the one key: each goes alone, and a
// journal cut short still says that a phone may wait in its boot loader.
TEST(UpdateJournalStore, SharesTheProgramKeyAndACutRecordStillCounts) {
    SystemUpdateJournalStore journal;
    SystemRunRecordStore record;
    journal.Remove();
    record.Remove();
    UpdateJournal written;
    written.release = u"V2.10.5 FRA";
    written.imageDigest = u"67536622-5042300";
    written.bootLoaderPass = true;
    written.pass = JournalPass::BootLoader;
    ASSERT_TRUE(journal.Save(written));
    ASSERT_TRUE(record.Save(RunRecord{}));
    const std::optional<UpdateJournal> read = SystemUpdateJournalStore().Load();
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->release, written.release);
    EXPECT_EQ(read->imageDigest, written.imageDigest);
    EXPECT_TRUE(read->bootLoaderPass);
    EXPECT_EQ(read->pass, JournalPass::BootLoader);
    EXPECT_EQ(read->started.size(), 20u);  // the clock's time, as yyyy-mm-ddThh:mm:ssZ
    journal.Remove();
    EXPECT_FALSE(journal.Load().has_value());
    EXPECT_TRUE(record.Load().has_value());

    // Only the pass got written before the power went.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Flashwise\\Journal", 0, nullptr, 0, KEY_WRITE, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const DWORD main = 2;
    RegSetValueExW(key, L"Pass", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&main), sizeof main);
    RegCloseKey(key);
    const std::optional<UpdateJournal> cut = journal.Load();
    ASSERT_TRUE(cut.has_value());
    EXPECT_EQ(cut->imageDigest, u"");
    EXPECT_EQ(cut->pass, JournalPass::Main);
    journal.Remove();
    record.Remove();
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Flashwise", 0, KEY_READ, &key), ERROR_SUCCESS);
}

// The message a failed release shows comes from the connection thread while the topmost
// wait window is up: it must be above it and belong to no window.
TEST_F(Services, AFailedReleaseSaysSoAboveEveryWindow) {
    HMODULE satellite = LoadLibraryExW(GivenPath("Satellite").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(satellite, nullptr);
    package::SetStringSource(satellite);
    std::wstring expected;
    ASSERT_TRUE(package::LoadPackageString(41, expected));
    Install(L"WcesComm", L"--start auto --refuse-stop", L"running");
    Install(L"RapiMgr", L"--start auto", L"running");

    struct Seen {
        std::wstring text;
        bool topmost = false;
        bool owned = true;
    } seen;
    SystemThreads threads;
    const auto watcher = threads.Start([&seen] {
        for (int tries = 0; tries < 300; ++tries) {
            // Looked at once it shows, when its set-up is done.
            const HWND box =
                FindOwnWindow([](HWND w) { return GetDlgItem(w, 0xFFFF) != nullptr && IsWindowVisible(w); });
            if (box != nullptr) {
                seen.text = WindowText(GetDlgItem(box, 0xFFFF));
                seen.topmost = (GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
                seen.owned = GetWindow(box, GW_OWNER) != nullptr;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                return;
            }
            Sleep(100);
        }
    });
    ASSERT_NE(watcher, nullptr);
    UpdatePlatform platform = PlatformIn(CurrentFolder());
    {
        CDownloadAgentVista agent(platform);
        EXPECT_EQ(agent.SetDesktopLink(false, true), 0);
    }
    WaitForSingleObject(watcher->Handle(), 40000);
    EXPECT_EQ(seen.text, expected);
    EXPECT_TRUE(seen.topmost);
    EXPECT_FALSE(seen.owned);
    EXPECT_EQ(Query(L"RapiMgr"), "state=running start=auto\n") << "left alone";
    package::SetStringSource(nullptr);
    FreeLibrary(satellite);
}

}  // namespace
}  // namespace flashwise::winetest
