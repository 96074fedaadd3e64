#pragma once
// The simulated phone's state file: "[section]" lines, "key=value" lines, "#" or ";"
// comments. Section and key names compare without regard to ASCII case; order is
// kept so that a file written back reads like the one a test wrote.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace flashwise::simphone {

class IniDocument {
public:
    // Nullopt for a line that is neither a section, a key, a comment nor blank, or a
    // key before the first section; *error then names the line.
    static std::optional<IniDocument> Parse(const std::string& text, std::string* error = nullptr);
    std::string Serialize() const;

    bool HasSection(const std::string& section) const;
    void AddSection(const std::string& section);
    const std::string* Get(const std::string& section, const std::string& key) const;
    void Set(const std::string& section, const std::string& key, const std::string& value);
    bool Remove(const std::string& section, const std::string& key);
    std::vector<std::string> Keys(const std::string& section) const;

private:
    struct Section {
        std::string name;
        std::vector<std::pair<std::string, std::string>> entries;
    };
    Section* Find(const std::string& section);
    const Section* Find(const std::string& section) const;
    std::vector<Section> sections_;
};

bool EqualsIgnoringCase(const std::string& a, const std::string& b);

}  // namespace flashwise::simphone
