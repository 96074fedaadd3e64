#include "tests/support/update/FakeUpdatePlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace flashwise::test {

namespace {
constexpr unsigned kDesktopHelperId = 150;
}  // namespace

std::string Narrow(std::u16string_view text) { return std::string(text.begin(), text.end()); }

std::vector<std::string> CallLog::Matching(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& line : Lines()) {
        if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
    }
    return found;
}

// ---- Remote API

namespace {

class FakeRequest : public RapiInitRequest {
public:
    FakeRequest(FakeRapi& rapi, CallLog& log)
        : rapi_(rapi), log_(log), event_(std::make_shared<FakeWaitable>(FakeWaitable{"rapi event"})) {
        ++rapi_.liveRequests;
        // The library signals the record's event when the attempt ends, even after the
        // caller has let go; the timer keeps its own hold on the event.
        if (rapi_.scheduler != nullptr && rapi_.initExSignalMs && RapiSucceeded(rapi_.initExCall)) {
            rapi_.scheduler->At(*rapi_.initExSignalMs, [event = event_] { event->signalled = true; });
        }
    }
    ~FakeRequest() override {
        --rapi_.liveRequests;
        log_.Add("rapi request released");
    }
    RapiResult CallResult() const override { return rapi_.initExCall; }
    WaitHandle Event() const override { return event_.get(); }
    WaitOutcome Wait(std::uint32_t timeoutMs) override {
        log_.Add("rapi wait " + std::to_string(timeoutMs));
        if (rapi_.scheduler == nullptr) return rapi_.initExWait;
        const WakeResult woke = rapi_.scheduler->Wait({event_.get()}, timeoutMs, false);
        return woke.wake == Wake::Handle ? WaitOutcome::Signalled : WaitOutcome::TimedOut;
    }
    RapiResult Result() const override { return rapi_.initExRecord; }

private:
    FakeRapi& rapi_;
    CallLog& log_;
    std::shared_ptr<FakeWaitable> event_;
};

}  // namespace

RapiResult FakeRapi::Init() {
    log_.Add("rapi Init");
    if (scheduler != nullptr && initHangs) scheduler->BlockUntil([this] { return !initHangs; });
    return initResult;
}

std::int32_t FakeRapi::OpenPhoneKey(RapiKey root, std::u16string_view subKey, RapiKey* key) {
    log_.Add("rapi RegOpen " + (subKey.empty() ? std::string("(root)") : Narrow(subKey)));
    const bool opens = subKey.empty() ? rootOpens : (subKey == u"KROV\\SYSVERSION" && sysVersion.has_value());
    if (root != RapiLocalMachine() || !opens) return 2;
    *key = subKey.empty() ? &keys_[0] : &keys_[1];
    ++openKeys;
    return 0;
}

std::int32_t FakeRapi::QueryPhoneValue(RapiKey key, std::u16string_view name, std::uint32_t* type,
                                       std::uint8_t* data, std::uint32_t* size) {
    log_.Add("rapi RegQuery " + Narrow(name) + (data == nullptr ? " size" : ""));
    if (key != &keys_[1] || !sysVersion) return 6;
    const auto found = sysVersion->find(std::u16string(name));
    if (found == sysVersion->end()) return 2;
    const std::vector<std::uint8_t>& bytes = found->second;
    if (type != nullptr) *type = 1;  // a string value
    const auto needed = static_cast<std::uint32_t>(bytes.size());
    if (data == nullptr) {
        *size = needed;
        return 0;
    }
    if (unreadableValues.count(std::u16string(name))) return 5;
    // Only the value's own bytes are written; whatever lay beyond them stays.
    const std::uint32_t room = *size;
    std::copy_n(bytes.begin(), std::min(room, needed), data);
    *size = needed;
    return room < needed ? kRapiErrorMoreData : 0;
}

std::int32_t FakeRapi::ClosePhoneKey(RapiKey key) {
    log_.Add(std::string("rapi RegClose ") + (key == &keys_[0] ? "(root)" : "KROV\\SYSVERSION"));
    --openKeys;
    return 0;
}

bool FakeRapi::GetPowerStatus(RapiPowerStatus* status, bool refresh) {
    log_.Add(std::string("rapi Power") + (refresh ? " refresh" : ""));
    if (!power) return false;
    *status = *power;
    return true;
}

bool FakeRapi::GetVersion(RapiVersion* out) {
    log_.Add("rapi Version");
    if (!version) return false;
    *out = *version;
    return true;
}

std::vector<std::uint8_t> PhoneString(std::u16string_view text, bool terminated) {
    std::vector<std::uint8_t> bytes;
    for (const char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    if (terminated) bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

std::unique_ptr<RapiInitRequest> FakeRapi::InitEx() {
    log_.Add("rapi InitEx");
    return std::make_unique<FakeRequest>(*this, log_);
}

RapiHandle FakeRapi::CreatePhoneFile(std::u16string_view phonePath) {
    log_.Add("rapi CreateFile " + Narrow(phonePath));
    if (createFileFails) return InvalidRapiHandle();
    openPath_ = std::u16string(phonePath);
    phoneFiles[openPath_].clear();
    ++openHandles;
    return &handles_[0];
}

bool FakeRapi::WritePhoneFile(RapiHandle file, const std::uint8_t* data, std::uint32_t size,
                              std::uint32_t* written) {
    const int n = writes_++;
    writeSizes.push_back(size);
    *written = 0;
    if (file != &handles_[0] || n == failWriteAt) return false;
    *written = (n == shortWriteAt && size > 0) ? size - 1 : size;
    auto& bytes = phoneFiles[openPath_];
    bytes.insert(bytes.end(), data, data + *written);
    return true;
}

bool FakeRapi::ClosePhoneHandle(RapiHandle handle) {
    const char* what = handle == &handles_[0] ? "file" : handle == &handles_[1] ? "process" : "thread";
    log_.Add(std::string("rapi CloseHandle ") + what);
    --openHandles;
    return true;
}

bool FakeRapi::StartPhoneProcess(std::u16string_view name, RapiHandle* process, RapiHandle* thread) {
    log_.Add("rapi CreateProcess " + Narrow(name));
    if (createProcessFails) return false;
    *process = &handles_[1];
    *thread = &handles_[2];
    openHandles += 2;
    return true;
}

// ---- services

FakeServices::Service& FakeServices::Settled(Service& service) {
    const bool pending =
        service.state == service_state::kStartPending || service.state == service_state::kStopPending;
    if (pending && service.pendingTarget != 0 &&
        TicksSince(service.pendingSince, ticks_.Now()) >= service.pendingDelay) {
        service.state = service.pendingTarget;
    }
    return service;
}

std::string FakeServices::NameOf(ServiceHandle handle) {
    for (const auto& entry : services) {
        if (&entry.second == handle) return Narrow(entry.first);
    }
    return "?";
}

void FakeServices::BeginPending(Service& service, std::uint32_t state, std::uint32_t delay, std::uint32_t target) {
    service.state = state;
    service.pendingSince = ticks_.Now();
    service.pendingDelay = delay;
    service.pendingTarget = target;
}

ServiceHandle FakeServices::OpenManager() {
    if (!managerOpens) return nullptr;
    ++openHandles;
    return &manager_;
}

ServiceHandle FakeServices::OpenNamedService(ServiceHandle, std::u16string_view name) {
    auto found = services.find(std::u16string(name));
    if (found == services.end()) return nullptr;
    ++openHandles;
    return &found->second;
}

bool FakeServices::QueryState(ServiceHandle handle, std::uint32_t* state) {
    queryTimes.push_back(ticks_.Now());
    *state = Of(handle).state;
    return true;
}

bool FakeServices::Start(ServiceHandle handle) {
    log_.Add("service Start " + NameOf(handle));
    Service& service = Of(handle);
    if (service.state != service_state::kStopped || service.startType == start_type::kDisabled) return false;
    BeginPending(service, service_state::kStartPending, service.startDelayMs, service_state::kRunning);
    return true;
}

bool FakeServices::Control(ServiceHandle handle, std::uint32_t control) {
    log_.Add("service Control " + NameOf(handle) + " " + std::to_string(control));
    Service& service = Of(handle);
    if (control != service_control::kStop || service.refuseStop || service.state != service_state::kRunning) {
        return false;
    }
    BeginPending(service, service_state::kStopPending, service.stopDelayMs, service_state::kStopped);
    return true;
}

bool FakeServices::QueryConfig(ServiceHandle handle, ServiceConfig* config) {
    *config = ServiceConfig{0x10, Of(handle).startType, 1};
    return true;
}

bool FakeServices::ChangeConfig(ServiceHandle handle, const ServiceConfig& config) {
    log_.Add("service StartType " + NameOf(handle) + " " + std::to_string(config.startType));
    Of(handle).startType = config.startType;
    // The other settings come back as they were read.
    return config.serviceType == 0x10 && config.errorControl == 1;
}

// ---- working folder

LocalFile FakeFiles::Opened(const std::string& name) {
    tokens_.push_back(std::make_unique<std::uint8_t>());
    ++openFiles;
    open_[tokens_.back().get()] = Open{name, 0};
    return tokens_.back().get();
}

LocalFile FakeFiles::Create(const std::filesystem::path& path, std::uint32_t* error) {
    const std::string name = Name(path);
    log_.Add("file Create " + name);
    if (createErrors.count(name)) {
        *error = createErrors[name];
        return Invalid();
    }
    if (files.count(name)) {
        *error = 80;  // the file exists
        return Invalid();
    }
    files[name] = File{{}, true};
    return Opened(name);
}

LocalFile FakeFiles::OpenForCopy(const std::filesystem::path& path) {
    if (beforeOpen && files.count(Name(path))) beforeOpen(Name(path));
    return files.count(Name(path)) ? Opened(Name(path)) : Invalid();
}

bool FakeFiles::Write(LocalFile file, const std::uint8_t* data, std::uint32_t size, std::uint32_t* written,
                      std::uint32_t* error) {
    const std::string& name = open_.at(file).name;
    *written = 0;
    if (writeErrors.count(name)) {
        *error = writeErrors[name];
        return false;
    }
    *written = shortWrites.count(name) && size > 0 ? size - 1 : size;
    files[name].bytes.assign(data, data + *written);
    return true;
}

bool FakeFiles::Read(LocalFile file, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* read) {
    if (readFails) return false;
    Open& open = open_.at(file);
    const auto& bytes = files.at(open.name).bytes;
    const std::size_t n = std::min<std::size_t>(size, bytes.size() - open.position);
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(open.position), n, buffer);
    open.position += n;
    *read = static_cast<std::uint32_t>(n);
    return true;
}

void FakeFiles::Close(LocalFile file) {
    log_.Add("file Close " + open_.at(file).name);
    open_.erase(file);
    --openFiles;
}

bool FakeFiles::Delete(const std::filesystem::path& path) {
    log_.Add("file Delete " + Name(path));
    return files.erase(Name(path)) != 0;
}

bool FakeShell::Run(const std::filesystem::path& program, std::u16string_view parameters,
                    const std::filesystem::path& currentFolder, std::uint32_t waitMs, std::uint32_t* code,
                    std::uint32_t* failure) {
    log_.Add("shell run " + program.filename().string() + Narrow(parameters));
    if (whileRunning) whileRunning();
    programs.push_back(program);
    currentFolders.push_back(currentFolder);
    waits.push_back(waitMs);
    if (disk != nullptr) {
        const auto found = disk->files.find(program.filename().string());
        ranBytes.push_back(found == disk->files.end() ? std::vector<std::uint8_t>() : found->second.bytes);
        openWhenRun.push_back(disk->openFiles);
    }
    if (fails) {
        *failure = error;
        return false;
    }
    *code = exitCode;
    return true;
}

bool FakePackage::ReadBinary(unsigned id, const std::uint8_t** data, std::size_t* size) {
    if (!binaries.count(id)) return false;
    *data = binaries[id].data();
    *size = binaries[id].size();
    return true;
}

// ---- links

namespace {

class FakeLink : public CConnManager {
public:
    FakeLink(CallLog& log, std::string kind, std::function<bool()> opens)
        : log_(log), kind_(std::move(kind)), opens_(std::move(opens)) {}
    ~FakeLink() override { log_.Add("link deleted " + kind_); }
    bool Open() override {
        const bool open = opens_();
        log_.Add("link Open " + kind_ + (open ? " ok" : " fails"));
        return open;
    }

private:
    CallLog& log_;
    std::string kind_;
    std::function<bool()> opens_;
};

}  // namespace

bool FakeLinks::BootLoaderInterfacePresent() {
    log_.Add("links discovery");
    if (!interfacePresent) ADD_FAILURE() << "the boot loader's interface was looked for, and nobody said whether it is there";
    return interfacePresent.value_or(false);
}

std::unique_ptr<CConnManager> FakeLinks::Make(const std::string& kind) {
    ++made;
    log_.Add("link made " + kind);
    return std::make_unique<FakeLink>(log_, kind, [this] { return opens(); });
}

// ---- events, threads, waits, windows

FakeWaitable& FakeEvents::Named(std::u16string_view name) {
    auto& event = events_[std::u16string(name)];
    if (!event) event = std::make_unique<FakeWaitable>(FakeWaitable{Narrow(name)});
    return *event;
}

int FakeEvents::OpenHandles() const {
    int open = 0;
    for (const auto& entry : events_) open += entry.second->references;
    return open;
}

WaitHandle FakeEvents::CreateNamed(std::u16string_view name, bool manualReset) {
    // As the system does it: an event that exists is opened as it is, signal and all.
    const bool made = events_.count(std::u16string(name)) == 0;
    FakeWaitable& event = Named(name);
    if (made) event.autoReset = !manualReset;
    ++event.references;
    log_.Add("event Create " + event.name);
    return &event;
}

WaitHandle FakeEvents::OpenNamed(std::u16string_view name) {
    auto found = events_.find(std::u16string(name));
    if (found == events_.end()) return nullptr;
    ++found->second->references;
    return found->second.get();
}

bool FakeEvents::Set(WaitHandle event) {
    auto* e = static_cast<FakeWaitable*>(event);
    log_.Add("event Set " + e->name);
    e->signalled = takenByOthers.count(std::u16string(e->name.begin(), e->name.end())) == 0;
    return true;
}

namespace {

class FakeWorker : public Worker {
public:
    explicit FakeWorker(CallLog& log) : log_(log) {}
    ~FakeWorker() override { log_.Add("thread handle closed"); }
    WaitHandle Handle() const override { return const_cast<FakeWaitable*>(&end_); }
    FakeWaitable end_{"thread"};

private:
    CallLog& log_;
};

class FakeWaitWindow : public WaitWindow {
public:
    explicit FakeWaitWindow(CallLog& log) : log_(log) { log_.Add("window shown"); }
    ~FakeWaitWindow() override { log_.Add("window destroyed"); }
    WindowRef Handle() const override { return const_cast<FakeWaitWindow*>(this); }

private:
    CallLog& log_;
};

}  // namespace

void FakeTicks::Sleep(std::uint32_t ms) {
    if (scheduler != nullptr) {
        scheduler->Sleep(ms);
    } else {
        now_ += ms;
    }
}

std::unique_ptr<Worker> FakeThreads::Start(std::function<void()> body) {
    if (fails) return nullptr;
    if (scheduler != nullptr) return scheduler->Start(std::move(body));
    log_.Add("thread start");
    auto worker = std::make_unique<FakeWorker>(log_);
    body();
    log_.Add("thread end");
    worker->end_.signalled = true;
    return worker;
}

void FakeWaits::DispatchQueued() {
    log_.Add("ui dispatch");
    if (scheduler != nullptr) scheduler->ConsumeInput();
}

WakeResult FakeWaits::WaitForHandlesOrInput(const std::vector<WaitHandle>& handles, std::uint32_t timeoutMs) {
    if (failingWaits.count(waits_++) != 0) {
        log_.Add("ui wake failed");
        return {Wake::Failed, 0};
    }
    const auto never = [](const char* how) {
        ADD_FAILURE() << "the user-interface thread waits without end for what can never happen (" << how << ")";
    };
    if (scheduler != nullptr) {
        const WakeResult woke = scheduler->Wait(handles, timeoutMs, true);
        if (woke.wake == Wake::Failed) never("nothing left to happen would end it");
        switch (woke.wake) {
        case Wake::Handle: log_.Add("ui wake " + static_cast<FakeWaitable*>(handles[woke.index])->name); break;
        case Wake::Input: log_.Add("ui wake input"); break;
        case Wake::TimedOut: log_.Add("ui wake timeout"); break;
        case Wake::Failed: log_.Add("ui wake failed"); break;
        }
        return woke;
    }
    if (inputWakes > 0) {
        --inputWakes;
        log_.Add("ui wake input");
        return {Wake::Input, 0};
    }
    for (std::size_t i = 0; i < handles.size(); ++i) {
        auto* waitable = static_cast<FakeWaitable*>(handles[i]);
        if (waitable->signalled) {
            waitable->Taken();
            log_.Add("ui wake " + waitable->name);
            return {Wake::Handle, i};
        }
    }
    log_.Add("ui wake timeout");
    // Nothing can change while the only thread waits: a wait for ever would hang.
    if (timeoutMs == kWaitForever) {
        never("no handle is signalled");
        return {Wake::Failed, 0};
    }
    return {Wake::TimedOut, 0};
}

std::unique_ptr<WaitWindow> FakeWindows::ShowSetupConnection() { return std::make_unique<FakeWaitWindow>(log_); }

bool FakeRecordStore::Save(const RunRecord& record) {
    log_.Add(saveFails ? "record not saved" : "record saved");
    if (saveFails) return false;
    stored = record;
    return true;
}

void FakeRecordStore::Remove() {
    log_.Add("record removed");
    stored.reset();
}

bool FakeJournalStore::Save(const UpdateJournal& journal) {
    log_.Add((saveFails ? "journal not saved " : "journal saved ") +
             std::to_string(static_cast<unsigned>(journal.pass)));
    if (saveFails) return false;
    stored = journal;
    return true;
}

void FakeJournalStore::Remove() {
    log_.Add("journal removed");
    stored.reset();
}

// ---- the whole platform

FakeUpdatePlatform::FakeUpdatePlatform(std::uint32_t startTick)
    : ticks(startTick),
      folder(scratch.Path()),
      platform{rapi, files, package, services, shell, messages, ticks, links, waits, events, threads, windows,
               WorkFolder(folder), &record, &journal} {
    shell.disk = &files;
    package.binaries[kDesktopHelperId] = DesktopHelperPayload();
}

std::vector<std::uint8_t> DesktopHelperPayload() {
    const std::string text = "MZ the desktop helper of the fakes";
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

FakeScheduler& FakeUpdatePlatform::UseScheduler() {
    if (!scheduler) {
        scheduler = std::make_unique<FakeScheduler>(ticks, log);
        ticks.scheduler = scheduler.get();
        threads.scheduler = scheduler.get();
        waits.scheduler = scheduler.get();
        rapi.scheduler = scheduler.get();
    }
    return *scheduler;
}

void FakeUpdatePlatform::WriteImageFile(const std::string& name, std::size_t size) {
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out << std::string(size, 'Z');
}

}  // namespace flashwise::test
