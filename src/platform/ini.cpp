#include "platform/ini.h"

#include <cctype>

#include "platform/files.h"

namespace ravelin::platform {

namespace {
std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
std::string trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}
} // namespace

IniFile::IniFile(const std::string& path) {
    auto bytes = files::readAll(path);
    if (!bytes) return;
    std::string text(bytes->begin(), bytes->end());
    std::string section;
    bool inSection = false;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        std::string line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line.front() == '[') {
            auto close = line.find(']');
            section = lower(trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
            inSection = true;
            continue;
        }
        auto eq = line.find('=');
        if (!inSection || eq == std::string::npos) continue;
        std::string key = lower(trim(line.substr(0, eq)));
        std::string value = trim(line.substr(eq + 1));
        // A value in matching quotes is taken without them, as the system's own reader does.
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        auto& keys = data_[section];
        keys.emplace(key, value);
    }
}

bool IniFile::hasKey(const std::string& section, const std::string& key) const {
    auto s = data_.find(lower(section));
    return s != data_.end() && s->second.count(lower(key)) > 0;
}

std::string IniFile::readString(const std::string& section, const std::string& key,
                                const std::string& def) const {
    auto s = data_.find(lower(section));
    if (s == data_.end()) return def;
    auto k = s->second.find(lower(key));
    return k == s->second.end() ? def : k->second;
}

bool IniFile::parseInteger(const std::string& raw, long long& value) {
    std::string t = trim(raw);
    if (t.empty()) return false;
    bool neg = false;
    size_t i = 0;
    if (t[0] == '+' || t[0] == '-') {
        neg = t[0] == '-';
        i = 1;
    }
    int base = 10;
    if (t.size() > i + 1 && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= t.size()) return false;
    unsigned long long v = 0;
    for (; i < t.size(); ++i) {
        int d;
        unsigned char c = static_cast<unsigned char>(t[i]);
        if (std::isdigit(c)) d = c - '0';
        else if (base == 16 && std::isxdigit(c)) d = std::tolower(c) - 'a' + 10;
        else return false;
        v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
        if (v > 0xFFFFFFFFull) return false;
    }
    long long r = static_cast<long long>(v);
    // A hexadecimal value fills 32 bits the way the console's settings mean it.
    if (base == 16 && r > 0x7FFFFFFF) r -= 0x100000000ll;
    value = neg ? -r : r;
    return true;
}

long long IniFile::readInteger(const std::string& section, const std::string& key,
                               long long def) const {
    if (!hasKey(section, key)) return def;
    long long v = 0;
    // An empty or unreadable value says no more than a missing one.
    return parseInteger(readString(section, key, ""), v) ? v : def;
}

std::map<std::string, std::string> IniFile::section(const std::string& name) const {
    auto s = data_.find(lower(name));
    return s == data_.end() ? std::map<std::string, std::string>{} : s->second;
}

} // namespace ravelin::platform
