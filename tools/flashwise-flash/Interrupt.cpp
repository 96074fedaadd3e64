#include "tools/flashwise-flash/Interrupt.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace flashwise::flash {

namespace {

std::mutex& Lock() {
    static std::mutex lock;
    return lock;
}

std::vector<std::filesystem::path>& Folders() {
    static std::vector<std::filesystem::path> folders;
    return folders;
}

}  // namespace

void RegisterTemporaryFolder(const std::filesystem::path& folder) {
    std::lock_guard<std::mutex> hold(Lock());
    Folders().push_back(folder);
}

void ForgetTemporaryFolder(const std::filesystem::path& folder) {
    std::lock_guard<std::mutex> hold(Lock());
    auto& folders = Folders();
    folders.erase(std::remove(folders.begin(), folders.end(), folder), folders.end());
}

void CleanUpOnInterrupt() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    // Blocked here, so every later thread has them blocked too and only the waiter takes them.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
        int signal = 0;
        sigwait(&set, &signal);
        {
            std::lock_guard<std::mutex> hold(Lock());
            for (const auto& folder : Folders()) {
                std::error_code ec;
                std::filesystem::remove_all(folder, ec);
            }
        }
        std::fputs("\nflashwise-flash: interrupted; a phone being written is NOT written: restart it into its "
                   "boot loader and run the flash again\n",
                   stderr);
        _exit(130);
    }).detach();
}

}  // namespace flashwise::flash
