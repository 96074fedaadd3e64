#include "sim/phone/PhonePath.h"

namespace flashwise::simphone {

std::optional<std::string> PhoneFileRelativePath(const std::string& phonePathUtf8)
{
    if (phonePathUtf8.empty() || phonePathUtf8[0] != '\\')
        return std::nullopt;
    std::string relative;
    std::size_t start = 1;
    while (start <= phonePathUtf8.size()) {
        std::size_t end = phonePathUtf8.find('\\', start);
        if (end == std::string::npos)
            end = phonePathUtf8.size();
        const std::string part = phonePathUtf8.substr(start, end - start);
        if (part.empty() || part == "." || part == ".." || part.back() == '.' || part.back() == ' ')
            return std::nullopt;
        for (char c : part)
            if (static_cast<unsigned char>(c) < 0x20 || std::string("/:*?\"<>|").find(c) != std::string::npos)
                return std::nullopt;
        relative += (relative.empty() ? "" : "\\") + part;
        start = end + 1;
    }
    return relative;
}

std::string ProgramPhonePath(const std::string& nameUtf8)
{
    std::string path = nameUtf8.find('\\') == std::string::npos ? "\\windows\\" + nameUtf8 : nameUtf8;
    const std::size_t slash = path.find_last_of('\\');
    if (path.find('.', slash) == std::string::npos)
        path += ".exe";
    return path;
}

}  // namespace flashwise::simphone
