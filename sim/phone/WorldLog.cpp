#include "sim/phone/WorldLog.h"

#include <cstdlib>

namespace flashwise::simphone {

namespace {

std::string Escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == ' ')
            out += "%20";
        else if (c == '%')
            out += "%25";
        else if (c == '\n')
            out += "%0A";
        else if (c != '\r')
            out += c;
    }
    return out;
}

std::string Unescape(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 3, "%20") == 0) {
            out += ' ';
            i += 2;
        } else if (text.compare(i, 3, "%25") == 0) {
            out += '%';
            i += 2;
        } else if (text.compare(i, 3, "%0A") == 0) {
            out += '\n';
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool PlainWord(const std::string& word)
{
    return !word.empty() && word.find_first_of(" =\n") == std::string::npos;
}

std::optional<WorldAct> ParseLine(const std::string& line)
{
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start < line.size()) {
        const std::size_t end = line.find(' ', start);
        words.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    if (words.size() < 3 || words[0].find_first_not_of("0123456789") != std::string::npos ||
        words[0].size() > 19 || !PlainWord(words[1]) || !PlainWord(words[2]))
        return std::nullopt;
    WorldAct act;
    act.ms = std::strtoull(words[0].c_str(), nullptr, 10);
    act.source = words[1];
    act.act = words[2];
    for (std::size_t i = 3; i < words.size(); ++i) {
        const std::size_t equals = words[i].find('=');
        if (equals == std::string::npos || equals == 0)
            return std::nullopt;
        act.fields.emplace_back(words[i].substr(0, equals), Unescape(words[i].substr(equals + 1)));
    }
    return act;
}

}  // namespace

std::optional<std::string> WorldAct::Field(const std::string& name) const
{
    for (const auto& [key, value] : fields)
        if (key == name)
            return value;
    return std::nullopt;
}

std::string FormatWorldAct(const WorldAct& act)
{
    std::string line = std::to_string(act.ms) + " " + Escape(act.source) + " " + Escape(act.act);
    for (const auto& [name, value] : act.fields)
        line += " " + Escape(name) + "=" + Escape(value);
    return line + "\n";
}

std::string HexWord(std::uint32_t word)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        text += digits[(word >> shift) & 0xF];
    return text;
}

std::vector<WorldAct> ParseWorldLog(const std::string& text)
{
    std::vector<WorldAct> acts;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            break;  // an unfinished last line
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (auto act = ParseLine(line))
            acts.push_back(std::move(*act));
        start = end + 1;
    }
    return acts;
}

}  // namespace flashwise::simphone
