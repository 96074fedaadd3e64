#pragma once
// Message boxes of the update, with the package's texts.

#include "update/UserMessages.h"

namespace flashwise::update {

class SystemUserMessages final : public UserMessages {
public:
    void Notify(unsigned textId, WindowRef owner) override;
    void NotifyOnTop(unsigned textId) override;
    bool Confirm(unsigned textId, WindowRef owner) override;
};

}  // namespace flashwise::update
