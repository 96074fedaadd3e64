#include "update/PrivateFolder.h"

namespace flashwise::update {

bool PrivateWorkFolder::Make() {
    if (folder_) return true;
    const std::filesystem::path base = folders_.Base();
    if (base.empty()) return false;
    for (int attempt = 0; attempt < kPrivateFolderTries; ++attempt) {
        const std::filesystem::path candidate = WorkFolder::PrivateFolderIn(base, folders_.RandomToken());
        switch (folders_.Create(candidate)) {
        case PrivateFolders::Made::Created:
            folder_.emplace(candidate);
            return true;
        case PrivateFolders::Made::Exists:
            // Someone else's: never used, never touched.
            continue;
        case PrivateFolders::Made::Failed:
            return false;
        }
    }
    return false;
}

void PrivateWorkFolder::Remove() {
    if (!folder_) return;
    folders_.Remove(folder_->Path());
    folder_.reset();
}

}  // namespace flashwise::update
