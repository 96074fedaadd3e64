#pragma once
// The update journal under the program's own key of the local machine's registry,
// written through to disk, so that neither a killed process nor a lost power supply
// takes it along.

#include "update/UpdateJournal.h"

namespace flashwise::update {

class SystemUpdateJournalStore final : public UpdateJournalStore {
public:
    std::optional<UpdateJournal> Load() override;
    bool Save(const UpdateJournal& journal) override;
    void Remove() override;
};

}  // namespace flashwise::update
