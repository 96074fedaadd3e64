#include "package/TextTemplate.h"

namespace flashwise::package {

std::u16string FillTemplate(std::u16string_view text, std::u16string_view name) {
    std::u16string filled;
    filled.reserve(text.size());
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find(kTemplateToken, from);
        if (at == std::u16string_view::npos) {
            filled.append(text.substr(from));
            return filled;
        }
        filled.append(text.substr(from, at - from));
        filled.append(name);
        from = at + kTemplateToken.size();
    }
}

}  // namespace flashwise::package
