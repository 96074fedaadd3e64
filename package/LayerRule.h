#pragma once
// Which language layer a "TXT" or "BIN" entry comes from. A release is built by
// laying language-neutral entries over a base layer of language 1028, so the
// neutral entry wins whenever the release supplies one.

#include <cstdint>
#include <functional>
#include <optional>

#include "package/ByteView.h"

namespace flashwise::package {

constexpr std::uint16_t kNeutralLanguage = 0;
constexpr std::uint16_t kBaseLanguage = 1028;

enum class Layer { Neutral, Base, Missing };

struct LayeredEntry {
    Layer layer = Layer::Missing;
    ByteView bytes;
};

// Finds the entry of exactly this language, or nothing. No fallback to other
// languages: the layer rule is the only fallback there is.
using ExactLanguageFinder = std::function<std::optional<ByteView>(std::uint16_t language)>;

LayeredEntry LookupByLayer(const ExactLanguageFinder& find);

}  // namespace flashwise::package
