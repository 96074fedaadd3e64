#pragma once
// What an update changes on the desktop, written down before the change where it
// outlives the process: a run that is killed, crashes or loses power after it has
// stopped the device-center services (Vista path) or released the synchronisation
// link (XP path) leaves the record behind, and the next start puts the desktop back as
// the record says before anything else. A run that ends in any other way puts it back
// itself and removes the record.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace flashwise::update {

struct UpdatePlatform;
class PrivateFolders;

struct RecordedService {
    std::u16string name;
    std::uint32_t startType = 0;
    std::uint32_t state = 0;
};

struct RunRecord {
    // Vista path: each service as it was before the first change, in the order stopped.
    std::vector<RecordedService> services;
    // XP path: the link was released with " /c:".
    bool desktopLinkReleased = false;
    // Where the run wrote its files.
    std::filesystem::path workFolder;
};

// Where the record lives (the Windows side: under the program's own key of the local
// machine's registry).
class RunRecordStore {
public:
    virtual ~RunRecordStore() = default;
    // Unset when there is none (or it cannot be read).
    virtual std::optional<RunRecord> Load() = 0;
    virtual bool Save(const RunRecord& record) = 0;
    virtual void Remove() = 0;
};

// Vista path, before the first stop of a run: the services' start types and states,
// unless this run recorded them already. False when they cannot be recorded: then
// nothing may be changed.
bool RecordServicesBeforeChange(UpdatePlatform& platform, const std::vector<std::u16string>& names);

// XP path, before " /c:". False when it cannot be recorded.
bool RecordDesktopLinkRelease(UpdatePlatform& platform);

// This run's record, if one was written.
std::optional<RunRecord> RecordedRun(UpdatePlatform& platform);

// The record is done with: the desktop is back as it was.
void ForgetRun(UpdatePlatform& platform);

// At start: a record left by a run that died is acted on first. The services come
// back as recorded (Vista path), the synchronisation link is restored (XP path), the
// files the run left in its folder are deleted and, with `folders`, the private folder
// it made for them is removed; then the record goes. Nothing happens when there is no
// record.
void ActOnLeftRecord(UpdatePlatform& platform, PrivateFolders* folders);

}  // namespace flashwise::update
