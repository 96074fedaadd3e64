#include "app/win/Win32StartupPlatform.h"

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "app/CRUVuveMainApp.h"
#include "app/SatelliteName.h"
#include "app/win/PackageMessage.h"
#include "app/win/SingleInstance.h"
#include "app/win/Win32WizardSystem.h"
#include "link/win/SystemLibrary.h"
#include "package/Package.h"
#include "update/RunRecord.h"
#include "update/win/SystemUpdatePlatform.h"

namespace flashwise::app {
namespace {

constexpr DWORD kAllClassicControls = 0xFF;

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

std::wstring ProgramPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

}  // namespace

void Win32StartupPlatform::RegisterCommonControls() {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = kAllClassicControls;
    InitCommonControlsEx(&controls);
}

std::uint16_t Win32StartupPlatform::UserUiLanguage() { return GetUserDefaultUILanguage(); }

std::u16string Win32StartupPlatform::ApplicationName() {
    return ApplicationNameFromPath(package::FromWide(ProgramPath()));
}

bool Win32StartupPlatform::UseSatelliteLibrary(std::u16string_view fileName) {
    // Only beside the program: the working folder may be a download folder, and even
    // a data-only library decides every text the user reads.
    std::wstring path = ProgramPath();
    const auto slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) {
        return false;
    }
    path.resize(slash + 1);
    path += Wide(fileName);
    HMODULE library = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (library == nullptr) {
        return false;
    }
    // Stays loaded for the rest of the run.
    package::SetStringSource(library);
    return true;
}

std::u16string Win32StartupPlatform::ReadModelText(unsigned id) {
    return package::FromWide(package::ReadReleaseText(id, package::ReleaseTextRule::ModelName));
}

void Win32StartupPlatform::ShowStartupMessage(unsigned textId, std::u16string_view displayName) {
    ShowPackageMessage(nullptr, textId, MB_OK, Wide(displayName));
}

std::uint32_t Win32StartupPlatform::PackedVersion() { return GetVersion(); }

bool Win32StartupPlatform::ProbeSystemLibrary(std::u16string_view fileName) {
    HMODULE library = LoadSystemLibrary(Wide(fileName));
    if (library == nullptr) {
        return false;
    }
    FreeLibrary(library);
    return true;
}

bool Win32StartupPlatform::FirstCopy() { return ClaimSingleInstance(); }

void Win32StartupPlatform::BringFirstCopyForward() { BringRunningCopyForward(); }

void Win32StartupPlatform::ActOnLeftRecord() {
    update::ActOnLeftRecord(update::SystemUpdatePlatform(), &folders_);
}

bool Win32StartupPlatform::MakeWorkFolder() {
    if (!workFolder_.Make()) return false;
    update::SystemUpdatePlatform().folder = *workFolder_.Folder();
    return true;
}

void Win32StartupPlatform::RemoveWorkFolder() { workFolder_.Remove(); }

void Win32StartupPlatform::RunWelcomePage() {
    Win32WizardSystem system(update::SystemUpdatePlatform());
    system.RunWelcomePage();
}

}  // namespace flashwise::app
