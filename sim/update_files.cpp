#include "update_files.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>

namespace ravelin::sim {

namespace {

// Deterministic filler in 0x80..0xFF: never text, so it can neither hide a
// "version" marker nor put a "/" before the one in a bit file header.
class Filler {
public:
    explicit Filler(uint32_t seed) : state_(seed ? seed : 1) {}
    uint8_t next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<uint8_t>(0x80 | (state_ >> 24));
    }
    // Any byte value, for the data records of panel code.
    uint8_t nextAny()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<uint8_t>(state_ >> 24);
    }

private:
    uint32_t state_;
};

uint8_t bcd(int v) { return static_cast<uint8_t>((v / 10) << 4 | (v % 10)); }

} // namespace

bool isValidDate(const Date& d)
{
    if (d.year < 1 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1) return false;
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
    int max = days[d.month - 1] + (d.month == 2 && leap ? 1 : 0);
    return d.day <= max;
}

std::string dateText(const Date& d)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", d.day % 100, d.month % 100, d.year % 10000);
    return buf;
}

std::string fpgaDateText(const Date& d)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d%02d%04d", d.day % 100, d.month % 100, d.year % 10000);
    return buf;
}

std::string intelHexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data)
{
    std::string line = ":";
    char buf[4];
    unsigned sum = 0;
    auto put = [&](uint8_t b) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        line += buf;
        sum += b;
    };
    put(static_cast<uint8_t>(data.size()));
    put(static_cast<uint8_t>(address >> 8));
    put(static_cast<uint8_t>(address & 0xFF));
    put(type);
    for (uint8_t b : data) put(b);
    put(static_cast<uint8_t>((0x100 - (sum & 0xFF)) & 0xFF));
    return line;
}

std::vector<std::string> panelHexLines(int lineCount, uint8_t version, uint32_t seed)
{
    lineCount = std::max(lineCount, 3);
    const int dataLines = lineCount - 2;
    // Code from address 0 when the file is long enough to reach 0800;
    // otherwise a shorter stretch with 0800 in its middle.
    uint32_t address = dataLines >= 0x0800 / 16 + 2 ? 0 : 0x0800 - 16 * uint32_t((dataLines - 1) / 2);

    Filler fill(seed);
    std::vector<std::string> lines;
    lines.reserve(std::size_t(lineCount));
    lines.push_back(intelHexRecord(0x04, 0, {uint8_t(address >> 24), uint8_t(address >> 16)}));
    while (int(lines.size()) < lineCount - 1) {
        if (address % 0x10000 == 0 && address != 0) {
            lines.push_back(intelHexRecord(0x04, 0, {uint8_t(address >> 24), uint8_t(address >> 16)}));
            if (int(lines.size()) >= lineCount - 1) break;
        }
        std::vector<uint8_t> data(16);
        for (auto& b : data) b = fill.nextAny();
        if (address == 0x0800) {
            // The code's header: a jump over it, then the version byte.
            data[0] = 0x02; data[1] = 0x08; data[2] = 0x10; data[3] = 0x00;
            data[4] = version;
        }
        lines.push_back(intelHexRecord(0x00, uint16_t(address & 0xFFFF), data));
        address += 16;
    }
    lines.push_back(intelHexRecord(0x01, 0, {}));
    return lines;
}

std::vector<uint8_t> markerImage(std::size_t size, const std::vector<uint8_t>& versionBytes,
                                 const std::string& title, uint32_t seed)
{
    std::string marker = title + " version ";
    std::vector<uint8_t> tail(marker.begin(), marker.end());
    tail.insert(tail.end(), versionBytes.begin(), versionBytes.end());
    tail.push_back(0x00);
    size = std::max(size, tail.size() + 64);

    Filler fill(seed);
    std::vector<uint8_t> image(size);
    for (auto& b : image) b = fill.next();
    // A vector table's worth of code before the identification text.
    const std::size_t at = std::min<std::size_t>(0x200, size - tail.size());
    std::copy(tail.begin(), tail.end(), image.begin() + std::ptrdiff_t(at));
    return image;
}

std::vector<uint8_t> bitFileImage(const std::string& design, const Date& built,
                                  std::size_t size, uint32_t seed)
{
    std::string name = design.substr(0, 60);
    std::replace(name.begin(), name.end(), '/', '_');
    char date[16];
    std::snprintf(date, sizeof date, "%04d/%02d/%02d", built.year % 10000, built.month % 100,
                  built.day % 100);
    std::string header = std::string("FPGA", 4) + '\0' + "design=" + name +
                         ";part=rv16-2;date=" + date + ";time=10:21:33;" + '\0';
    std::vector<uint8_t> image(header.begin(), header.end());
    const std::size_t payload = size > header.size() + 4 ? size - header.size() - 4 : 256;
    image.push_back(uint8_t(payload >> 24));
    image.push_back(uint8_t(payload >> 16));
    image.push_back(uint8_t(payload >> 8));
    image.push_back(uint8_t(payload));
    Filler fill(seed);
    for (std::size_t i = 0; i < payload; ++i) image.push_back(fill.next());
    return image;
}

std::vector<uint8_t> rackCodeImage(const Date& built, std::size_t size, uint32_t seed)
{
    size = std::max(size, kRackCodeDateOffset + 64);
    Filler fill(seed);
    std::vector<uint8_t> image(size);
    for (auto& b : image) b = fill.next();
    image[kRackCodeDateOffset + 0] = bcd(built.day % 100);
    image[kRackCodeDateOffset + 1] = bcd(built.month % 100);
    image[kRackCodeDateOffset + 2] = bcd(built.year % 100);
    image[kRackCodeDateOffset + 3] = bcd(built.year / 100 % 100);
    return image;
}

bool writeBinaryFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

bool writeTextLines(const std::filesystem::path& path, const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& l : lines) {
        text += l;
        text += "\r\n";
    }
    return writeBinaryFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

bool setFileDate(const std::filesystem::path& path, const Date& date)
{
    std::tm tm{};
    tm.tm_year = date.year - 1900;
    tm.tm_mon = date.month - 1;
    tm.tm_mday = date.day;
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == std::time_t(-1)) return false;
    timespec times[2] = {{t, 0}, {t, 0}};
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

} // namespace ravelin::sim
