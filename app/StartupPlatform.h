#pragma once
// What start-up needs from the operating system, and nothing more. The Windows
// adapter lives in app/win; tests drive start-up through a fake.

#include <cstdint>
#include <string>
#include <string_view>

namespace flashwise::app {

class StartupPlatform {
public:
    virtual ~StartupPlatform() = default;

    // True for the one copy of the program that runs; later copies get false.
    virtual bool FirstCopy() = 0;
    // Shows the window of the copy that runs in front of the others.
    virtual void BringFirstCopyForward() = 0;
    // Puts the desktop back as a run that died left it written down, and removes its
    // files; nothing when no run died.
    virtual void ActOnLeftRecord() = 0;

    // All classic common-control classes, the progress bar among them.
    virtual void RegisterCommonControls() = 0;

    virtual std::uint16_t UserUiLanguage() = 0;

    // The executable's file name without folder and extension.
    virtual std::u16string ApplicationName() = 0;

    // Loads the file beside the program as data only and, when that works, makes it
    // the source of every string, dialog layout and icon from then on.
    virtual bool UseSatelliteLibrary(std::u16string_view fileName) = 0;

    // Release text `id` under the model-name length rule (empty when missing).
    virtual std::u16string ReadModelText(unsigned id) = 0;

    // A message box with string `textId`, caption string 22 filled with
    // `displayName`, OK only, no owner. Returns when the user closes it.
    virtual void ShowStartupMessage(unsigned textId, std::u16string_view displayName) = 0;

    // The version value the system packs its major version into (low byte).
    virtual std::uint32_t PackedVersion() = 0;

    // Loads the library from the system folder and releases it at once.
    virtual bool ProbeSystemLibrary(std::u16string_view fileName) = 0;

    // Makes the run's private work folder and sends every file of the program there;
    // false when it cannot be made.
    virtual bool MakeWorkFolder() = 0;
    // Removes it with everything in it.
    virtual void RemoveWorkFolder() = 0;

    // Runs the first wizard page modally and returns when it (and every page it
    // leads to) has ended.
    virtual void RunWelcomePage() = 0;
};

}  // namespace flashwise::app
