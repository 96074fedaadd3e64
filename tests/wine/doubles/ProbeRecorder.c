/* A stand-in for a library of the desktop software that only records that it was
 * loaded: its own full path, one line per load, appended to the file named by
 * FLASHWISE_PROBE_LOG. Which file loaded tells a test where the program looked. */

#include <windows.h>

static void Record(HINSTANCE self) {
    wchar_t log[MAX_PATH];
    wchar_t path[MAX_PATH];
    char line[3 * MAX_PATH + 2];
    DWORD length = GetEnvironmentVariableW(L"FLASHWISE_PROBE_LOG", log, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return;
    }
    length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return;
    }
    int bytes = WideCharToMultiByte(CP_UTF8, 0, path, (int)length, line, (int)sizeof line - 2, NULL, NULL);
    if (bytes <= 0) {
        return;
    }
    line[bytes++] = '\n';
    HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, line, (DWORD)bytes, &written, NULL);
    CloseHandle(file);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        Record(self);
    }
    return TRUE;
}
