// Sets up a simulated phone for a demo or a test in one step:
//
//   SimPhoneSetup.exe [--state FILE] [FOLDER]
//
// FOLDER (default: FLASHWISE_PHONE, else C:\flashwise-phone) gets the phone's files
// folder with \windows holding the phone's "coredll.dll" and "ril.dll" (taken from
// beside this program), and the state file "phone.ini": a copy of FILE, or, when
// neither FILE is given nor a state file is there, a phone with every default. The
// state file is checked; a bad one is reported with its line or key and exit code 1.
// Exit code 2 when the folder cannot be made.

#include <windows.h>

#include <cstdio>
#include <string>

#include "sim/phone/IniDocument.h"
#include "sim/phone/PhoneSettings.h"
#include "sim/phone/win/PhoneStore.h"

using namespace flashwise::simphone;

namespace {

const char kDefaultState[] =
    "[phone]\n"
    "reachable=1\n"
    "battery=100\n"
    "os=5.2\n"
    "oem=Simulated Phone\n"
    "rom=1.00.000.1\n"
    "extrom=1.00.00\n"
    "language=WWE\n"
    "radio=1.00.00.00\n"
    "mode=normal\n";

std::wstring OwnFolder()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring own(path, length);
    return own.substr(0, own.find_last_of(L'\\'));
}

bool MakeFolder(const std::wstring& path)
{
    return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

std::string ReadAll(const std::wstring& path, bool& ok)
{
    ok = false;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "";
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        text.append(buffer, read);
    CloseHandle(file);
    ok = true;
    return text;
}

bool WriteAll(const std::wstring& path, const std::string& text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size();
    CloseHandle(file);
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring stateSource;
    std::wstring folder;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--state" && i + 1 < argc)
            stateSource = argv[++i];
        else if (folder.empty() && arg.rfind(L"--", 0) != 0)
            folder = arg;
        else {
            std::fprintf(stderr, "usage: SimPhoneSetup [--state FILE] [FOLDER]\n");
            return 1;
        }
    }
    if (!folder.empty())
        SetEnvironmentVariableW(L"FLASHWISE_PHONE", folder.c_str());
    folder = PhoneFolder();

    const std::wstring windows = PhoneFilesFolder() + L"\\windows";
    if (!MakeFolder(folder) || !MakeFolder(PhoneFilesFolder()) || !MakeFolder(windows)) {
        std::fprintf(stderr, "cannot make the phone's folders under %ls\n", folder.c_str());
        return 2;
    }
    for (const wchar_t* library : {L"coredll.dll", L"ril.dll"}) {
        const std::wstring from = OwnFolder() + L"\\" + library;
        if (!CopyFileW(from.c_str(), (windows + L"\\" + library).c_str(), FALSE)) {
            std::fprintf(stderr, "cannot copy %ls into the phone\n", from.c_str());
            return 2;
        }
    }

    bool present = false;
    std::string state = ReadAll(StateFilePath(), present);
    if (!stateSource.empty()) {
        bool read = false;
        state = ReadAll(stateSource, read);
        if (!read) {
            std::fprintf(stderr, "cannot read %ls\n", stateSource.c_str());
            return 1;
        }
    } else if (!present) {
        state = kDefaultState;
    }
    std::string error;
    const auto document = IniDocument::Parse(state, &error);
    if (!document || !ReadPhoneSettings(*document, &error)) {
        std::fprintf(stderr, "bad phone state: %s\n", error.c_str());
        return 1;
    }
    if (!WriteAll(StateFilePath(), state)) {
        std::fprintf(stderr, "cannot write %ls\n", StateFilePath().c_str());
        return 2;
    }
    std::printf("simulated phone ready in %ls\n", folder.c_str());
    return 0;
}
