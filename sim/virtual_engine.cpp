#include "virtual_engine.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ravelin::sim {

namespace {

int64_t nowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

uint8_t bcd(int v) { return uint8_t(((v / 10) % 10) << 4 | (v % 10)); }

// Engine dates: day, month, year within the century, century.
std::vector<uint8_t> engineDate(const Date& d)
{
    return {bcd(d.day), bcd(d.month), bcd(d.year % 100), bcd(d.year / 100)};
}

// Rack dates: year within the century, century, day, month.
std::vector<uint8_t> rackDate(const Date& d)
{
    return {bcd(d.year % 100), bcd(d.year / 100), bcd(d.day), bcd(d.month)};
}

std::vector<uint8_t> le32(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

// Header fields: parameter, module, band, channel.
uint8_t param(uint32_t h) { return uint8_t(h); }
uint8_t module(uint32_t h) { return uint8_t(h >> 8); }
uint8_t band(uint32_t h) { return uint8_t(h >> 16); }

std::atomic<int> addressCounter{0};

} // namespace

struct VirtualEngine::Rack {
    VirtualRackConfig config;
    int startsRefused = 0;
    int packetRefusals = 0;
    int packetIndex = 0;
    bool silentDone = false;
    int type = 0;
    uint16_t sum = 0;
    std::vector<uint16_t> received;
    std::vector<uint8_t> image;
    int imageType = 0;
};

VirtualEngine::VirtualEngine(VirtualEngineConfig config) : config_(std::move(config))
{
    for (const auto& r : config_.racks) {
        racks_.push_back(std::make_unique<Rack>());
        racks_.back()->config = r;
    }
    if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
}

VirtualEngine::~VirtualEngine()
{
    stop();
    if (listenFd_ >= 0) ::close(listenFd_);
    for (int fd : wake_)
        if (fd >= 0) ::close(fd);
}

bool VirtualEngine::bind(const std::string& address)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kEngineTcpPort);
    if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        int e = errno;
        ::close(fd);
        errno = e;
        return false;
    }
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = fd;
    address_ = address;
    return true;
}

bool VirtualEngine::bindLoopback()
{
    const int pid = int(::getpid());
    for (int attempt = 0; attempt < 256; ++attempt) {
        const int n = addressCounter++;
        const std::string address = "127." + std::to_string(1 + (pid >> 8) % 254) + "." +
                                    std::to_string(pid & 0xFF) + "." + std::to_string(1 + n % 254);
        if (bind(address)) return true;
        if (errno != EADDRINUSE) return false;
    }
    return false;
}

bool VirtualEngine::listenNow() { return listenFd_ >= 0 && ::listen(listenFd_, 4) == 0; }

void VirtualEngine::start()
{
    if (thread_.joinable() || listenFd_ < 0) return;
    stop_ = false;
    startedAt_ = nowMs();
    // A refusing engine has a bound socket that does not listen: connections
    // to it are refused until it does.
    if (config_.refuseMs <= 0) listenNow();
    thread_ = std::thread([this] { run(); });
}

void VirtualEngine::stop()
{
    stop_ = true;
    if (wake_[1] >= 0) (void)!::write(wake_[1], "x", 1);
    if (thread_.joinable()) thread_.join();
    if (clientFd_ >= 0) {
        ::close(clientFd_);
        clientFd_ = -1;
    }
}

void VirtualEngine::reset()
{
    resetRequested_ = true;
    if (wake_[1] >= 0) (void)!::write(wake_[1], "x", 1);
}

void VirtualEngine::note(const std::string& line) { lines_.push_back(line); }

std::vector<std::string> VirtualEngine::lines() const
{
    std::lock_guard<std::mutex> g(lock_);
    return lines_;
}

std::vector<uint8_t> VirtualEngine::engineImage(int type) const
{
    std::lock_guard<std::mutex> g(lock_);
    auto i = engineImages_.find(type);
    return i == engineImages_.end() ? std::vector<uint8_t>{} : i->second;
}

int VirtualEngine::flashedCount(int type) const
{
    std::lock_guard<std::mutex> g(lock_);
    auto i = flashed_.find(type);
    return i == flashed_.end() ? 0 : i->second;
}

std::vector<uint8_t> VirtualEngine::rackImage(int port) const
{
    std::lock_guard<std::mutex> g(lock_);
    for (const auto& r : racks_)
        if (r->config.port == port) return r->image;
    return {};
}

int VirtualEngine::rackFileType(int port) const
{
    std::lock_guard<std::mutex> g(lock_);
    for (const auto& r : racks_)
        if (r->config.port == port) return r->imageType;
    return 0;
}

VirtualEngine::Rack* VirtualEngine::rackOnPort(int port)
{
    for (auto& r : racks_)
        if (r->config.port == port) return r.get();
    return nullptr;
}

void VirtualEngine::run()
{
    bool listening = config_.refuseMs <= 0;
    uint8_t buf[8192];
    // Answers are delayed to the microsecond, so that a delay stands for a
    // link's round trip and not for the rounding of a timer: without this the
    // kernel may wake the thread up to 50 us late on every answer.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    while (!stop_) {
        int64_t timeoutUs = -1;
        {
            std::lock_guard<std::mutex> g(lock_);
            if (!pending_.empty()) timeoutUs = std::max<int64_t>(0, pending_.front().due - nowUs());
        }
        if (!listening) {
            int64_t left = std::max<int64_t>(0, (startedAt_ + config_.refuseMs - nowMs()) * 1000);
            timeoutUs = timeoutUs < 0 ? left : std::min(timeoutUs, left);
        }
        pollfd fds[3] = {{wake_[0], POLLIN, 0}, {listening ? listenFd_ : -1, POLLIN, 0}, {clientFd_, POLLIN, 0}};
        timespec ts{timeoutUs / 1000000, long(timeoutUs % 1000000) * 1000};
        int r = ::ppoll(fds, 3, timeoutUs < 0 ? nullptr : &ts, nullptr);
        if (r < 0 && errno != EINTR) break;
        if (fds[0].revents) {
            char c[64];
            while (::read(wake_[0], c, sizeof c) > 0) {}
        }
        if (!listening && nowMs() >= startedAt_ + config_.refuseMs) listening = listenNow();
        if (fds[1].revents & POLLIN) {
            int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                if (clientFd_ >= 0) ::close(clientFd_);
                clientFd_ = fd;
                int on = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                std::lock_guard<std::mutex> g(lock_);
                words_.clear();
                oddByte_ = -1;
                pending_.clear();
                sequence_ = 0;
                ++connections_;
                note("connected");
            }
        }
        if (clientFd_ >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
            ssize_t n = ::recv(clientFd_, buf, sizeof buf, 0);
            if (n <= 0) {
                ::close(clientFd_);
                clientFd_ = -1;
                std::lock_guard<std::mutex> g(lock_);
                note("disconnected");
            } else {
                onBytes(buf, size_t(n));
            }
        }
        if (resetRequested_.exchange(false)) {
            std::lock_guard<std::mutex> g(lock_);
            sequence_ = 0;
            note("engine reset");
            reply(0, 0x0007, le32(0));
        }
        flushDue();
    }
}

void VirtualEngine::onBytes(const uint8_t* data, size_t n)
{
    std::lock_guard<std::mutex> g(lock_);
    size_t k = 0;
    if (oddByte_ >= 0 && n > 0) {
        words_.push_back(uint16_t(oddByte_ | data[0] << 8));
        oddByte_ = -1;
        k = 1;
    }
    for (; k + 1 < n; k += 2) words_.push_back(uint16_t(data[k] | data[k + 1] << 8));
    if (k < n) oddByte_ = data[k];

    // A message is a word whose low byte (the index of its checksum word, at
    // least 6) leads to a checksum that holds; anything else before it is
    // filler or garbage and is skipped.
    size_t start = 0;
    for (;;) {
        size_t i = start;
        bool found = false;
        for (; i < words_.size(); ++i) {
            size_t wc = words_[i] & 0xFF;
            if (wc < 6) continue;
            if (i + wc >= words_.size()) break;  // not all here yet
            uint16_t sum = 0;
            for (size_t j = i; j < i + wc; ++j) sum = uint16_t(sum + words_[j]);
            if (sum != words_[i + wc]) continue;
            std::vector<uint16_t> m(words_.begin() + long(i), words_.begin() + long(i + wc + 1));
            start = i + wc + 1;
            found = true;
            ++messages_;
            handle(m);
            break;
        }
        if (!found) {
            words_.erase(words_.begin(), words_.begin() + long(std::min(i, words_.size())));
            break;
        }
        if (clientFd_ < 0) {
            words_.clear();
            break;
        }
    }
}

void VirtualEngine::reply(uint8_t status, uint32_t header, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> d = data;
    if (d.size() < 4) d.resize(4, 0);
    if (d.size() % 2) d.push_back(0);
    const size_t wc = 5 + d.size() / 2;
    std::vector<uint16_t> w(wc + 1, 0);
    sequence_ = uint16_t(sequence_ + 1 == 0 ? 1 : sequence_ + 1);
    w[0] = uint16_t(wc | status << 8);
    w[1] = sequence_;
    w[2] = 0;
    w[3] = uint16_t(header);
    w[4] = uint16_t(header >> 16);
    for (size_t k = 0; k < d.size() / 2; ++k) w[5 + k] = uint16_t(d[2 * k] | d[2 * k + 1] << 8);
    uint16_t sum = 0;
    for (size_t k = 0; k < wc; ++k) sum = uint16_t(sum + w[k]);
    w[wc] = sum;
    Pending p{nowUs() + int64_t(config_.replyDelayMs) * 1000, {}};
    for (uint16_t x : w) {
        p.bytes.push_back(uint8_t(x));
        p.bytes.push_back(uint8_t(x >> 8));
    }
    pending_.push_back(std::move(p));
    if (config_.replyDelayMs <= 0) flushDueLocked();
}

void VirtualEngine::flushDue()
{
    std::lock_guard<std::mutex> g(lock_);
    flushDueLocked();
}

void VirtualEngine::flushDueLocked()
{
    std::vector<uint8_t> out;
    const int64_t now = nowUs();
    size_t k = 0;
    for (; k < pending_.size() && pending_[k].due <= now; ++k)
        out.insert(out.end(), pending_[k].bytes.begin(), pending_[k].bytes.end());
    pending_.erase(pending_.begin(), pending_.begin() + long(k));
    size_t sent = 0;
    while (clientFd_ >= 0 && sent < out.size()) {
        ssize_t n = ::send(clientFd_, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += size_t(n);
    }
}

void VirtualEngine::handle(const std::vector<uint16_t>& w)
{
    const uint8_t status = uint8_t(w[0] >> 8);
    const uint32_t header = uint32_t(w[3]) | uint32_t(w[4]) << 16;
    const uint32_t data32 = uint32_t(w[5]) | uint32_t(w[6]) << 16;
    const size_t wc = w[0] & 0xFF;

    if (config_.dropAfterMessages > 0 && !dropped_ && messages_ >= config_.dropAfterMessages) {
        dropConnection();
        return;
    }

    if (module(header) == 11) {
        if (Rack* rack = rackOnPort(band(header))) {
            handleRack(w, header, *rack);
            return;
        }
        if (param(header) == 21 && status == 3) reply(4, header, le32(0));
        return;
    }
    if (module(header) != 0) return;

    switch (param(header)) {
    case 2: {  // version dates and running images
        const int b = band(header);
        std::vector<uint8_t> d(4, 0);
        if (b == 0) {
            d.assign(config_.running.begin(), config_.running.end());
        } else if (b >= 1 && b <= 5 && config_.flashDates.count(b)) {
            d = engineDate(config_.flashDates[b]);
        } else if (b >= 17 && b <= 21 && config_.codeDates.count(b - 16)) {
            d = engineDate(config_.codeDates[b - 16]);
        }
        reply(4, header, d);
        break;
    }
    case 3:  // start of an engine download
        if (config_.silentDownload) {
            note("download start not answered");
            break;
        }
        if (config_.refuseDownload) {
            reply(6, header, {});
            break;
        }
        download_ = Download{};
        download_.type = band(header);
        download_.sendAgainLeft = config_.sendAgainTimes;
        note("download start type " + std::to_string(download_.type));
        reply(2, header, {});
        break;
    case 4: {  // a packet
        const int number = int(header >> 16);
        if (number == config_.silentPacket && !download_.silentDone) {
            download_.silentDone = true;
            note("packet " + std::to_string(number) + " not answered");
            break;
        }
        if (number == config_.sendAgainPacket && download_.sendAgainLeft > 0) {
            --download_.sendAgainLeft;
            reply(4, header, {});
            break;
        }
        if (number == config_.checksumErrorPacket && !download_.checksumDone) {
            download_.checksumDone = true;
            reply(5, header, {});
            break;
        }
        if (number != (download_.nextPacket & 0xFFFF)) {
            reply(8, header, {});
            break;
        }
        for (size_t k = 5; k < wc; ++k) {
            download_.sum = uint16_t(download_.sum + w[k]);
            download_.image.push_back(uint8_t(w[k]));
            download_.image.push_back(uint8_t(w[k] >> 8));
        }
        ++download_.nextPacket;
        reply(2, header, {});
        break;
    }
    case 5:  // end of the download with the file's checksum
        if (uint16_t(data32) != download_.sum) {
            note("download checksum wrong");
            reply(20, header, {});
            break;
        }
        download_.complete = true;
        engineImages_[download_.type] = download_.image;
        note("download complete " + std::to_string(download_.image.size()) + " bytes");
        reply(2, header, {});
        break;
    case 6: {  // program the flash
        const int type = band(header);
        if (!download_.complete || download_.type != type) {
            reply(10, header, {});  // Flash File Missing
            break;
        }
        for (int blk = 0; blk < 2; ++blk) reply(21, header, le32(uint32_t(blk)));
        for (int blk = 0; blk < 2; ++blk) reply(22, header, le32(uint32_t(blk)));
        if (config_.flashError >= 9 && config_.flashError <= 17) {
            reply(config_.flashError, header, {});
            break;
        }
        ++flashed_[type];
        if (config_.newCodeDates.count(type)) config_.codeDates[type] = config_.newCodeDates[type];
        reply(18, header, {});
        break;
    }
    case 18:  // recover after a checksum error
        if (status == 3) reply(4, header, {});
        break;
    case 38: {
        std::vector<uint8_t> d = {uint8_t(config_.fileSet), uint8_t(config_.fileSet >> 8), 0, 0};
        reply(4, header, d);
        break;
    }
    case 39: {
        std::vector<uint8_t> d;
        for (int k = 0; k < 8; ++k) d.push_back(uint8_t(config_.serialNumber >> (8 * k)));
        reply(4, header, d);
        break;
    }
    default:
        break;  // numbering restart (21), closing (22) and the rest need no answer
    }
}

void VirtualEngine::dropConnection()
{
    dropped_ = true;
    note("connection dropped");
    ::shutdown(clientFd_, SHUT_RDWR);
    ::close(clientFd_);
    clientFd_ = -1;
}

void VirtualEngine::handleRack(const std::vector<uint16_t>& w, uint32_t header, Rack& rack)
{
    const uint8_t status = uint8_t(w[0] >> 8);
    const uint32_t data32 = uint32_t(w[5]) | uint32_t(w[6]) << 16;
    const size_t wc = w[0] & 0xFF;
    const uint32_t port = uint32_t(rack.config.port) << 16;
    auto ack = [&](uint32_t value) { reply(0, port | 0x0BC0, le32(value)); };

    switch (param(header)) {
    case 21:  // device data
        if (status == 3) {
            std::vector<uint8_t> d(40, 0);
            const Date& a = rack.config.assembly;
            d[0] = bcd(a.day);
            d[1] = bcd(a.month);
            d[2] = bcd(a.year % 100);
            d[3] = bcd(a.year / 100);
            d[4] = uint8_t(rack.config.rackType);
            d[5] = uint8_t(rack.config.rackType >> 8);
            reply(4, header, d);
        }
        break;
    case 200: {  // version request: the item asked for is the data
        std::vector<uint8_t> d(6, 0);
        const uint16_t item = uint16_t(data32);
        if (item == 5 || item == 30) {
            d = rackDate(rack.config.codeDate);
        } else if (item == 9 || item == 31) {
            d = rackDate(rack.config.fpgaDate);
        } else if (item == 6) {
            d = le32(uint32_t(rack.config.versionMajor) << 8 | rack.config.versionMinor);
        } else {
            break;
        }
        d.push_back(uint8_t(item));
        d.push_back(uint8_t(item >> 8));
        reply(0, port | 0x0BC9, d);
        break;
    }
    case 193:  // start of a transfer with the file type
        if (rack.startsRefused < rack.config.refuseStart || data32 == 0) {
            ++rack.startsRefused;
            ack(0);
            break;
        }
        rack.type = int(data32);
        rack.sum = 0;
        rack.received.clear();
        rack.packetIndex = 0;
        rack.packetRefusals = 0;
        ack(1);
        break;
    case 194:  // a packet of file words
        if (rack.packetIndex == rack.config.silentPacket && !rack.silentDone) {
            rack.silentDone = true;
            note("rack " + std::to_string(rack.config.port) + " leaves a packet unanswered");
            break;
        }
        if (rack.packetIndex == rack.config.dropAtPacket && !dropped_) {
            dropConnection();
            break;
        }
        if (rack.packetIndex == rack.config.refusePacket && rack.packetRefusals < rack.config.refusePacketTimes) {
            ++rack.packetRefusals;
            ack(0);
            break;
        }
        for (size_t k = 5; k < wc; ++k) {
            rack.received.push_back(w[k]);
            rack.sum = uint16_t(rack.sum + w[k]);
        }
        ++rack.packetIndex;
        ack(1);
        break;
    case 195: {  // end of the file: acknowledged, then the rack's check
        ack(1);
        std::vector<uint8_t> d = le32(uint32_t(rack.received.size()));
        const uint16_t sum = uint16_t(rack.sum + (rack.config.wrongCheck ? 1 : 0));
        d.insert(d.end(), {uint8_t(sum), uint8_t(sum >> 8), uint8_t(rack.type), uint8_t(rack.type >> 8)});
        reply(0, port | 0x0BCA, d);
        break;
    }
    case 196: {  // program the flash with the received file
        const int expected = rack.type == 1 ? 5 : rack.type == 2 ? 9 : rack.type;
        uint32_t result = rack.config.flashResult;
        if (rack.received.empty()) result = 5;
        else if (int(data32) != expected) result = 10;
        if (result == 1) {
            rack.image.clear();
            for (uint16_t x : rack.received) {
                rack.image.push_back(uint8_t(x));
                rack.image.push_back(uint8_t(x >> 8));
            }
            rack.imageType = rack.type;
            note("rack " + std::to_string(rack.config.port) + " programmed " + std::to_string(rack.image.size()) +
                 " bytes");
        }
        reply(0, port | 0x0BC5, le32(result));
        break;
    }
    default:
        break;
    }
}

} // namespace ravelin::sim
