// Under Wine the bridge reads phone.ini as the phone's own processes do: through the
// phone's store, under its named mutex, from the folder FLASHWISE_PHONE names.
#include <windows.h>

#include "sim/bridge/PhoneModeWatch.h"
#include "sim/phone/win/PhoneStore.h"

namespace flashwise::bridge {

std::optional<std::string> ReadPhoneStateText(const std::string& folder) {
    const std::wstring wide = simphone::Utf8ToWide(folder);
    wchar_t current[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"FLASHWISE_PHONE", current, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || wide != current) {
        if (!SetEnvironmentVariableW(L"FLASHWISE_PHONE", wide.c_str())) return std::nullopt;
    }
    simphone::PhoneStore store;
    if (!store.Ok()) return std::nullopt;
    return store.Document().Serialize();
}

}  // namespace flashwise::bridge
