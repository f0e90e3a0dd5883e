#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// File helpers. The console's file system ignores letter case, and the Parts
// write paths with backslashes; both are taken care of here: every path given
// to these helpers may use '\' or '/' and is matched without regard to case,
// component by component (an exact match wins over a case-insensitive one).
namespace ravelin::platform::files {

// The path as it stands on disk, or nullopt when nothing matches.
std::optional<std::string> resolve(const std::string& path);
// Where a new file of this path would be created: the existing folder, as it
// stands on disk, and the last component as given.
std::string resolveForCreate(const std::string& path);

bool exists(const std::string& path);
std::optional<uint64_t> size(const std::string& path);
// Local date of the last modification as day, month, four-digit year.
struct Date { int day, month, year; };
std::optional<Date> modificationDate(const std::string& path);

std::optional<std::vector<uint8_t>> readAll(const std::string& path);
// Up to count bytes from offset; fewer when the file is shorter.
std::optional<std::vector<uint8_t>> readAt(const std::string& path, uint64_t offset, size_t count);

// Appends one line ended by CR LF. False when the file is missing (and is not
// created) or cannot be written.
bool appendLine(const std::string& path, const std::string& line);
// Creates (or truncates) the file and writes the given lines, each ended by CR LF.
bool createWithLines(const std::string& path, const std::vector<std::string>& lines);

std::string executableFolder();
std::string currentDirectory();
bool setCurrentDirectory(const std::string& path);

// Joins a folder and a name with a single separator.
std::string join(const std::string& folder, const std::string& name);

// A text file read line by line, as the Intel-HEX update sends it: a line ends
// at LF, CR LF or CR; the end is reached after the last line has been read.
class LineReader {
public:
    bool open(const std::string& path);
    bool isOpen() const { return fd_ >= 0; }
    bool atEnd();
    // Reads the next line without its line end.
    std::string readLine();
    void close();
    ~LineReader() { close(); }
    LineReader() = default;
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
private:
    bool fill();
    int fd_ = -1;
    std::vector<char> buf_;
    size_t pos_ = 0;
    bool eof_ = false;
};

} // namespace ravelin::platform::files
