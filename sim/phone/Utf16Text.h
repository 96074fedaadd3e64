#pragma once
// UTF-8 (the state file) to UTF-16 (the phone) and back. Invalid input becomes U+FFFD.

#include <string>

namespace flashwise::simphone {

std::u16string Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::u16string& text);

}  // namespace flashwise::simphone
