#pragma once
#include <map>
#include <string>

namespace ravelin::platform {

// A read-only INI file, read the way the console software's own settings are:
// sections and keys without regard to case, values trimmed of surrounding
// blanks, the first of duplicate keys wins. A missing file reads as empty.
class IniFile {
public:
    explicit IniFile(const std::string& path);

    bool hasKey(const std::string& section, const std::string& key) const;
    std::string readString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    // Decimal (with an optional sign) or hexadecimal with a leading 0x. A
    // missing key, an empty value and any other text give the default.
    long long readInteger(const std::string& section, const std::string& key, long long def) const;
    // Every key of a section, in lower case, with its value.
    std::map<std::string, std::string> section(const std::string& section) const;

    // The integer rule of readInteger, for values read as text.
    static bool parseInteger(const std::string& text, long long& value);

private:
    std::map<std::string, std::map<std::string, std::string>> data_;
};

} // namespace ravelin::platform
