#include "platform/files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ravelin::platform::files {

namespace {

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<std::string> split(const std::string& path) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : path) {
        if (c == '/' || c == '\\') {
            if (!cur.empty()) parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) parts.push_back(cur);
    return parts;
}

bool isAbsolute(const std::string& path) {
    return !path.empty() && (path[0] == '/' || path[0] == '\\');
}

bool lexists(const std::string& p) {
    struct stat st;
    return ::lstat(p.c_str(), &st) == 0;
}

// Finds `name` in `dir`: exactly, or else the first entry (in name order)
// that differs only in letter case.
std::optional<std::string> findEntry(const std::string& dir, const std::string& name) {
    std::string exact = dir.empty() ? name : (dir == "/" ? "/" + name : dir + "/" + name);
    if (name == "." || name == ".." || lexists(exact)) return exact;
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return std::nullopt;
    std::string want = lower(name);
    std::vector<std::string> matches;
    while (dirent* e = ::readdir(d)) {
        if (lower(e->d_name) == want) matches.emplace_back(e->d_name);
    }
    ::closedir(d);
    if (matches.empty()) return std::nullopt;
    std::sort(matches.begin(), matches.end());
    return dir.empty() ? matches.front()
                       : (dir == "/" ? "/" + matches.front() : dir + "/" + matches.front());
}

std::optional<std::string> resolveParts(const std::vector<std::string>& parts, bool absolute,
                                        size_t count) {
    std::string cur = absolute ? "/" : "";
    for (size_t i = 0; i < count; ++i) {
        auto next = findEntry(cur, parts[i]);
        if (!next) return std::nullopt;
        cur = *next;
    }
    if (cur.empty()) cur = ".";
    return cur;
}

} // namespace

std::optional<std::string> resolve(const std::string& path) {
    if (path.empty()) return std::nullopt;
    auto parts = split(path);
    return resolveParts(parts, isAbsolute(path), parts.size());
}

std::string resolveForCreate(const std::string& path) {
    auto parts = split(path);
    if (parts.empty()) return path;
    auto folder = resolveParts(parts, isAbsolute(path), parts.size() - 1);
    std::string base;
    if (folder) {
        base = *folder;
    } else {
        base = isAbsolute(path) ? "/" : "";
        for (size_t i = 0; i + 1 < parts.size(); ++i) base = join(base, parts[i]);
        if (base.empty()) base = ".";
    }
    return join(base, parts.back());
}

bool exists(const std::string& path) {
    auto p = resolve(path);
    if (!p) return false;
    struct stat st;
    return ::stat(p->c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<uint64_t> size(const std::string& path) {
    auto p = resolve(path);
    struct stat st;
    if (!p || ::stat(p->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

std::optional<Date> modificationDate(const std::string& path) {
    auto p = resolve(path);
    struct stat st;
    if (!p || ::stat(p->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    std::tm tm{};
    time_t t = st.st_mtime;
    if (!::localtime_r(&t, &tm)) return std::nullopt;
    return Date{tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900};
}

namespace {
int openRead(const std::string& path) {
    auto p = resolve(path);
    if (!p) return -1;
    return ::open(p->c_str(), O_RDONLY | O_CLOEXEC);
}

bool readFully(int fd, std::vector<uint8_t>& out, size_t max) {
    uint8_t buf[65536];
    while (out.size() < max) {
        size_t want = std::min(sizeof buf, max - out.size());
        ssize_t n = ::read(fd, buf, want);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    return true;
}
} // namespace

std::optional<std::vector<uint8_t>> readAll(const std::string& path) {
    int fd = openRead(path);
    if (fd < 0) return std::nullopt;
    std::vector<uint8_t> out;
    bool ok = readFully(fd, out, SIZE_MAX);
    ::close(fd);
    if (!ok) return std::nullopt;
    return out;
}

std::optional<std::vector<uint8_t>> readAt(const std::string& path, uint64_t offset, size_t count) {
    int fd = openRead(path);
    if (fd < 0) return std::nullopt;
    std::vector<uint8_t> out;
    bool ok = ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0 && readFully(fd, out, count);
    ::close(fd);
    if (!ok) return std::nullopt;
    return out;
}

namespace {
bool writeAllFd(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}
} // namespace

bool appendLine(const std::string& path, const std::string& line) {
    auto p = resolve(path);
    if (!p) return false;
    int fd = ::open(p->c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = writeAllFd(fd, line + "\r\n");
    ::close(fd);
    return ok;
}

bool createWithLines(const std::string& path, const std::vector<std::string>& lines) {
    auto target = resolve(path).value_or(resolveForCreate(path));
    int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::string data;
    for (const auto& l : lines) data += l + "\r\n";
    bool ok = writeAllFd(fd, data);
    ::close(fd);
    return ok;
}

std::string executableFolder() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return currentDirectory();
    std::string exe(buf, static_cast<size_t>(n));
    auto slash = exe.rfind('/');
    if (slash == std::string::npos) return currentDirectory();
    return slash == 0 ? "/" : exe.substr(0, slash);
}

std::string currentDirectory() {
    char buf[PATH_MAX];
    if (!::getcwd(buf, sizeof buf)) return ".";
    return buf;
}

bool setCurrentDirectory(const std::string& path) {
    auto p = resolve(path);
    return p && ::chdir(p->c_str()) == 0;
}

std::string join(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/' || folder.back() == '\\') return folder + name;
    return folder + "/" + name;
}

bool LineReader::open(const std::string& path) {
    close();
    fd_ = openRead(path);
    buf_.clear();
    pos_ = 0;
    eof_ = false;
    return fd_ >= 0;
}

bool LineReader::fill() {
    if (eof_ || fd_ < 0) return false;
    if (pos_ > 0) {
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<long>(pos_));
        pos_ = 0;
    }
    char tmp[8192];
    for (;;) {
        ssize_t n = ::read(fd_, tmp, sizeof tmp);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            eof_ = true;
            return false;
        }
        buf_.insert(buf_.end(), tmp, tmp + n);
        return true;
    }
}

bool LineReader::atEnd() {
    if (fd_ < 0) return true;
    if (pos_ < buf_.size()) return false;
    return !fill();
}

std::string LineReader::readLine() {
    std::string line;
    for (;;) {
        while (pos_ < buf_.size()) {
            char c = buf_[pos_++];
            if (c == '\n') return line;
            if (c == '\r') {
                if (pos_ >= buf_.size()) fill();
                if (pos_ < buf_.size() && buf_[pos_] == '\n') ++pos_;
                return line;
            }
            line += c;
        }
        if (!fill()) return line;
    }
}

void LineReader::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    buf_.clear();
    pos_ = 0;
    eof_ = false;
}

} // namespace ravelin::platform::files
