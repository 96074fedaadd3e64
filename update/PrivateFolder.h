#pragma once
// The run's private work folder: made new, under a name nobody can have taken on
// purpose, with an access list that lets only SYSTEM and the administrators write in it,
// held open so that it cannot be moved; removed with everything in it at the end.

#include <cstdint>
#include <filesystem>
#include <optional>

#include "image/WorkFolder.h"

namespace flashwise::update {

class PrivateFolders {
public:
    enum class Made { Created, Exists, Failed };
    virtual ~PrivateFolders() = default;
    // Where the folders go: a place whose parents unelevated programs cannot rename.
    virtual std::filesystem::path Base() = 0;
    virtual std::uint32_t RandomToken() = 0;
    // Creates `folder` new with the private access list and holds it open.
    virtual Made Create(const std::filesystem::path& folder) = 0;
    // Lets go of `folder`, deletes every file in it, then the folder.
    virtual void Remove(const std::filesystem::path& folder) = 0;
};

// Names already taken are skipped, a few times at most; none when the folder cannot be made.
constexpr int kPrivateFolderTries = 16;

class PrivateWorkFolder {
public:
    explicit PrivateWorkFolder(PrivateFolders& folders) : folders_(folders) {}
    PrivateWorkFolder(const PrivateWorkFolder&) = delete;
    PrivateWorkFolder& operator=(const PrivateWorkFolder&) = delete;
    ~PrivateWorkFolder() { Remove(); }

    // Makes the folder; false when no try succeeded.
    bool Make();
    // Removes it, with what is in it; nothing when none was made.
    void Remove();
    const std::optional<WorkFolder>& Folder() const { return folder_; }

private:
    PrivateFolders& folders_;
    std::optional<WorkFolder> folder_;
};

}  // namespace flashwise::update
