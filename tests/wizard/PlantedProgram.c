/* What someone else left where the wizard might look for its desktop helper: when it
   runs, it writes its command line into the file FLASHWISE_PLANTED_MARKER names (the
   wizard passes its environment on), else into one named after itself with ".ran". */

#include <stdio.h>
#include <windows.h>

int wmain(void)
{
    wchar_t path[MAX_PATH + 8];
    FILE* marker;
    DWORD length = GetEnvironmentVariableW(L"FLASHWISE_PLANTED_MARKER", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        length = GetModuleFileNameW(NULL, path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return 1;
        lstrcatW(path, L".ran");
    }
    marker = _wfopen(path, L"a");
    if (marker == NULL) return 1;
    fwprintf(marker, L"%ls\n", GetCommandLineW());
    fclose(marker);
    return 0;
}
