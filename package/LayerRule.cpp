#include "package/LayerRule.h"

namespace flashwise::package {

LayeredEntry LookupByLayer(const ExactLanguageFinder& find) {
    if (auto neutral = find(kNeutralLanguage)) {
        return {Layer::Neutral, *neutral};
    }
    if (auto base = find(kBaseLanguage)) {
        return {Layer::Base, *base};
    }
    return {};
}

}  // namespace flashwise::package
