#include "tests/support/win/WineTestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace flashwise::winetest {

namespace {

std::map<std::string, std::string>& Paths()
{
    static std::map<std::string, std::string> paths;
    return paths;
}

std::wstring Widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

}  // namespace

void ReadPathArguments(int argc, char** argv)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) != "--path")
            continue;
        const std::string pair = argv[++i];
        const std::size_t equals = pair.find('=');
        if (equals != std::string::npos)
            Paths()[pair.substr(0, equals)] = pair.substr(equals + 1);
    }
}

std::wstring GivenPath(const std::string& name)
{
    auto it = Paths().find(name);
    if (it == Paths().end()) {
        ADD_FAILURE() << "the test was not given --path " << name << "=...";
        return L"";
    }
    std::wstring path = Widen(it->second);
    if (!path.empty() && path[0] == L'/') {
        for (wchar_t& c : path)
            if (c == L'/')
                c = L'\\';
        path = L"Z:" + path;
    }
    return path;
}

ProcessResult RunCaptured(const std::wstring& commandLine, DWORD boundMs)
{
    ProcessResult result;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return result;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = nullptr;
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;
    result.ran = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (!result.ran) {
        CloseHandle(readEnd);
        return result;
    }
    // The helpers write a few lines at most; reading after the end cannot block on a full pipe.
    result.ended = WaitForExit(process.hProcess, boundMs, result.exitCode);
    if (!result.ended)
        TerminateProcess(process.hProcess, 255);
    char buffer[4096];
    DWORD read = 0;
    DWORD available = 0;
    while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
           ReadFile(readEnd, buffer, sizeof buffer, &read, nullptr) && read > 0)
        result.output.append(buffer, read);
    CloseHandle(readEnd);
    for (std::size_t at = result.output.find("\r\n"); at != std::string::npos; at = result.output.find("\r\n", at))
        result.output.erase(at, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

bool WaitForExit(HANDLE process, DWORD boundMs, DWORD& exitCode)
{
    if (WaitForSingleObject(process, boundMs) != WAIT_OBJECT_0)
        return false;
    return GetExitCodeProcess(process, &exitCode) != FALSE;
}

std::wstring CurrentFolder()
{
    wchar_t folder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    return folder;
}

bool WriteTextFile(const std::wstring& path, const std::string& text)
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

std::string ReadTextFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "";
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        text.append(buffer, read);
    CloseHandle(file);
    return text;
}

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

}  // namespace flashwise::winetest
