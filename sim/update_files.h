#pragma once
// The update files the virtual console leaves in its program folder, each
// carrying a known version in the place the console program looks for it.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ravelin::sim {

struct Date {
    int year = 2000;
    int month = 1;
    int day = 1;
    bool operator==(const Date&) const = default;
};

bool isValidDate(const Date& d);
std::string dateText(const Date& d);        // "dd/mm/yyyy"
std::string fpgaDateText(const Date& d);    // "ddmmyyyy", as a local I/O unit reports it

// One Intel-HEX record, e.g. ":10080000...CC" (no line end).
std::string intelHexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data);

// Panel code of exactly lineCount lines (at least 3): an extended address
// record, 16-byte data records and the end-of-file record. The data record
// at address 0800 carries the version as its fifth byte and is never the last
// line.
std::vector<std::string> panelHexLines(int lineCount, uint8_t version, uint32_t seed);

// A code image with the word "version", one separator byte and the version
// bytes somewhere inside.
std::vector<uint8_t> markerImage(std::size_t size, const std::vector<uint8_t>& versionBytes,
                                 const std::string& title, uint32_t seed);

// An FPGA bit file whose header carries the build date as "yyyy/mm/dd" within
// its first 128 bytes, the first "/" of the file being the one after the year.
std::vector<uint8_t> bitFileImage(const std::string& design, const Date& built,
                                  std::size_t size, uint32_t seed);

// Rack code whose build date is a BCD date (day, month, year in century,
// century) at file offset 1542.
constexpr std::size_t kRackCodeDateOffset = 1542;
std::vector<uint8_t> rackCodeImage(const Date& built, std::size_t size, uint32_t seed);

bool writeBinaryFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
// Text lines, each ended by CR LF.
bool writeTextLines(const std::filesystem::path& path, const std::vector<std::string>& lines);
// Sets the file's modification time to noon, local time, of the date.
bool setFileDate(const std::filesystem::path& path, const Date& date);

} // namespace ravelin::sim
