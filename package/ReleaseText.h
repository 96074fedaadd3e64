#pragma once
// Release texts: 8-bit runs with no length field, widened character by character.
// Each reader has its own rule for entries of unusual length.
//
// Portable text type: std::u16string (UTF-16 code units on every platform, unlike
// wchar_t, which is 32-bit on Linux). Windows code converts to std::wstring with
// ToWide() in package/Package.h.

#include <cstddef>
#include <optional>
#include <string>

#include "package/ByteView.h"

namespace flashwise::package {

enum class ReleaseTextRule {
    // Model identity (160) and display name (161): used only when the entry holds
    // 1 to 259 bytes, otherwise empty.
    ModelName,
    // Language code (159): used when the entry holds fewer than 260 bytes.
    LanguageCode,
    // New ROM and radio versions (156, 157): the whole entry, cut to 50 characters.
    NewVersion,
};

constexpr std::size_t kModelNameMaxBytes = 259;
constexpr std::size_t kLanguageCodeMaxBytes = 259;
constexpr std::size_t kNewVersionMaxChars = 50;

// Each byte becomes the character of the same code; stops at the first zero byte.
std::u16string WidenReleaseText(ByteView bytes);

// A missing entry (nullopt) reads as empty under every rule.
std::u16string ApplyReleaseTextRule(const std::optional<ByteView>& entry, ReleaseTextRule rule);

}  // namespace flashwise::package
