#pragma once
// The run's record under the program's own key of the local machine's registry,
// written through to disk, so that neither a killed process nor a lost power supply
// takes it along.

#include "update/RunRecord.h"

namespace flashwise::update {

class SystemRunRecordStore final : public RunRecordStore {
public:
    std::optional<RunRecord> Load() override;
    bool Save(const RunRecord& record) override;
    void Remove() override;
};

}  // namespace flashwise::update
