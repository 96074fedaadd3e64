/* Another program of the same user that tries to change the named files in a folder
   while the wizard uses them: again and again, until its standard input closes or its
   lifetime ends, it tries to write into each file, to move it away and to delete it.
   Says "ready" when it starts and, at the end, "seen N changed M": N tries found a
   file there, M of them changed it. */

#include <stdio.h>
#include <windows.h>

#define LIFETIME_MS (10 * 60 * 1000)
#define PAUSE_MS 5

static volatile LONG stop;

static DWORD WINAPI WaitForInputEnd(LPVOID unused)
{
    char line[256];
    (void)unused;
    while (fgets(line, sizeof line, stdin) != NULL) {
    }
    InterlockedExchange(&stop, 1);
    return 0;
}

int wmain(int argc, wchar_t** argv)
{
    static const char foreign[] = "FOREIGN BYTES FROM ANOTHER PROGRAM";
    wchar_t path[MAX_PATH], moved[MAX_PATH];
    unsigned long seen = 0, changed = 0;
    DWORD started = GetTickCount();
    int i;
    if (argc < 3) {
        fprintf(stderr, "usage: FileSwapper FOLDER NAME...\n");
        return 2;
    }
    if (CreateThread(NULL, 0, WaitForInputEnd, NULL, 0, NULL) == NULL) return 1;
    printf("ready\n");
    fflush(stdout);
    while (!stop && GetTickCount() - started < LIFETIME_MS) {
        for (i = 2; i < argc; ++i) {
            HANDLE file;
            DWORD written = 0;
            _snwprintf(path, MAX_PATH, L"%ls\\%ls", argv[1], argv[i]);
            _snwprintf(moved, MAX_PATH, L"%ls\\%ls.moved", argv[1], argv[i]);
            path[MAX_PATH - 1] = moved[MAX_PATH - 1] = 0;
            if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) continue;
            ++seen;
            file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                               OPEN_EXISTING, 0, NULL);
            if (file != INVALID_HANDLE_VALUE) {
                /* Inside the first unit of the demo images. */
                SetFilePointer(file, 300, NULL, FILE_BEGIN);
                if (WriteFile(file, foreign, sizeof foreign, &written, NULL) && written != 0) ++changed;
                CloseHandle(file);
            }
            if (MoveFileExW(path, moved, MOVEFILE_REPLACE_EXISTING)) {
                ++changed;
                MoveFileExW(moved, path, MOVEFILE_REPLACE_EXISTING);
            }
        }
        Sleep(PAUSE_MS);
    }
    printf("seen %lu changed %lu\n", seen, changed);
    fflush(stdout);
    return 0;
}
