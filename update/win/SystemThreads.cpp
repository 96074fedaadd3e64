#include "update/win/SystemThreads.h"

#include <windows.h>

namespace flashwise::update {
namespace {

DWORD WINAPI RunBody(LPVOID parameter) {
    // The body, and the parameter block it holds, go when the thread is done with them.
    const std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(parameter));
    (*body)();
    return 0;
}

class SystemWorker final : public Worker {
public:
    explicit SystemWorker(HANDLE thread) : thread_(thread) {}
    ~SystemWorker() override { CloseHandle(thread_); }
    WaitHandle Handle() const override { return thread_; }

private:
    HANDLE thread_;
};

}  // namespace

std::unique_ptr<Worker> SystemThreads::Start(std::function<void()> body) {
    auto* owned = new std::function<void()>(std::move(body));
    const HANDLE thread = CreateThread(nullptr, 0, &RunBody, owned, 0, nullptr);
    if (thread == nullptr) {
        delete owned;
        return nullptr;
    }
    return std::make_unique<SystemWorker>(thread);
}

}  // namespace flashwise::update
