#include "sim/phone/IniDocument.h"

namespace flashwise::simphone {

namespace {

std::string Trim(const std::string& text)
{
    const std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return "";
    const std::size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool EqualsIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

std::optional<IniDocument> IniDocument::Parse(const std::string& text, std::string* error)
{
    IniDocument document;
    std::size_t lineNumber = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = Trim(text.substr(start, end - start));
        start = end + 1;
        ++lineNumber;
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        if (line[0] == '[') {
            if (line.back() != ']' || line.size() < 3) {
                if (error)
                    *error = "line " + std::to_string(lineNumber) + ": bad section";
                return std::nullopt;
            }
            document.AddSection(Trim(line.substr(1, line.size() - 2)));
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos || equals == 0 || document.sections_.empty()) {
            if (error)
                *error = "line " + std::to_string(lineNumber) + ": expected key=value in a section";
            return std::nullopt;
        }
        document.Set(document.sections_.back().name, Trim(line.substr(0, equals)),
                     Trim(line.substr(equals + 1)));
    }
    return document;
}

std::string IniDocument::Serialize() const
{
    std::string text;
    for (const Section& section : sections_) {
        if (!text.empty())
            text += "\n";
        text += "[" + section.name + "]\n";
        for (const auto& [key, value] : section.entries)
            text += key + "=" + value + "\n";
    }
    return text;
}

IniDocument::Section* IniDocument::Find(const std::string& section)
{
    for (Section& s : sections_)
        if (EqualsIgnoringCase(s.name, section))
            return &s;
    return nullptr;
}

const IniDocument::Section* IniDocument::Find(const std::string& section) const
{
    for (const Section& s : sections_)
        if (EqualsIgnoringCase(s.name, section))
            return &s;
    return nullptr;
}

bool IniDocument::HasSection(const std::string& section) const
{
    return Find(section) != nullptr;
}

void IniDocument::AddSection(const std::string& section)
{
    if (!Find(section))
        sections_.push_back({section, {}});
}

const std::string* IniDocument::Get(const std::string& section, const std::string& key) const
{
    if (const Section* s = Find(section))
        for (const auto& entry : s->entries)
            if (EqualsIgnoringCase(entry.first, key))
                return &entry.second;
    return nullptr;
}

void IniDocument::Set(const std::string& section, const std::string& key, const std::string& value)
{
    AddSection(section);
    Section* s = Find(section);
    for (auto& entry : s->entries)
        if (EqualsIgnoringCase(entry.first, key)) {
            entry.second = value;
            return;
        }
    s->entries.emplace_back(key, value);
}

bool IniDocument::Remove(const std::string& section, const std::string& key)
{
    Section* s = Find(section);
    if (!s)
        return false;
    for (auto it = s->entries.begin(); it != s->entries.end(); ++it)
        if (EqualsIgnoringCase(it->first, key)) {
            s->entries.erase(it);
            return true;
        }
    return false;
}

std::vector<std::string> IniDocument::Keys(const std::string& section) const
{
    std::vector<std::string> keys;
    if (const Section* s = Find(section))
        for (const auto& entry : s->entries)
            keys.push_back(entry.first);
    return keys;
}

}  // namespace flashwise::simphone
