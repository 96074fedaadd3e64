#pragma once
// What the Windows tests of the helpers and the simulated phone share: the paths the
// test is given, processes run with their output captured, small file chores.

#include <windows.h>

#include <string>

namespace flashwise::winetest {

// "--path NAME=/unix/path" arguments, left over after GoogleTest took its own.
void ReadPathArguments(int argc, char** argv);
// The named path as Wine sees it (drive Z: is the Unix root); fails the test when absent.
std::wstring GivenPath(const std::string& name);

struct ProcessResult {
    bool ran = false;
    bool ended = false;   // within the bound
    DWORD exitCode = 0;
    std::string output;   // standard output; the console's CR LF read as LF
};

// Runs a command line with its standard output captured; ends it after the bound.
ProcessResult RunCaptured(const std::wstring& commandLine, DWORD boundMs);

// Waits for a process handle within a bound; its exit code, or nullopt-like false.
bool WaitForExit(HANDLE process, DWORD boundMs, DWORD& exitCode);

std::wstring CurrentFolder();
bool WriteTextFile(const std::wstring& path, const std::string& text);
std::string ReadTextFile(const std::wstring& path);
void RemoveTree(const std::wstring& path);

}  // namespace flashwise::winetest
