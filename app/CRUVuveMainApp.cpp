#include "app/CRUVuveMainApp.h"

#include "app/PlatformPath.h"
#include "app/SatelliteName.h"
#include "app/StartupTexts.h"
#include "res/ResourceIds.h"

namespace flashwise::app {

StartupEnd CRUVuveMainApp::InitInstance(StartupPlatform& platform) {
    // Two copies would share the named events and the desktop's services: the second
    // one leaves everything to the first.
    if (!platform.FirstCopy()) {
        platform.BringFirstCopyForward();
        return StartupEnd::AnotherCopyRuns;
    }
    // A run that died must not leave the desktop without its synchronisation software,
    // whatever this run then does.
    platform.ActOnLeftRecord();
    platform.RegisterCommonControls();
    ChooseResourceSource(platform);

    modelIdentity_ = platform.ReadModelText(IDTXT_MODEL_IDENTITY);
    modelDisplayName_ = platform.ReadModelText(IDTXT_MODEL_DISPLAY_NAME);

    // The notice comes first on every start, so a desktop that fails a check still
    // shows it before the reason.
    platform.ShowStartupMessage(IDS_START_NOTICE, modelDisplayName_);

    StartupEnd end = StartupEnd::WizardRan;
    if (!DesktopHasLibraries(platform, end)) {
        return end;
    }

    // Every file the run writes goes into a folder of its own that only administrators
    // can change; without one nothing could be written safely.
    if (!platform.MakeWorkFolder()) {
        platform.ShowStartupMessage(IDS_MEMORY_ERROR, modelDisplayName_);
        return StartupEnd::NoWorkFolder;
    }
    platform.RunWelcomePage();
    mainWindow_ = nullptr;
    // Every way out of the wizard comes back here.
    platform.RemoveWorkFolder();
    return StartupEnd::WizardRan;
}

void CRUVuveMainApp::ChooseResourceSource(StartupPlatform& platform) {
    if (platform.UserUiLanguage() != kSatelliteUiLanguage) {
        return;
    }
    // A missing or broken translation is not worth a word: the program's own texts
    // stay in use.
    platform.UseSatelliteLibrary(SatelliteLibraryName(platform.ApplicationName(), kSatelliteAbbreviation));
}

bool CRUVuveMainApp::DesktopHasLibraries(StartupPlatform& platform, StartupEnd& end) {
    if (PlatformPathFromVersion(platform.PackedVersion()) == PlatformPath::Vista &&
        !platform.ProbeSystemLibrary(kWinUsbLibrary)) {
        platform.ShowStartupMessage(IDS_NO_WINUSB, modelDisplayName_);
        end = StartupEnd::WinUsbMissing;
        return false;
    }
    // Both paths talk to the phone through the Remote API; the text names the older
    // synchronisation software on both.
    if (!platform.ProbeSystemLibrary(kRapiLibrary)) {
        platform.ShowStartupMessage(IDS_NO_RAPI, modelDisplayName_);
        end = StartupEnd::RapiMissing;
        return false;
    }
    return true;
}

CRUVuveMainApp& TheApp() {
    static CRUVuveMainApp app;
    return app;
}

}  // namespace flashwise::app
