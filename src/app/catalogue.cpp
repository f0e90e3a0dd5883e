#include "app/catalogue.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace ravelin::app {

namespace files = ravelin::platform::files;

namespace {

struct EngineFile {
    const char* typeName;
    const char* set0;
    const char* set1;
};

// Type 0 (the engine itself) has no file of its own. The set-1 host image is
// handed out as "SP6v.bin", the name it ships under.
constexpr EngineFile EngineFiles[] = {
    {"Engine", "", ""},
    {"Loader", "Loader.bin", "Loader.bin"},
    {"Host", "KL2Host.bin", "SP6v.bin"},
    {"Effects", "FX1.bin", "FX1.bin"},
    {"FX2", "FX2.bin", "FX2.bin"},
    {"FPGA", "KL3a.bit", "SP6e.bit"},
};
constexpr int EngineFileTypeCount = static_cast<int>(std::size(EngineFiles));

bool endsWithNoCase(const std::string& text, std::string_view tail) {
    if (text.size() < tail.size()) return false;
    return std::equal(tail.begin(), tail.end(), text.end() - static_cast<long>(tail.size()),
                      [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The two characters of a record's data byte. A stray character in the field
// is skipped rather than costing the whole version.
uint8_t lenientHexByte(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    unsigned value = 0;
    for (; i < text.size(); ++i) {
        int d = hexDigit(text[i]);
        if (d >= 0) value = value * 16 + static_cast<unsigned>(d);
    }
    return static_cast<uint8_t>(value);
}

// A decimal field of exactly `count` digits at `offset`; -1 when it runs past
// the bytes read or holds anything but digits.
int digitsAt(const std::vector<uint8_t>& bytes, size_t offset, size_t count) {
    if (offset + count > bytes.size()) return -1;
    int value = 0;
    for (size_t i = 0; i < count; ++i) {
        uint8_t c = bytes[offset + i];
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

int bcdValue(uint8_t b) { return (b >> 4) * 10 + (b & 15); }

// The header of an FPGA bit file holds its build date as "yyyy/mm/dd"; the
// first "/" within the first 128 bytes is the one after the year.
std::string bitHeaderDate(const std::vector<uint8_t>& header) {
    constexpr size_t LastSlashOffset = 124;
    size_t limit = std::min(header.size(), LastSlashOffset + 1);
    size_t slash = 0;
    while (slash < limit && header[slash] != '/') ++slash;
    if (slash == limit || slash < 4) return {};
    int day = digitsAt(header, slash + 4, 2);
    int month = digitsAt(header, slash + 1, 2);
    int year = digitsAt(header, slash - 4, 4);
    if (day < 0 || month < 0 || year < 0 || !IsValidDate(day, month, year)) return {};
    return DateText(day, month, year);
}

// Sharc rack code carries its build date as BCD in the ten bytes at 1536.
constexpr uint64_t RackCodeDateBlock = 1536;
constexpr size_t RackCodeDateBlockSize = 10;
constexpr size_t RackCodeDateOffset = 6;

} // namespace

std::string EngineFileName(int fileType, int engineFileSet) {
    if (fileType < 0 || fileType >= EngineFileTypeCount) return {};
    switch (engineFileSet) {
    case 0: return EngineFiles[fileType].set0;
    case 1: return EngineFiles[fileType].set1;
    default: return {};
    }
}

std::string EngineFileTypeName(int fileType) {
    if (fileType < 0 || fileType >= EngineFileTypeCount) return {};
    return EngineFiles[fileType].typeName;
}

std::string SurfaceFileNameForType(int panelType) {
    switch (panelType) {
    case 0: case 1: case 2: return "KL2worksurface.hex";
    case 8: case 9: case 10: return "KR20worksurface.hex";
    case 16: case 17: return "KR30worksurface.hex";
    case 24: case 25: case 26: return "KR40worksurface.hex";
    case 27: return "KR40FaderPod.hex";
    case 32: return "KR10worksurface.hex";
    case 40: case 41: return "KR70worksurface.hex";
    case 64: case 65: return "KR60worksurface.bin";
    case 128: return "Timecode.hex";
    case 129: return "GPIOandMidi.hex";
    case 130: return "KR40REGpioTimecode.hex";
    case 132: return "KR40 GPIO macro.hex";
    case 133: return "KR70 GPIO macro.hex";
    case 134: return "KR60GPIO.hex";
    case 144: return "LocalIO.hex";
    case 145: return "KR20LocalIO.hex";
    case 146: return "KR30LocalIO.hex";
    case 147: return "KR40LocalIO.hex";
    case 148: return "KR10LocalIO.hex";
    case 149: return "KR70LocalIO.hex";
    case 150: return "KR60LocalIO.hex";
    case 160: return "Redundant Switch.hex";
    case 161: return "KR70powercon.hex";
    default: return {};
    }
}

bool IsLocalIOHexType(int panelType) { return panelType >= 145 && panelType <= 150; }

bool UsesLocalIOTiva(int panelType, uint16_t panelVersion, bool tivaFileExists) {
    if (!IsLocalIOHexType(panelType)) return false;
    return panelVersion > 100 || (panelVersion < 10 && tivaFileExists);
}

int SurfacePanelType(int panelType, int port, bool kr40WorkSurfaceExists) {
    bool kr40Panel = (panelType >= 24 && panelType <= 26) || panelType == 147;
    if (!kr40Panel || kr40WorkSurfaceExists) return panelType;
    return port == 0 ? 27 : -1;
}

std::string RackCodeFileName(int rackType) {
    switch (rackType) {
    case 0: case 1: return "Rack.bin";
    case 2: case 4: case 5: return "Rack8b.bin";
    case 3: return "LRack8b.bin";
    case 6: return "L2Rack8b.bin";
    case 9: return "NRack.bin";
    default: return {};
    }
}

std::string RackFPGAFileName(int rackType) {
    switch (rackType) {
    case 0: case 1: return "Rack.bit";
    case 2: case 4: case 5: return "Rack8b.bit";
    case 3: return "LRack.bit";
    case 6: return "L2Rack.bit";
    default: return {}; // a Zynq rack (9) carries its FPGA inside its code image
    }
}

uint16_t VersionAfterMarker(const std::string& path, bool twoBytes) {
    if (!files::exists(path)) return 0;
    auto image = files::readAll(path);
    if (!image) return 0;
    static constexpr std::string_view Marker = "version";
    auto it = std::search(image->begin(), image->end(), Marker.begin(), Marker.end());
    if (it == image->end()) return 0;
    // The word is followed by one separator byte, whatever it is, and then
    // the value.
    size_t at = static_cast<size_t>(it - image->begin()) + Marker.size() + 1;
    size_t needed = at + (twoBytes ? 2 : 1);
    if (needed > image->size()) return 0;
    uint16_t value = (*image)[at];
    if (twoBytes) value = static_cast<uint16_t>(value * 256 + (*image)[at + 1]);
    return value;
}

uint8_t HexMarkerVersion(const std::string& path) {
    files::LineReader reader;
    if (!reader.open(path)) return 0;
    while (!reader.atEnd()) {
        std::string line = reader.readLine();
        // The last line is the end-of-file record; it is never the version.
        if (reader.atEnd()) break;
        if (line.size() >= 7 && line.compare(3, 4, "0800") == 0) {
            // Characters 18 and 19: the fifth data byte of the record, the
            // image byte at 0804 where the panel code keeps its version.
            std::string_view field = line.size() > 17 ? std::string_view(line).substr(17, 2)
                                                      : std::string_view();
            return lenientHexByte(field);
        }
    }
    return 0;
}

uint8_t SurfaceFileVersionOf(const std::string& programFolder, const std::string& fileName) {
    if (fileName.empty()) return 0;
    std::string path = files::join(programFolder, fileName);
    if (!files::exists(path)) return 0;
    if (endsWithNoCase(fileName, ".bin")) return static_cast<uint8_t>(VersionAfterMarker(path, false));
    return HexMarkerVersion(path);
}

std::string BitFileDateText(const std::string& programFolder, const std::string& name) {
    if (name.empty()) return {};
    std::string path = files::join(programFolder, name);
    if (name.find(".bit") != std::string::npos) {
        auto header = files::readAt(path, 0, 128);
        if (!header) return {};
        return bitHeaderDate(*header);
    }
    auto block = files::readAt(path, RackCodeDateBlock, RackCodeDateBlockSize);
    if (!block || block->size() < RackCodeDateBlockSize) return {};
    return BcdDateText(block->data() + RackCodeDateOffset);
}

std::string FileDateText(const std::string& programFolder, const std::string& name) {
    if (name.empty()) return {};
    auto date = files::modificationDate(files::join(programFolder, name));
    if (!date) return {};
    return DateText(date->day, date->month, date->year);
}

std::string BcdDateText(const uint8_t bcd[4]) {
    int day = bcdValue(bcd[0]);
    int month = bcdValue(bcd[1]);
    int year = bcdValue(bcd[3]) * 100 + bcdValue(bcd[2]);
    if (!IsValidDate(day, month, year)) return {};
    return DateText(day, month, year);
}

std::string DateText(int day, int month, int year) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d", day, month, year);
    return text;
}

bool ParseDateText(const std::string& text, int& day, int& month, int& year) {
    // Fields: day (1-2 digits) "/" month (1-2 digits) "/" year (4 digits).
    int values[3] = {0, 0, 0};
    const size_t minDigits[3] = {1, 1, 4};
    const size_t maxDigits[3] = {2, 2, 4};
    size_t pos = 0;
    for (int field = 0; field < 3; ++field) {
        if (field > 0) {
            if (pos >= text.size() || text[pos] != '/') return false;
            ++pos;
        }
        size_t digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            if (++digits > maxDigits[field]) return false;
            values[field] = values[field] * 10 + (text[pos] - '0');
            ++pos;
        }
        if (digits < minDigits[field]) return false;
    }
    if (pos != text.size()) return false;
    if (!IsValidDate(values[0], values[1], values[2])) return false;
    day = values[0];
    month = values[1];
    year = values[2];
    return true;
}

bool IsValidDate(int day, int month, int year) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    static constexpr int DaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    int last = DaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0);
    return day <= last;
}

std::string VersionText(uint16_t value, bool twoBytes) {
    if (value == 0) return {};
    if (!twoBytes) return std::to_string(value);
    return std::to_string(value >> 8) + "." + std::to_string(value & 0xFF);
}

} // namespace ravelin::app
