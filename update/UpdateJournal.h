#pragma once
// The update journal: from just before the phone is sent to its boot loader until the
// finish page, one record says which release was being written and how far it got. A
// phone left in its boot loader (the cable pulled, a unit refused, the program killed)
// cannot start its system and cannot be reached through the Remote API; the record is
// how the next start knows to look for it there and which passes to run.

#include <cstdint>
#include <optional>
#include <string>

namespace flashwise::update {

class PackagePayloads;
struct UpdatePlatform;

// Which pass of the update runs; its numbers are kept in the record.
enum class JournalPass : std::uint32_t {
    Starting = 0,    // the phone is being sent to its boot loader
    BootLoader = 1,  // the boot-loader image is being written
    Main = 2,        // the image is being written (any boot-loader pass has completed)
};

struct UpdateJournal {
    // The release: its ROM version text and a digest of its image.
    std::u16string release;
    std::u16string imageDigest;
    // The boot-loader pass belongs to this update (a phone of the older system).
    bool bootLoaderPass = false;
    JournalPass pass = JournalPass::Starting;
    // When the update began, as the system's clock wrote it (for a person reading it).
    std::u16string started;
};

// One record per machine, kept where it outlives the process (the Windows side: under
// the program's own key of the local machine's registry).
class UpdateJournalStore {
public:
    virtual ~UpdateJournalStore() = default;
    // Unset when there is none, or it cannot be read whole.
    virtual std::optional<UpdateJournal> Load() = 0;
    // Replaces any record there is; `started` is filled from the system's clock when empty.
    virtual bool Save(const UpdateJournal& journal) = 0;
    virtual void Remove() = 0;
};

// The digest of this release's image ("BIN" 152): its CRC-32 and its length, enough to
// tell one release's image from another's. Empty when the image cannot be read.
std::u16string ImageDigest(PackagePayloads& package);

// What an update that picks up a phone left in its boot loader runs.
struct RecoveryPlan {
    // The boot-loader pass first, then the main pass.
    bool bootLoaderPass = false;
    // The record is another release's: this release's main pass runs only once the
    // user agrees.
    bool otherRelease = false;
};

// From a record left behind, or none (a boot loader found without one): the
// boot-loader pass again only when it belonged to the update and had not completed.
RecoveryPlan PlanRecovery(const std::optional<UpdateJournal>& journal, const std::u16string& imageDigest);

// The record an update of this release writes before it sends the phone away.
UpdateJournal NewJournal(UpdatePlatform& platform, bool bootLoaderPass);

// Each false when it cannot be written; nothing happens without a store.
bool WriteJournal(UpdatePlatform& platform, const UpdateJournal& journal);
bool NoteJournalPass(UpdatePlatform& platform, JournalPass pass);
std::optional<UpdateJournal> ReadJournal(UpdatePlatform& platform);
void RemoveJournal(UpdatePlatform& platform);

}  // namespace flashwise::update
