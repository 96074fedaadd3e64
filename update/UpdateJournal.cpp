#include "update/UpdateJournal.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>

#include "res/ResourceIds.h"
#include "update/UpdatePlatform.h"

namespace flashwise::update {

std::u16string ImageDigest(PackagePayloads& package) {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    if (!package.ReadBinary(IDBIN_FIRMWARE_IMAGE, &data, &size)) return {};
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes a 32-bit length at a time.
    for (std::size_t done = 0; done < size;) {
        const uInt piece = static_cast<uInt>(std::min<std::size_t>(size - done, 1u << 30));
        crc = crc32(crc, data + done, piece);
        done += piece;
    }
    char text[40];
    std::snprintf(text, sizeof text, "%08lX-%llu", static_cast<unsigned long>(crc & 0xFFFFFFFFu),
                  static_cast<unsigned long long>(size));
    return std::u16string(text, text + std::char_traits<char>::length(text));
}

RecoveryPlan PlanRecovery(const std::optional<UpdateJournal>& journal, const std::u16string& imageDigest) {
    RecoveryPlan plan;
    if (!journal) return plan;
    if (imageDigest.empty() || journal->imageDigest != imageDigest) {
        // Another release's boot-loader pass is none of this release's business.
        plan.otherRelease = true;
        return plan;
    }
    plan.bootLoaderPass = journal->bootLoaderPass && journal->pass != JournalPass::Main;
    return plan;
}

UpdateJournal NewJournal(UpdatePlatform& platform, bool bootLoaderPass) {
    UpdateJournal journal;
    journal.release = platform.package.NewRomVersion();
    journal.imageDigest = ImageDigest(platform.package);
    journal.bootLoaderPass = bootLoaderPass;
    return journal;
}

bool WriteJournal(UpdatePlatform& platform, const UpdateJournal& journal) {
    return platform.journal == nullptr || platform.journal->Save(journal);
}

bool NoteJournalPass(UpdatePlatform& platform, JournalPass pass) {
    if (platform.journal == nullptr) return true;
    std::optional<UpdateJournal> journal = platform.journal->Load();
    if (!journal) return false;
    journal->pass = pass;
    return platform.journal->Save(*journal);
}

std::optional<UpdateJournal> ReadJournal(UpdatePlatform& platform) {
    if (platform.journal == nullptr) return std::nullopt;
    return platform.journal->Load();
}

void RemoveJournal(UpdatePlatform& platform) {
    if (platform.journal != nullptr) platform.journal->Remove();
}

}  // namespace flashwise::update
