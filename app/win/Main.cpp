// The program's entry: start-up runs the whole wizard and the process ends after it.

#include <windows.h>

#include "app/CRUVuveMainApp.h"
#include "app/win/LibrarySearch.h"
#include "app/win/Win32StartupPlatform.h"

int main() {
    // First of all: every library loaded after this comes from the system folder.
    flashwise::app::RestrictLibrarySearch();
    flashwise::app::Win32StartupPlatform platform;
    flashwise::app::TheApp().InitInstance(platform);
    return 0;
}
