#pragma once
// Fakes of every system piece the update logic uses, sharing one clock and one log so a
// test sees the order of everything that happened. The clock moves only when the logic
// sleeps; threads run at once, to their end, inside Start.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/ScratchFolder.h"
#include "tests/support/update/FakeScheduler.h"
#include "update/UpdatePlatform.h"

namespace flashwise::test {

using namespace flashwise::update;

std::string Narrow(std::u16string_view text);

// The calls of every fake, in order ("rapi InitEx", "service Control WcesComm 1", ...).
class CallLog {
public:
    void Add(const std::string& line) {
        std::lock_guard<std::mutex> hold(lock_);
        lines_.push_back(line);
    }
    std::vector<std::string> Lines() const {
        std::lock_guard<std::mutex> hold(lock_);
        return lines_;
    }
    // The lines that begin with `prefix`.
    std::vector<std::string> Matching(const std::string& prefix) const;
    std::size_t Count(const std::string& prefix) const { return Matching(prefix).size(); }
    void Clear() {
        std::lock_guard<std::mutex> hold(lock_);
        lines_.clear();
    }

private:
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
};

class FakeTicks : public Ticks {
public:
    explicit FakeTicks(std::uint32_t start) : now_(start) {}
    std::uint32_t Now() override { return now_; }
    // With a scheduler, a worker's sleep parks it and the clock moves when nothing runs.
    void Sleep(std::uint32_t ms) override;
    void Advance(std::uint32_t ms) { now_ += ms; }
    FakeScheduler* scheduler = nullptr;

private:
    std::uint32_t now_;
};

class FakeRapi : public RapiApi {
public:
    explicit FakeRapi(CallLog& log) : log_(log) {}

    RapiResult initResult = kRapiOk;
    RapiResult initExCall = kRapiOk;
    WaitOutcome initExWait = WaitOutcome::Signalled;
    RapiResult initExRecord = kRapiOk;
    RapiResult uninitResult = kRapiOk;
    bool createFileFails = false;
    int failWriteAt = -1;   // the n-th write (from 0) fails
    int shortWriteAt = -1;  // the n-th write reports one byte less
    bool createProcessFails = false;

    std::map<std::u16string, std::vector<std::uint8_t>> phoneFiles;
    std::vector<std::uint32_t> writeSizes;
    int openHandles = 0;
    int liveRequests = 0;  // InitEx records not yet released

    // The phone's registry: whether its root opens, and the values of KROV\SYSVERSION as
    // stored (UTF-16 bytes, a terminator only where the test puts one); no key when unset.
    bool rootOpens = false;
    std::optional<std::map<std::u16string, std::vector<std::uint8_t>>> sysVersion;
    std::set<std::u16string> unreadableValues;  // the size query works, the read does not
    int openKeys = 0;
    std::optional<RapiPowerStatus> power;  // unset: the query fails
    std::optional<RapiVersion> version;    // unset: the query fails

    // With a scheduler: a CeRapiInitEx record's event is signalled this long after the
    // request (never when unset), and CeRapiInit blocks while initHangs holds.
    std::optional<std::uint32_t> initExSignalMs = 0u;
    bool initHangs = false;
    FakeScheduler* scheduler = nullptr;

    RapiResult Init() override;
    std::unique_ptr<RapiInitRequest> InitEx() override;
    RapiResult Uninit() override { return Logged("rapi Uninit", uninitResult); }
    std::uint32_t LastError() override { return Logged("rapi GetLastError", 5u); }
    RapiHandle CreatePhoneFile(std::u16string_view phonePath) override;
    bool WritePhoneFile(RapiHandle file, const std::uint8_t* data, std::uint32_t size, std::uint32_t* written) override;
    bool SetPhoneEndOfFile(RapiHandle) override { return Logged("rapi SetEndOfFile", true); }
    bool ClosePhoneHandle(RapiHandle handle) override;
    bool StartPhoneProcess(std::u16string_view name, RapiHandle* process, RapiHandle* thread) override;
    std::int32_t OpenPhoneKey(RapiKey root, std::u16string_view subKey, RapiKey* key) override;
    std::int32_t QueryPhoneValue(RapiKey key, std::u16string_view name, std::uint32_t* type, std::uint8_t* data,
                                 std::uint32_t* size) override;
    std::int32_t ClosePhoneKey(RapiKey key) override;
    bool GetPowerStatus(RapiPowerStatus* status, bool refresh) override;
    bool GetVersion(RapiVersion* version) override;

private:
    template <typename T>
    T Logged(const std::string& line, T result) {
        log_.Add(line);
        return result;
    }
    CallLog& log_;
    int writes_ = 0;
    std::u16string openPath_;
    std::uint8_t handles_[3] = {};  // file, process, thread
    std::uint8_t keys_[2] = {};     // the root, KROV\SYSVERSION
};

// A string value as the phone stores it: UTF-16 little-endian, with a terminator when asked.
std::vector<std::uint8_t> PhoneString(std::u16string_view text, bool terminated = true);

// Services that take their time on the clock.
class FakeServices : public ServiceManager {
public:
    struct Service {
        std::uint32_t state = service_state::kRunning;
        std::uint32_t startType = start_type::kAutomatic;
        std::uint32_t stopDelayMs = 0;
        std::uint32_t startDelayMs = 0;
        bool refuseStop = false;
        // A pending state ends at pendingSince + pendingDelay; preset without a target it stays.
        std::uint32_t pendingSince = 0;
        std::uint32_t pendingDelay = 0;
        std::uint32_t pendingTarget = 0;
    };

    FakeServices(FakeTicks& ticks, CallLog& log) : ticks_(ticks), log_(log) {}

    std::map<std::u16string, Service> services;
    bool managerOpens = true;
    int openHandles = 0;
    std::vector<std::uint32_t> queryTimes;

    std::uint32_t StateOf(const std::u16string& name) { return Settled(services.at(name)).state; }

    ServiceHandle OpenManager() override;
    ServiceHandle OpenNamedService(ServiceHandle manager, std::u16string_view name) override;
    bool QueryState(ServiceHandle service, std::uint32_t* state) override;
    bool Start(ServiceHandle service) override;
    bool Control(ServiceHandle service, std::uint32_t control) override;
    bool QueryConfig(ServiceHandle service, ServiceConfig* config) override;
    bool ChangeConfig(ServiceHandle service, const ServiceConfig& config) override;
    void Close(ServiceHandle) override { --openHandles; }

private:
    Service& Settled(Service& service);
    Service& Of(ServiceHandle handle) { return Settled(*static_cast<Service*>(handle)); }
    std::string NameOf(ServiceHandle handle);
    void BeginPending(Service& service, std::uint32_t state, std::uint32_t delay, std::uint32_t target);

    FakeTicks& ticks_;
    CallLog& log_;
    std::uint8_t manager_ = 0;
};

// The working folder in memory, by file name.
class FakeFiles : public LocalFiles {
public:
    explicit FakeFiles(CallLog& log) : log_(log) {}

    struct File {
        std::vector<std::uint8_t> bytes;
        bool hidden = false;
    };
    std::map<std::string, File> files;
    std::map<std::string, std::uint32_t> createErrors;  // the create fails with this error
    std::map<std::string, std::uint32_t> writeErrors;   // the write fails with this error
    std::set<std::string> shortWrites;                  // the write stops one byte short
    bool readFails = false;
    int openFiles = 0;
    // Runs as an existing file is opened for a copy, e.g. to change it in between.
    std::function<void(const std::string& name)> beforeOpen;

    LocalFile Create(const std::filesystem::path& path, std::uint32_t* error) override;
    LocalFile OpenForCopy(const std::filesystem::path& path) override;
    bool Write(LocalFile file, const std::uint8_t* data, std::uint32_t size, std::uint32_t* written,
               std::uint32_t* error) override;
    bool Read(LocalFile file, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* read) override;
    void Close(LocalFile file) override;
    bool CanOpenForReading(const std::filesystem::path& path) override { return files.count(Name(path)) != 0; }
    bool Delete(const std::filesystem::path& path) override;

private:
    static std::string Name(const std::filesystem::path& path) { return path.filename().string(); }
    LocalFile Opened(const std::string& name);
    struct Open {
        std::string name;
        std::size_t position = 0;
    };
    CallLog& log_;
    std::map<LocalFile, Open> open_;
    std::vector<std::unique_ptr<std::uint8_t>> tokens_;
};

class FakePackage : public PackagePayloads {
public:
    std::map<unsigned, std::vector<std::uint8_t>> binaries;
    std::map<unsigned, std::u16string> texts;
    bool ReadBinary(unsigned id, const std::uint8_t** data, std::size_t* size) override;
    std::u16string Text(unsigned id) override { return texts.count(id) ? texts[id] : std::u16string(); }
    std::u16string newRomVersion = u"V3.12.405.2 FRA";
    std::u16string NewRomVersion() override { return newRomVersion; }
};

class FakeShell : public DesktopShell {
public:
    explicit FakeShell(CallLog& log) : log_(log) {}
    bool fails = false;
    std::uint32_t error = 2;
    std::uint32_t exitCode = 0;
    std::string output;
    std::vector<std::filesystem::path> programs;
    std::vector<std::filesystem::path> currentFolders;
    std::vector<std::uint32_t> waits;
    std::function<void()> whileRunning;
    // What the program's file held when it was started.
    std::vector<std::vector<std::uint8_t>> ranBytes;
    std::vector<int> openWhenRun;  // files the program held open as it started one
    // The files the program could be started from.
    const class FakeFiles* disk = nullptr;
    bool Run(const std::filesystem::path& program, std::u16string_view parameters,
             const std::filesystem::path& currentFolder, std::uint32_t waitMs, std::uint32_t* code,
             std::uint32_t* failure) override;
    void WriteStandardOutput(std::string_view text) override { output += text; }

private:
    CallLog& log_;
};

class FakeMessages : public UserMessages {
public:
    explicit FakeMessages(CallLog& log) : log_(log) {}
    bool answerYes = true;
    void Notify(unsigned id, WindowRef owner) override { Add("message", id, owner ? " owned" : " unowned"); }
    void NotifyOnTop(unsigned id) override { Add("message", id, " on top"); }
    bool Confirm(unsigned id, WindowRef owner) override {
        Add("confirm", id, owner ? " owned" : " unowned");
        return answerYes;
    }

private:
    void Add(const char* kind, unsigned id, const char* how) {
        log_.Add(std::string(kind) + " " + std::to_string(id) + how);
    }
    CallLog& log_;
};

// Boot-loader links whose Open succeeds as `opens` decides; their end is logged.
class FakeLinks : public LinkFactory {
public:
    explicit FakeLinks(CallLog& log) : log_(log) {}
    std::function<bool()> opens = [] { return false; };
    int made = 0;
    std::unique_ptr<CConnManager> NewSerialLink() override { return Make("serial"); }
    std::unique_ptr<CConnManager> NewWinUsbLink() override { return Make("winusb"); }
    // Whether discovery finds the boot loader's interface; a look nobody scripted fails
    // the test. Line: "links discovery".
    std::optional<bool> interfacePresent;
    bool BootLoaderInterfacePresent() override;

private:
    std::unique_ptr<CConnManager> Make(const std::string& kind);
    CallLog& log_;
};

// Events, thread ends and windows share one kind of handle, so the waits see them all.
struct FakeWaitable {
    std::string name;
    bool signalled = false;
    int references = 0;
    bool autoReset = false;  // a wait it ends takes its signal, as the system's auto-reset events do

    // The wait that `this` ended.
    void Taken() {
        if (autoReset) signalled = false;
    }
};

class FakeEvents : public EventApi {
public:
    explicit FakeEvents(CallLog& log) : log_(log) {}
    // As another process or an earlier pass would leave it.
    void SignalFromOutside(const std::u16string& name) { Named(name).signalled = true; }
    // Another process waits on these and takes every signal given to them.
    std::set<std::u16string> takenByOthers;
    int OpenHandles() const;

    WaitHandle CreateNamed(std::u16string_view name, bool manualReset) override;
    WaitHandle OpenNamed(std::u16string_view name) override;
    bool Set(WaitHandle event) override;
    bool Reset(WaitHandle event) override {
        static_cast<FakeWaitable*>(event)->signalled = false;
        return true;
    }
    void Close(WaitHandle event) override { --static_cast<FakeWaitable*>(event)->references; }

private:
    FakeWaitable& Named(std::u16string_view name);
    CallLog& log_;
    std::map<std::u16string, std::unique_ptr<FakeWaitable>> events_;
};

class FakeThreads : public Threads {
public:
    explicit FakeThreads(CallLog& log) : log_(log) {}
    bool fails = false;
    // Runs the body at once (or, with a scheduler, in lockstep); the worker's handle is
    // signalled when it returns.
    std::unique_ptr<Worker> Start(std::function<void()> body) override;
    FakeScheduler* scheduler = nullptr;

private:
    CallLog& log_;
};

// A wait that nothing can ever end fails the test (and returns as a failed wait, so the
// logic under test unwinds); a failed wait a test wants is scripted.
class FakeWaits : public UiWaits {
public:
    explicit FakeWaits(CallLog& log) : log_(log) {}
    int inputWakes = 0;  // handed out before the handles are looked at
    std::set<int> failingWaits;  // these waits (from 0, in the order made) fail at once
    FakeScheduler* scheduler = nullptr;
    void DispatchQueued() override;
    WakeResult WaitForHandlesOrInput(const std::vector<WaitHandle>& handles, std::uint32_t timeoutMs) override;

private:
    CallLog& log_;
    int waits_ = 0;
};

class FakeWindows : public WaitWindows {
public:
    explicit FakeWindows(CallLog& log) : log_(log) {}
    std::unique_ptr<WaitWindow> ShowSetupConnection() override;

private:
    CallLog& log_;
};

// The run's record, in memory. Lines: "record saved", "record removed".
class FakeRecordStore : public RunRecordStore {
public:
    explicit FakeRecordStore(CallLog& log) : log_(log) {}
    std::optional<RunRecord> stored;
    bool saveFails = false;
    std::optional<RunRecord> Load() override { return stored; }
    bool Save(const RunRecord& record) override;
    void Remove() override;

private:
    CallLog& log_;
};

// The update journal, in memory. Lines: "journal saved <pass>", "journal removed".
class FakeJournalStore : public UpdateJournalStore {
public:
    explicit FakeJournalStore(CallLog& log) : log_(log) {}
    std::optional<UpdateJournal> stored;
    bool saveFails = false;
    std::optional<UpdateJournal> Load() override { return stored; }
    bool Save(const UpdateJournal& journal) override;
    void Remove() override;

private:
    CallLog& log_;
};

// The desktop helper every fake package carries (BIN 150), so that the runs of the XP
// path have a file to write.
std::vector<std::uint8_t> DesktopHelperPayload();

// All of them, wired into one platform over a scratch working folder on disk.
class FakeUpdatePlatform {
public:
    explicit FakeUpdatePlatform(std::uint32_t startTick = 0);

    CallLog log;
    FakeTicks ticks;
    FakeRapi rapi{log};
    FakeServices services{ticks, log};
    FakeFiles files{log};
    FakePackage package;
    FakeShell shell{log};
    FakeMessages messages{log};
    FakeLinks links{log};
    FakeEvents events{log};
    FakeThreads threads{log};
    FakeWaits waits{log};
    FakeWindows windows{log};
    FakeRecordStore record{log};
    FakeJournalStore journal{log};
    ScratchFolder scratch;
    std::filesystem::path folder;
    UpdatePlatform platform;

    // An image file of `size` bytes in the scratch folder, for PrepareDownload.
    void WriteImageFile(const std::string& name, std::size_t size = 512);

    // Workers in lockstep on the clock from now on (see FakeScheduler.h).
    FakeScheduler& UseScheduler();
    // Last, so that it goes first: its parked workers unwind while the fakes they use live.
    std::unique_ptr<FakeScheduler> scheduler;
};

}  // namespace flashwise::test
