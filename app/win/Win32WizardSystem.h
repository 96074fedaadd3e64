#pragma once
// What the pages need from Windows, and the pages themselves: each page is made and run
// modally from inside the command of the page before it.

#include "app/WizardSystem.h"

namespace flashwise::app {

class Win32WizardSystem final : public WizardSystem {
public:
    explicit Win32WizardSystem(update::UpdatePlatform& platform) : platform_(platform) {}

    std::optional<std::uint64_t> TotalPhysicalMemory() override;
    std::uint32_t PackedVersion() override;
    std::u16string ModelIdentity() override;
    std::u16string LanguageCode() override;
    std::unique_ptr<update::WaitWindow> ShowFetchWindow(WindowRef page) override;
    void SetProgressPosition(WindowRef bar, unsigned position) override;
    bool RunDownload(update::CDownloadAgent& agent) override;
    std::unique_ptr<SessionHold> HoldSession(WindowRef page) override;
    void RunWelcomePage() override;
    void RunUpdatePage() override;
    void RunUpdatePageToRecover(const update::RecoveryPlan& plan) override;
    void RunFinishPage() override;

private:
    Wizard ThisWizard() { return Wizard{platform_, *this}; }

    update::UpdatePlatform& platform_;
};

}  // namespace flashwise::app
