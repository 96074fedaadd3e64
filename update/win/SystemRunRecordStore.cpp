#include "update/win/SystemRunRecordStore.h"

#include <string>

#include "update/win/ProgramKey.h"

namespace flashwise::update {
namespace {

constexpr wchar_t kRunSubkey[] = L"Run";

std::wstring ServiceValue(std::size_t index, const wchar_t* what) {
    return L"Service" + std::to_wstring(index) + what;
}

}  // namespace

std::optional<RunRecord> SystemRunRecordStore::Load() {
    HKEY key = OpenProgramSubkey(kRunSubkey, false);
    if (key == nullptr) return std::nullopt;
    RunRecord record;
    std::wstring folder;
    if (ReadText(key, L"Folder", &folder)) record.workFolder = folder;
    std::uint32_t released = 0;
    record.desktopLinkReleased = ReadNumber(key, L"DesktopLinkReleased", &released) && released != 0;
    std::uint32_t count = 0;
    ReadNumber(key, L"Services", &count);
    for (std::size_t i = 0; i < count; ++i) {
        std::wstring name;
        RecordedService service;
        // A service whose entry was cut short is not put back half-known.
        if (!ReadText(key, ServiceValue(i, L"Name"), &name) ||
            !ReadNumber(key, ServiceValue(i, L"StartType"), &service.startType) ||
            !ReadNumber(key, ServiceValue(i, L"State"), &service.state)) {
            continue;
        }
        service.name.assign(name.begin(), name.end());
        record.services.push_back(service);
    }
    RegCloseKey(key);
    return record;
}

bool SystemRunRecordStore::Save(const RunRecord& record) {
    HKEY key = OpenProgramSubkey(kRunSubkey, true);
    if (key == nullptr) return false;
    bool ok = WriteText(key, L"Folder", record.workFolder.wstring()) &&
              WriteNumber(key, L"DesktopLinkReleased", record.desktopLinkReleased ? 1 : 0);
    for (std::size_t i = 0; ok && i < record.services.size(); ++i) {
        const RecordedService& service = record.services[i];
        ok = WriteText(key, ServiceValue(i, L"Name"), std::wstring(service.name.begin(), service.name.end())) &&
             WriteNumber(key, ServiceValue(i, L"StartType"), service.startType) &&
             WriteNumber(key, ServiceValue(i, L"State"), service.state);
    }
    // The count last: a record cut short by a power loss names no service it lacks.
    ok = ok && WriteNumber(key, L"Services", static_cast<std::uint32_t>(record.services.size()));
    ok = ok && RegFlushKey(key) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

void SystemRunRecordStore::Remove() { RemoveProgramSubkey(kRunSubkey); }

}  // namespace flashwise::update
