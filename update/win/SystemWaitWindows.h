#pragma once
// The wait windows as modeless dialogs of the package.

#include "update/WaitWindows.h"

namespace flashwise::update {

class SystemWaitWindows final : public WaitWindows {
public:
    std::unique_ptr<WaitWindow> ShowSetupConnection() override;
};

}  // namespace flashwise::update
