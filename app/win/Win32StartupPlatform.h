#pragma once
// Start-up's view of Windows.

#include "app/StartupPlatform.h"
#include "update/PrivateFolder.h"
#include "update/win/SystemPrivateFolders.h"

namespace flashwise::app {

class Win32StartupPlatform final : public StartupPlatform {
public:
    void RegisterCommonControls() override;
    std::uint16_t UserUiLanguage() override;
    std::u16string ApplicationName() override;
    bool UseSatelliteLibrary(std::u16string_view fileName) override;
    std::u16string ReadModelText(unsigned id) override;
    void ShowStartupMessage(unsigned textId, std::u16string_view displayName) override;
    std::uint32_t PackedVersion() override;
    bool ProbeSystemLibrary(std::u16string_view fileName) override;
    bool MakeWorkFolder() override;
    void RemoveWorkFolder() override;
    void RunWelcomePage() override;
    bool FirstCopy() override;
    void BringFirstCopyForward() override;
    void ActOnLeftRecord() override;

private:
    update::SystemPrivateFolders folders_;
    update::PrivateWorkFolder workFolder_{folders_};
};

}  // namespace flashwise::app
