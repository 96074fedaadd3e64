/* Another process that left the wizard's named events signalled: creates each named
   event as the program does (auto-reset), signals it, says "signalled" and holds the
   events until its standard input closes or its lifetime ends. */

#include <stdio.h>
#include <windows.h>

#define LIFETIME_MS (10 * 60 * 1000)

static DWORD WINAPI WaitForInputEnd(LPVOID unused)
{
    char line[256];
    (void)unused;
    while (fgets(line, sizeof line, stdin) != NULL) {
    }
    return 0;
}

int wmain(int argc, wchar_t** argv)
{
    HANDLE reader;
    int i;
    for (i = 1; i < argc; ++i) {
        HANDLE event = CreateEventW(NULL, FALSE, FALSE, argv[i]);
        if (event == NULL || !SetEvent(event)) {
            fwprintf(stderr, L"NamedEventHolder: %ls: error %lu\n", argv[i], GetLastError());
            return 1;
        }
    }
    printf("signalled\n");
    fflush(stdout);
    reader = CreateThread(NULL, 0, WaitForInputEnd, NULL, 0, NULL);
    if (reader == NULL) {
        Sleep(LIFETIME_MS);
        return 0;
    }
    WaitForSingleObject(reader, LIFETIME_MS);
    return 0;
}
