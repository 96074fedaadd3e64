#pragma once
// Asks the phone's radio for its firmware revision.

#include <optional>
#include <string>

namespace flashwise::phone {

// Empty when the radio layer is missing, refuses, or does not answer within the bound.
std::optional<std::string> QueryRadioRevision();

}  // namespace flashwise::phone
