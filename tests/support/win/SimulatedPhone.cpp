#include "tests/support/win/SimulatedPhone.h"

#include "sim/phone/win/PhoneStore.h"
#include "tests/support/win/WineTestSupport.h"

namespace flashwise::winetest {

namespace {
constexpr DWORD kSetupBoundMs = 30000;
}

SimulatedPhone::SimulatedPhone(const std::string& name, const std::string& phoneIni)
{
    folder_ = CurrentFolder() + L"\\phone-" + std::wstring(name.begin(), name.end());
    RemoveTree(folder_);
    const std::wstring stateFile = folder_ + L".ini";
    if (!WriteTextFile(stateFile, phoneIni))
        return;
    // The phone is set up the way a demo sets it up.
    const ProcessResult setup = RunCaptured(L"\"" + GivenPath("SimPhoneSetup") + L"\" --state \"" + stateFile +
                                                L"\" \"" + folder_ + L"\"",
                                            kSetupBoundMs);
    DeleteFileW(stateFile.c_str());
    ready_ = setup.ended && setup.exitCode == 0 && SetEnvironmentVariableW(L"FLASHWISE_PHONE", folder_.c_str());
}

SimulatedPhone::~SimulatedPhone()
{
    SetEnvironmentVariableW(L"FLASHWISE_PHONE", nullptr);
    RemoveTree(folder_);
}

std::wstring SimulatedPhone::FileOnDesktop(const std::wstring& phonePath) const
{
    return folder_ + L"\\files" + phonePath;
}

std::string SimulatedPhone::StateText() const
{
    return ReadTextFile(folder_ + L"\\phone.ini");
}

bool SimulatedPhone::Set(const std::string& section, const std::string& key, const std::string& value) const
{
    simphone::PhoneStore store;
    if (!store.Ok())
        return false;
    store.Document().Set(section, key, value);
    return store.Save();
}

std::string SimulatedPhone::WorldLogText() const
{
    return ReadTextFile(folder_ + L"\\world.log");
}

RapiLibrary::RapiLibrary()
{
    wchar_t system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
        module_ = LoadLibraryW((std::wstring(system) + L"\\Rapi.dll").c_str());
}

RapiLibrary::~RapiLibrary()
{
    if (module_)
        FreeLibrary(module_);
}

}  // namespace flashwise::winetest
