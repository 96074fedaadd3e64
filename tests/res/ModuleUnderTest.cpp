#include "tests/res/ModuleUnderTest.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <cstdio>

#include "tests/res/ResourceReader.h"

namespace flashwise::test {

HMODULE g_module = nullptr;
std::wstring g_modulePath;

int RunResourceTests(int argc, char** argv, const wchar_t* defaultRelativePath) {
    testing::InitGoogleTest(&argc, argv);
    int wideCount = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
    // Arguments left over after GoogleTest took its own: the module path, if any.
    int rest = 1;
    wchar_t* chosen[2] = {wide != nullptr ? wide[0] : nullptr, nullptr};
    for (int i = 1; i < wideCount; ++i) {
        if (wcsncmp(wide[i], L"--gtest", 7) != 0) {
            chosen[1] = wide[i];
            rest = 2;
        }
    }
    g_module = LoadModuleUnderTest(rest, chosen, defaultRelativePath, g_modulePath);
    if (g_module == nullptr) {
        std::fprintf(stderr, "cannot load %ls as data (error %lu)\n", g_modulePath.c_str(), GetLastError());
        return 2;
    }
    std::printf("checking %ls\n", g_modulePath.c_str());
    const int result = RUN_ALL_TESTS();
    FreeLibrary(g_module);
    LocalFree(wide);
    return result;
}

}  // namespace flashwise::test
