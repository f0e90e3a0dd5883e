#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/usb_control.h"

// The virtual console's DFU device behind a Unix stream socket. Every message
// either way is a 32-bit little-endian length and that many bytes. The
// program asks 'D' (the device and configuration descriptors) or 'C' (one
// control transfer); the device answers with an outcome byte and the data.
// One connection is one opened device; a device that resets closes it.
namespace ravelin::platform {

namespace {

constexpr uint8_t kAskDescriptors = 'D';
constexpr uint8_t kAskControl = 'C';
constexpr int kDescribeTimeoutMs = 2000;
// Beyond the transfer's own time-out, for the device's answer to travel.
constexpr int kReplyMarginMs = 1000;

class Connection {
public:
    explicit Connection(const std::string& path) {
        if (path.size() >= sizeof(sockaddr_un::sun_path)) return;
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) return;
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.c_str(), path.size());
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) close();
    }
    ~Connection() { close(); }
    bool open() const { return fd_ >= 0; }

    // One request and its answer; the outcome byte comes first in `reply`.
    UsbOutcome ask(const std::vector<uint8_t>& request, std::vector<uint8_t>& reply, int timeoutMs) {
        if (fd_ < 0) return UsbOutcome::Gone;
        std::vector<uint8_t> msg(4);
        const uint32_t n = uint32_t(request.size());
        for (int i = 0; i < 4; ++i) msg[size_t(i)] = uint8_t(n >> (8 * i));
        msg.insert(msg.end(), request.begin(), request.end());
        if (!writeAll(msg.data(), msg.size())) return gone();
        uint8_t len[4];
        UsbOutcome r = readAll(len, 4, timeoutMs);
        if (r != UsbOutcome::Done) return r;
        const uint32_t m = uint32_t(len[0]) | uint32_t(len[1]) << 8 | uint32_t(len[2]) << 16 | uint32_t(len[3]) << 24;
        if (m == 0 || m > 70000) return gone();
        reply.resize(m);
        r = readAll(reply.data(), m, timeoutMs);
        if (r != UsbOutcome::Done) return r;
        return UsbOutcome::Done;
    }

private:
    UsbOutcome gone() {
        close();
        return UsbOutcome::Gone;
    }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    bool writeAll(const uint8_t* p, size_t n) {
        while (n > 0) {
            ssize_t w = ::send(fd_, p, n, MSG_NOSIGNAL);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            p += w;
            n -= size_t(w);
        }
        return true;
    }
    UsbOutcome readAll(uint8_t* p, size_t n, int timeoutMs) {
        while (n > 0) {
            pollfd pfd{fd_, POLLIN, 0};
            int r = ::poll(&pfd, 1, timeoutMs);
            if (r < 0 && errno == EINTR) continue;
            if (r == 0) {
                // The answer may still come: the connection is out of step
                // and no longer usable.
                close();
                return UsbOutcome::Timeout;
            }
            ssize_t got = ::recv(fd_, p, n, 0);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return gone();
            p += got;
            n -= size_t(got);
        }
        return UsbOutcome::Done;
    }

    int fd_ = -1;
};

bool describe(Connection& c, std::vector<UsbDfuEntry>& out, const std::string& path) {
    std::vector<uint8_t> reply;
    if (c.ask({kAskDescriptors}, reply, kDescribeTimeoutMs) != UsbOutcome::Done || reply.size() < 3 || reply[0] != 0)
        return false;
    size_t at = 1;
    auto take = [&](std::vector<uint8_t>& v) {
        if (at + 2 > reply.size()) return false;
        const size_t n = size_t(reply[at] | reply[at + 1] << 8);
        at += 2;
        if (at + n > reply.size()) return false;
        v.assign(reply.begin() + long(at), reply.begin() + long(at + n));
        at += n;
        return true;
    };
    std::vector<uint8_t> device, configuration;
    if (!take(device) || !take(configuration)) return false;
    const size_t before = out.size();
    ParseDfuInterfaces(device, configuration, out);
    for (size_t i = before; i < out.size(); ++i) out[i].location = path;
    return true;
}

class SocketPipe final : public ControlPipe {
public:
    explicit SocketPipe(std::unique_ptr<Connection> c) : c_(std::move(c)) {}
    UsbResult control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
                      uint16_t length, unsigned timeoutMs) override {
        std::vector<uint8_t> m{kAskControl, requestType, request, uint8_t(value), uint8_t(value >> 8),
                               uint8_t(index), uint8_t(index >> 8), uint8_t(length), uint8_t(length >> 8)};
        for (int i = 0; i < 4; ++i) m.push_back(uint8_t(timeoutMs >> (8 * i)));
        const bool in = requestType & 0x80;
        if (!in && length) m.insert(m.end(), data, data + length);
        std::vector<uint8_t> reply;
        UsbOutcome r = c_->ask(m, reply, int(timeoutMs) + kReplyMarginMs);
        if (r != UsbOutcome::Done) return {r, 0};
        if (reply[0] > uint8_t(UsbOutcome::Gone)) return {UsbOutcome::Error, 0};
        if (reply[0] != 0) return {UsbOutcome(reply[0]), 0};
        if (!in) return {UsbOutcome::Done, length};
        const size_t n = std::min<size_t>(reply.size() - 1, length);
        std::memcpy(data, reply.data() + 1, n);
        return {UsbOutcome::Done, int(n)};
    }

private:
    std::unique_ptr<Connection> c_;
};

class SocketBus final : public UsbBus {
public:
    explicit SocketBus(std::string path) : path_(std::move(path)) {}
    UsbOutcome list(std::vector<UsbDfuEntry>& out) override {
        // No one listening: the board is not in its boot loader.
        Connection c(path_);
        if (c.open()) describe(c, out, path_);
        return UsbOutcome::Done;
    }
    std::unique_ptr<ControlPipe> open(const UsbDfuEntry&, UsbOutcome& outcome) override {
        auto c = std::make_unique<Connection>(path_);
        std::vector<UsbDfuEntry> seen;
        if (!c->open() || !describe(*c, seen, path_)) {
            outcome = UsbOutcome::Gone;
            return nullptr;
        }
        outcome = UsbOutcome::Done;
        return std::make_unique<SocketPipe>(std::move(c));
    }

private:
    std::string path_;
};

} // namespace

std::unique_ptr<UsbBus> OpenSocketBus(const std::string& socketPath) {
    return std::make_unique<SocketBus>(socketPath);
}

} // namespace ravelin::platform
