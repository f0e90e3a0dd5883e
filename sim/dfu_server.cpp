#include "dfu_server.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <system_error>
#include <unistd.h>

namespace ravelin::sim {

namespace {

void closeFd(int& fd)
{
    if (fd >= 0) ::close(fd);
    fd = -1;
}

void put16(std::vector<uint8_t>& v, uint32_t x)
{
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}

bool readAll(int fd, int wake, uint8_t* p, size_t n)
{
    while (n > 0) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (fds[1].revents) return false;
        ssize_t got = ::recv(fd, p, n, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= size_t(got);
    }
    return true;
}

bool writeMessage(int fd, const std::vector<uint8_t>& body)
{
    std::vector<uint8_t> m;
    put16(m, uint32_t(body.size()));
    put16(m, uint32_t(body.size()) >> 16);
    m.insert(m.end(), body.begin(), body.end());
    size_t done = 0;
    while (done < m.size()) {
        ssize_t w = ::send(fd, m.data() + done, m.size() - done, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += size_t(w);
    }
    return true;
}

uint32_t crc32(const uint8_t* p, size_t n)
{
    uint32_t crc = 0xFFFFFFFFu;
    while (n--) {
        crc ^= *p++;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc;
}

} // namespace

std::vector<uint8_t> dfuFileImage(const std::vector<uint8_t>& payload, uint32_t address, uint16_t vendorId,
                                  uint16_t productId)
{
    std::vector<uint8_t> f;
    if (address != 0) {
        f = {1, 0};
        put16(f, address / 1024);
        put16(f, uint32_t(payload.size()));
        put16(f, uint32_t(payload.size()) >> 16);
    }
    f.insert(f.end(), payload.begin(), payload.end());
    put16(f, 0);  // bcdDevice
    put16(f, productId);
    put16(f, vendorId);
    put16(f, 0x0100);
    f.insert(f.end(), {'U', 'F', 'D', 16});
    const uint32_t crc = crc32(f.data(), f.size());
    put16(f, crc);
    put16(f, crc >> 16);
    return f;
}

DfuServer::DfuServer(std::string socketPath, DfuDeviceConfig config, ResetFn onReset)
    : path_(std::move(socketPath)), config_(config), onReset_(std::move(onReset)), device_(config)
{
}

DfuServer::~DfuServer()
{
    stop();
}

bool DfuServer::listening() const
{
    std::lock_guard lock(mutex_);
    return listening_;
}

std::vector<DfuTransfer> DfuServer::transfers() const
{
    std::lock_guard lock(mutex_);
    return device_.transfers();
}

void DfuServer::start()
{
    stop();
    sockaddr_un addr{};
    if (path_.size() >= sizeof addr.sun_path) throw std::system_error(ENAMETOOLONG, std::generic_category(), path_);
    ::unlink(path_.c_str());
    listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_ < 0) throw std::system_error(errno, std::generic_category(), "socket");
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path_.c_str(), path_.size());
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listen_, 4) != 0) {
        int err = errno;
        closeFd(listen_);
        throw std::system_error(err, std::generic_category(), "bind " + path_);
    }
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    {
        std::lock_guard lock(mutex_);
        device_ = DfuDevice(config_);
        listening_ = true;
    }
    thread_ = std::thread([this] { run(); });
}

void DfuServer::stop()
{
    if (thread_.joinable()) {
        uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wake_, &one, sizeof one);
        if (thread_.get_id() != std::this_thread::get_id()) thread_.join();
        else thread_.detach();
    }
    closeFd(wake_);
    closeFd(listen_);
    std::lock_guard lock(mutex_);
    if (listening_) ::unlink(path_.c_str());
    listening_ = false;
}

void DfuServer::run()
{
    for (;;) {
        pollfd fds[2] = {{listen_, POLLIN, 0}, {wake_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        const bool wasReset = serve(fd);
        ::close(fd);
        if (wasReset) {
            // The chip starts its application: the boot loader is gone.
            std::vector<uint8_t> app;
            {
                std::lock_guard lock(mutex_);
                listening_ = false;
                ::unlink(path_.c_str());
                app = device_.application(device_.programmedLength());
            }
            closeFd(listen_);
            if (onReset_) onReset_(app);
            return;
        }
    }
}

bool DfuServer::serve(int fd)
{
    for (;;) {
        uint8_t len[4];
        if (!readAll(fd, wake_, len, 4)) return false;
        const uint32_t n = uint32_t(len[0]) | uint32_t(len[1]) << 8 | uint32_t(len[2]) << 16 | uint32_t(len[3]) << 24;
        if (n == 0 || n > 70000) return false;
        std::vector<uint8_t> request(n);
        if (!readAll(fd, wake_, request.data(), n)) return false;
        if (!answer(fd, request)) {
            std::lock_guard lock(mutex_);
            return device_.wasReset();
        }
    }
}

bool DfuServer::answer(int fd, const std::vector<uint8_t>& r)
{
    std::vector<uint8_t> reply;
    bool goOn = true;
    if (r[0] == 'D') {
        std::lock_guard lock(mutex_);
        const auto d = device_.deviceDescriptor();
        const auto c = device_.configurationDescriptor();
        reply.push_back(0);
        put16(reply, uint32_t(d.size()));
        reply.insert(reply.end(), d.begin(), d.end());
        put16(reply, uint32_t(c.size()));
        reply.insert(reply.end(), c.begin(), c.end());
    } else if (r[0] == 'C' && r.size() >= 13) {
        const uint8_t requestType = r[1], request = r[2];
        const uint16_t value = uint16_t(r[3] | r[4] << 8), index = uint16_t(r[5] | r[6] << 8);
        const uint16_t length = uint16_t(r[7] | r[8] << 8);
        std::vector<uint8_t> out;
        if (!(requestType & 0x80)) out.assign(r.begin() + 13, r.end());
        std::lock_guard lock(mutex_);
        DfuReply d = device_.control(requestType, request, value, index, out, length);
        // A device that has gone answers nothing: the connection ends.
        if (d.outcome == DfuOutcome::Gone) return false;
        // A device that has stopped answering keeps the connection open.
        if (d.outcome == DfuOutcome::Silent) return true;
        reply.push_back(uint8_t(d.outcome));
        if (requestType & 0x80) reply.insert(reply.end(), d.data.begin(), d.data.end());
        goOn = !device_.wasReset();
    } else {
        return false;
    }
    return writeMessage(fd, reply) && goOn;
}

} // namespace ravelin::sim
