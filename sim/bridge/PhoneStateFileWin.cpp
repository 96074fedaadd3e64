// Under Wine the bridge reads phone.ini as the phone's own processes do: through the
// phone's store, under its named mutex, from the folder FLASHWISE_PHONE names; and it
// writes its opens into the world's log beside it.
#include <windows.h>

#include "sim/bridge/PhoneModeWatch.h"
#include "sim/phone/win/PhoneStore.h"
#include "sim/phone/win/WorldLogFile.h"

namespace flashwise::bridge {

namespace {

bool UsePhoneFolder(const std::string& folder) {
    const std::wstring wide = simphone::Utf8ToWide(folder);
    wchar_t current[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"FLASHWISE_PHONE", current, MAX_PATH);
    if (length > 0 && length < MAX_PATH && wide == current) return true;
    return SetEnvironmentVariableW(L"FLASHWISE_PHONE", wide.c_str()) != FALSE;
}

}  // namespace

std::optional<std::string> ReadPhoneStateText(const std::string& folder) {
    if (!UsePhoneFolder(folder)) return std::nullopt;
    simphone::PhoneStore store;
    if (!store.Ok()) return std::nullopt;
    return store.Document().Serialize();
}

void LogBridgeOpen(const std::string& folder, const std::string& refusal) {
    if (!UsePhoneFolder(folder)) return;
    if (refusal.empty())
        simphone::LogWorldAct("bridge", "open");
    else
        simphone::LogWorldAct("bridge", "open-refused", {{"why", refusal}});
}

}  // namespace flashwise::bridge
