#include "update/win/SystemRapi.h"

#include <cstring>
#include <mutex>
#include <string>

#include "link/win/SystemLibrary.h"
#include "update/win/RapiDeclarations.h"

namespace flashwise::update {
namespace {

struct Entries {
    decltype(&::CeRapiInit) init = nullptr;
    decltype(&::CeRapiInitEx) initEx = nullptr;
    decltype(&::CeRapiUninit) uninit = nullptr;
    decltype(&::CeGetLastError) lastError = nullptr;
    decltype(&::CeRegOpenKeyEx) regOpen = nullptr;
    decltype(&::CeRegQueryValueEx) regQuery = nullptr;
    decltype(&::CeRegCloseKey) regClose = nullptr;
    decltype(&::CeCreateFile) createFile = nullptr;
    decltype(&::CeWriteFile) writeFile = nullptr;
    decltype(&::CeSetEndOfFile) setEndOfFile = nullptr;
    decltype(&::CeCloseHandle) closeHandle = nullptr;
    decltype(&::CeCreateProcess) createProcess = nullptr;
    decltype(&::CeGetSystemPowerStatusEx) powerStatus = nullptr;
    decltype(&::CeGetVersionEx) version = nullptr;
};

std::mutex g_bindLock;
bool g_bound = false;
Entries g_entries;

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn* fn) {
    *fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *fn != nullptr;
}

// The entries, or null while the library cannot be bound. Once bound, the library
// stays loaded for the rest of the run.
const Entries* Bound() {
    std::lock_guard<std::mutex> hold(g_bindLock);
    if (g_bound) return &g_entries;
    HMODULE library = LoadSystemLibrary(L"Rapi.dll");
    if (library == nullptr) return nullptr;
    Entries e;
    const bool all =
        Resolve(library, "CeRapiInit", &e.init) &&
        Resolve(library, "CeRapiInitEx", &e.initEx) &&
        Resolve(library, "CeRapiUninit", &e.uninit) &&
        Resolve(library, "CeGetLastError", &e.lastError) &&
        Resolve(library, "CeRegOpenKeyEx", &e.regOpen) &&
        Resolve(library, "CeRegQueryValueEx", &e.regQuery) &&
        Resolve(library, "CeRegCloseKey", &e.regClose) &&
        Resolve(library, "CeCreateFile", &e.createFile) &&
        Resolve(library, "CeWriteFile", &e.writeFile) &&
        Resolve(library, "CeSetEndOfFile", &e.setEndOfFile) &&
        Resolve(library, "CeCloseHandle", &e.closeHandle) &&
        Resolve(library, "CeCreateProcess", &e.createProcess) &&
        Resolve(library, "CeGetSystemPowerStatusEx", &e.powerStatus) &&
        Resolve(library, "CeGetVersionEx", &e.version);
    if (!all) {
        FreeLibrary(library);
        return nullptr;
    }
    g_entries = e;
    g_bound = true;
    return &g_entries;
}

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

// The record and its event live on the heap with the request, so that the library can
// still write and signal them after a caller has given up waiting.
class SystemInitRequest final : public RapiInitRequest {
public:
    explicit SystemInitRequest(const Entries* entries) {
        record_.size = sizeof(rapi::RapiInit);
        record_.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        record_.result = E_FAIL;
        if (entries == nullptr || record_.event == nullptr) {
            callResult_ = E_FAIL;
            return;
        }
        callResult_ = entries->initEx(&record_);
    }
    ~SystemInitRequest() override {
        if (record_.event != nullptr) ::CloseHandle(record_.event);
    }
    RapiResult CallResult() const override { return callResult_; }
    WaitHandle Event() const override { return record_.event; }
    WaitOutcome Wait(std::uint32_t timeoutMs) override {
        if (record_.event == nullptr) return WaitOutcome::Failed;
        switch (WaitForSingleObject(record_.event, timeoutMs)) {
        case WAIT_OBJECT_0: return WaitOutcome::Signalled;
        case WAIT_TIMEOUT: return WaitOutcome::TimedOut;
        default: return WaitOutcome::Failed;
        }
    }
    RapiResult Result() const override { return record_.result; }

private:
    rapi::RapiInit record_{};
    RapiResult callResult_ = E_FAIL;
};

}  // namespace

RapiResult SystemRapi::Init() {
    const Entries* e = Bound();
    return e != nullptr ? e->init() : E_FAIL;
}

std::unique_ptr<RapiInitRequest> SystemRapi::InitEx() { return std::make_unique<SystemInitRequest>(Bound()); }

RapiResult SystemRapi::Uninit() {
    const Entries* e = Bound();
    return e != nullptr ? e->uninit() : E_FAIL;
}

std::uint32_t SystemRapi::LastError() {
    const Entries* e = Bound();
    return e != nullptr ? e->lastError() : ERROR_DEVICE_NOT_CONNECTED;
}

RapiHandle SystemRapi::CreatePhoneFile(std::u16string_view phonePath) {
    const Entries* e = Bound();
    if (e == nullptr) return InvalidRapiHandle();
    const std::wstring path = Wide(phonePath);
    const HANDLE file = e->createFile(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_HIDDEN, nullptr);
    return file == INVALID_HANDLE_VALUE ? InvalidRapiHandle() : file;
}

bool SystemRapi::WritePhoneFile(RapiHandle file, const std::uint8_t* data, std::uint32_t size, std::uint32_t* written) {
    const Entries* e = Bound();
    DWORD done = 0;
    const bool ok = e != nullptr && e->writeFile(file, data, size, &done, nullptr) != FALSE;
    if (written != nullptr) *written = done;
    return ok;
}

bool SystemRapi::SetPhoneEndOfFile(RapiHandle file) {
    const Entries* e = Bound();
    return e != nullptr && e->setEndOfFile(file) != FALSE;
}

bool SystemRapi::ClosePhoneHandle(RapiHandle handle) {
    const Entries* e = Bound();
    return e != nullptr && e->closeHandle(handle) != FALSE;
}

bool SystemRapi::StartPhoneProcess(std::u16string_view name, RapiHandle* process, RapiHandle* thread) {
    const Entries* e = Bound();
    if (e == nullptr) return false;
    const std::wstring program = Wide(name);
    PROCESS_INFORMATION info{};
    if (!e->createProcess(program.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &info)) {
        return false;
    }
    *process = info.hProcess;
    *thread = info.hThread;
    return true;
}

std::int32_t SystemRapi::OpenPhoneKey(RapiKey root, std::u16string_view subKey, RapiKey* key) {
    const Entries* e = Bound();
    if (e == nullptr) return ERROR_DEVICE_NOT_CONNECTED;
    const std::wstring name = Wide(subKey);
    HKEY opened = nullptr;
    const LONG result =
        e->regOpen(static_cast<HKEY>(root), subKey.empty() ? nullptr : name.c_str(), 0, 0, &opened);
    *key = opened;
    return result;
}

std::int32_t SystemRapi::QueryPhoneValue(RapiKey key, std::u16string_view name, std::uint32_t* type,
                                       std::uint8_t* data, std::uint32_t* size) {
    const Entries* e = Bound();
    if (e == nullptr) return ERROR_DEVICE_NOT_CONNECTED;
    const std::wstring value = Wide(name);
    DWORD kind = 0;
    DWORD bytes = size != nullptr ? *size : 0;
    const LONG result = e->regQuery(static_cast<HKEY>(key), value.c_str(), nullptr, &kind, data,
                                    size != nullptr ? &bytes : nullptr);
    if (type != nullptr) *type = kind;
    if (size != nullptr) *size = bytes;
    return result;
}

std::int32_t SystemRapi::ClosePhoneKey(RapiKey key) {
    const Entries* e = Bound();
    return e != nullptr ? e->regClose(static_cast<HKEY>(key)) : ERROR_DEVICE_NOT_CONNECTED;
}

bool SystemRapi::GetPowerStatus(RapiPowerStatus* status, bool refresh) {
    const Entries* e = Bound();
    rapi::CeSystemPowerStatusEx record;
    std::memset(&record, 0, sizeof record);
    if (e == nullptr || !e->powerStatus(&record, refresh ? TRUE : FALSE)) return false;
    status->acLineStatus = record.acLineStatus;
    status->batteryFlag = record.batteryFlag;
    status->batteryLifePercent = record.batteryLifePercent;
    return true;
}

bool SystemRapi::GetVersion(RapiVersion* version) {
    const Entries* e = Bound();
    rapi::CeOsVersionInfo record;
    std::memset(&record, 0, sizeof record);
    if (e == nullptr || !e->version(&record)) return false;
    version->major = record.majorVersion;
    version->minor = record.minorVersion;
    version->build = record.buildNumber;
    version->platformId = record.platformId;
    return true;
}

}  // namespace flashwise::update
