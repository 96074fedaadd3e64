#pragma once
// The application object: start-up, and the two model texts every later page reads.
// The program has no main window and no message loop of its own; the wizard pages
// are modal and the process ends when the first one returns.

#include <string>

#include "app/StartupPlatform.h"

namespace flashwise::app {

enum class StartupEnd {
    WizardRan,      // the welcome page ran and has ended
    WinUsbMissing,  // Vista path without WinUSB: text 39 shown
    RapiMissing,    // no Remote API library: text 24 shown
    AnotherCopyRuns,  // its window was brought forward; nothing else was done
    NoWorkFolder,   // the private work folder could not be made: text 36 shown
};

class CRUVuveMainApp {
public:
    // Runs every start-up step in order on the calling thread.
    StartupEnd InitInstance(StartupPlatform& platform);

    // TXT 160: compared with the phone's own identity. Empty until start-up read it.
    const std::u16string& ModelIdentity() const { return modelIdentity_; }
    // TXT 161: fills the template token. Empty until start-up read it.
    const std::u16string& ModelDisplayName() const { return modelDisplayName_; }

    // The page that is running, for pages that need to reach the current one.
    void SetMainWindow(void* window) { mainWindow_ = window; }
    void* MainWindow() const { return mainWindow_; }

private:
    void ChooseResourceSource(StartupPlatform& platform);
    bool DesktopHasLibraries(StartupPlatform& platform, StartupEnd& end);

    std::u16string modelIdentity_;
    std::u16string modelDisplayName_;
    void* mainWindow_ = nullptr;
};

// The one instance of the program.
CRUVuveMainApp& TheApp();

}  // namespace flashwise::app
