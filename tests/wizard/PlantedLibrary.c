/* A library someone else left beside the program under the name of one that a system
   library loads: when it is loaded, it writes its own path into the file
   FLASHWISE_PLANTED_MARKER names. */

#include <stdio.h>
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    wchar_t marker[MAX_PATH], self[MAX_PATH];
    FILE* file;
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    if (GetEnvironmentVariableW(L"FLASHWISE_PLANTED_MARKER", marker, MAX_PATH) - 1 >= MAX_PATH - 1) return TRUE;
    if (GetModuleFileNameW(instance, self, MAX_PATH) == 0) return TRUE;
    file = _wfopen(marker, L"a");
    if (file == NULL) return TRUE;
    fwprintf(file, L"loaded %ls\n", self);
    fclose(file);
    return TRUE;
}
