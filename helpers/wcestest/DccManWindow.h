#pragma once
// The connection manager's hidden top-level window, reached by its class name.

#include "helpers/wcestest/ConnectionSwitch.h"

namespace flashwise::wcestest {

class DccManWindow : public ConnectionManager {
public:
    Answer EnableTypes(std::uint32_t types) override;
};

}  // namespace flashwise::wcestest
