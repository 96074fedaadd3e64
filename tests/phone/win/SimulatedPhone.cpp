#include "tests/phone/win/SimulatedPhone.h"

#include "tests/phone/win/WineTestSupport.h"

namespace flashwise::winetest {

SimulatedPhone::SimulatedPhone(const std::string& name, const std::string& phoneIni)
{
    folder_ = CurrentFolder() + L"\\phone-" + std::wstring(name.begin(), name.end());
    RemoveTree(folder_);
    const std::wstring windows = folder_ + L"\\files\\windows";
    ready_ = CreateDirectoryW(folder_.c_str(), nullptr) &&
             CreateDirectoryW((folder_ + L"\\files").c_str(), nullptr) &&
             CreateDirectoryW(windows.c_str(), nullptr) &&
             CopyFileW(GivenPath("coredll").c_str(), (windows + L"\\coredll.dll").c_str(), FALSE) &&
             CopyFileW(GivenPath("ril").c_str(), (windows + L"\\ril.dll").c_str(), FALSE) &&
             WriteTextFile(folder_ + L"\\phone.ini", phoneIni) &&
             SetEnvironmentVariableW(L"FLASHWISE_PHONE", folder_.c_str());
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
