#include "tests/support/app/FakeWizard.h"

#include <gtest/gtest.h>

#include "image/DownloadState.h"
#include "update/CDownloadAgent.h"

namespace flashwise::test {

namespace {

const char* ButtonsName(Buttons buttons) {
    switch (buttons) {
    case Buttons::Ok: return "ok";
    case Buttons::OkCancel: return "okcancel";
    case Buttons::YesNo: break;
    }
    return "yesno";
}

class FakeSessionHold : public app::SessionHold {
public:
    FakeSessionHold(CallLog& log, bool& held) : log_(log), held_(held) {
        EXPECT_FALSE(held_) << "a second hold of the session";
        held_ = true;
        log_.Add("session held");
    }
    ~FakeSessionHold() override {
        held_ = false;
        log_.Add("session released");
    }

private:
    CallLog& log_;
    bool& held_;
};

class FakeFetchWindow : public update::WaitWindow {
public:
    explicit FakeFetchWindow(CallLog& log) : log_(log) { log_.Add("fetch window shown"); }
    ~FakeFetchWindow() override { log_.Add("fetch window closed"); }
    update::WindowRef Handle() const override { return const_cast<FakeFetchWindow*>(this); }

private:
    CallLog& log_;
};

}  // namespace

WindowRef FakePageView::Item(int control) const {
    return const_cast<int*>(&const_cast<FakePageView*>(this)->itemTokens_[control]);
}

void FakePageView::SetItemText(int control, std::u16string_view text) {
    items[control] = std::u16string(text);
    log_.Add("page text " + std::to_string(control) + " " + Narrow(text));
}

void FakePageView::SetItemToString(int control, unsigned textId) {
    const std::string id = std::to_string(textId);
    items[control] = u"#" + std::u16string(id.begin(), id.end());
    log_.Add("page string " + std::to_string(control) + " " + id);
}

void FakePageView::EnableItem(int control, bool enable) {
    enabled[control] = enable;
    log_.Add("page enable " + std::to_string(control) + (enable ? " 1" : " 0"));
}

void FakePageView::ShowTexts() {
    textsShown = true;
    log_.Add("page texts");
}

Answer FakePageView::Ask(unsigned textId, Buttons buttons, bool fillText) {
    log_.Add("ask " + std::to_string(textId) + (fillText ? " filled " : " ") + ButtonsName(buttons));
    if (whileAsking) whileAsking(textId);
    auto& queue = answers[textId];
    if (!queue.empty()) {
        const Answer answer = queue.front();
        queue.pop_front();
        return answer;
    }
    if (++unscripted_ > kUnscriptedBoxes) {
        ADD_FAILURE() << "message box " << textId << " shown again and again, with no answer scripted";
        throw EndlessTest{};
    }
    return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
}

void FakePageView::End(int code) {
    result = code;
    log_.Add("page end " + std::to_string(code));
}

void FakePageView::Close() { log_.Add("page close"); }

std::unique_ptr<update::WaitWindow> FakeWizardSystem::ShowFetchWindow(WindowRef) {
    return std::make_unique<FakeFetchWindow>(log_);
}

void FakeWizardSystem::SetProgressPosition(WindowRef, unsigned position) {
    positions.emplace_back(ticks_.Now(), position);
    log_.Add("progress " + std::to_string(position));
}

bool FakeWizardSystem::RunDownload(update::CDownloadAgent& agent) {
    log_.Add("download");
    // One unit written, unless the scripted download says otherwise.
    agent.State().SetUnitsWritten(1);
    const bool ok = download ? download(agent) : true;
    agent.State().SetFinished(true);
    return ok;
}

std::unique_ptr<app::SessionHold> FakeWizardSystem::HoldSession(WindowRef) {
    return std::make_unique<FakeSessionHold>(log_, sessionHeld);
}

void FakeWizardSystem::RunUpdatePage() {
    log_.Add("page update run");
    if (onUpdatePage) onUpdatePage();
}

void FakeWizardSystem::RunUpdatePageToRecover(const update::RecoveryPlan& plan) {
    log_.Add(std::string("page update run to recover ") + (plan.bootLoaderPass ? "1" : "0"));
    if (onUpdatePage) onUpdatePage();
}

void FakeWizardSystem::RunFinishPage() {
    log_.Add("page finish run");
    if (onFinishPage) onFinishPage();
}

}  // namespace flashwise::test
