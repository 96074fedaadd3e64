#pragma once
// The model display name goes into user-visible texts through one token.

#include <string>
#include <string_view>

namespace flashwise::package {

inline constexpr std::u16string_view kTemplateToken = u"KROV_WORD_TEMPLATE";

// Replaces every occurrence of the token, exact and case-sensitive, left to right
// without overlap. An empty name removes the token.
std::u16string FillTemplate(std::u16string_view text, std::u16string_view name);

}  // namespace flashwise::package
