#pragma once
// The module a resource check runs against, loaded as data by the test's main().

#include <windows.h>

#include <string>

namespace flashwise::test {

extern HMODULE g_module;
extern std::wstring g_modulePath;

// Runs the tests against the module named by the first argument, or by the default
// path relative to the test program. Returns the process exit code.
int RunResourceTests(int argc, char** argv, const wchar_t* defaultRelativePath);

}  // namespace flashwise::test
