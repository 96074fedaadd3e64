#include "update/win/SystemUpdateJournalStore.h"

#include <cstdio>
#include <string>

#include "package/Package.h"
#include "update/win/ProgramKey.h"

namespace flashwise::update {
namespace {

constexpr wchar_t kJournalSubkey[] = L"Journal";

std::wstring Now() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    wchar_t text[32];
    std::swprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    return text;
}

}  // namespace

std::optional<UpdateJournal> SystemUpdateJournalStore::Load() {
    HKEY key = OpenProgramSubkey(kJournalSubkey, false);
    if (key == nullptr) return std::nullopt;
    // A record cut short still says that a phone may wait in its boot loader: what is
    // missing reads as unknown (no digest: not this release's), never as no record.
    UpdateJournal journal;
    std::wstring text;
    if (ReadText(key, L"Release", &text)) journal.release = package::FromWide(text);
    if (ReadText(key, L"ImageDigest", &text)) journal.imageDigest = package::FromWide(text);
    if (ReadText(key, L"Started", &text)) journal.started = package::FromWide(text);
    std::uint32_t number = 0;
    journal.bootLoaderPass = ReadNumber(key, L"BootLoaderPass", &number) && number != 0;
    if (ReadNumber(key, L"Pass", &number) && number <= static_cast<std::uint32_t>(JournalPass::Main)) {
        journal.pass = static_cast<JournalPass>(number);
    }
    RegCloseKey(key);
    return journal;
}

bool SystemUpdateJournalStore::Save(const UpdateJournal& journal) {
    HKEY key = OpenProgramSubkey(kJournalSubkey, true);
    if (key == nullptr) return false;
    const bool ok = WriteText(key, L"Release", package::ToWide(journal.release)) &&
                    WriteText(key, L"ImageDigest", package::ToWide(journal.imageDigest)) &&
                    WriteNumber(key, L"BootLoaderPass", journal.bootLoaderPass ? 1 : 0) &&
                    WriteNumber(key, L"Pass", static_cast<std::uint32_t>(journal.pass)) &&
                    WriteText(key, L"Started", journal.started.empty() ? Now() : package::ToWide(journal.started)) &&
                    RegFlushKey(key) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

void SystemUpdateJournalStore::Remove() { RemoveProgramSubkey(kJournalSubkey); }

}  // namespace flashwise::update
