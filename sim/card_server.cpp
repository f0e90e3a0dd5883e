#include "card_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace ravelin::sim {

VirtualCard::VirtualCard(CardConfig config, std::string bindAddress, CardProtocol::LogFn log)
    : config_(config), address_(std::move(bindAddress)), log_(log), protocol_(config, log)
{
}

VirtualCard::~VirtualCard()
{
    stop();
}

void VirtualCard::start()
{
    if (running()) return;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port()));
    if (::inet_pton(AF_INET, address_.c_str(), &a.sin_addr) != 1)
        throw std::system_error(EINVAL, std::generic_category(), "card address " + address_);
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0 || ::listen(listen_, 2) < 0) {
        const int err = errno;
        if (listen_ >= 0) ::close(listen_);
        listen_ = -1;
        throw std::system_error(err, std::generic_category(),
                                "card on " + address_ + ":" + std::to_string(port()));
    }
    wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    thread_ = std::thread([this] { run(); });
}

void VirtualCard::stop()
{
    if (!running()) return;
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_, &one, sizeof one);
    thread_.join();
    closeClient();
    ::close(listen_);
    ::close(wake_);
    listen_ = wake_ = -1;
}

void VirtualCard::closeClient()
{
    std::lock_guard lock(mutex_);
    if (client_ >= 0) ::close(client_);
    client_ = -1;
    changed_.notify_all();
}

void VirtualCard::run()
{
    uint8_t block[4096];
    for (;;) {
        pollfd fds[3] = {{wake_, POLLIN, 0}, {listen_, POLLIN, 0}, {client_, POLLIN, 0}};
        const int count = client_ >= 0 ? 3 : 2;
        if (::poll(fds, nfds_t(count), -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents) return;
        if (fds[1].revents & POLLIN) {
            const int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0) {
                closeClient();
                const int on = 1;
                ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                std::lock_guard lock(mutex_);
                client_ = c;
                changed_.notify_all();
                if (log_) log_("connected");
            }
            continue;
        }
        if (count == 3 && fds[2].revents) {
            const ssize_t n = ::recv(client_, block, sizeof block, 0);
            if (n <= 0) {
                if (log_) log_("disconnected");
                closeClient();
                continue;
            }
            bool drop = false;
            std::vector<uint8_t> reply;
            {
                std::lock_guard lock(mutex_);
                reply = protocol_.receive(block, size_t(n), drop);
                changed_.notify_all();
            }
            for (size_t done = 0; done < reply.size();) {
                const ssize_t w = ::send(client_, reply.data() + done, reply.size() - done, MSG_NOSIGNAL);
                if (w <= 0) break;
                done += size_t(w);
            }
            if (drop) closeClient();
        }
    }
}

CardRecord VirtualCard::record() const
{
    std::lock_guard lock(mutex_);
    return protocol_.record();
}

bool VirtualCard::inBootLoader() const
{
    std::lock_guard lock(mutex_);
    return protocol_.inBootLoader();
}

bool VirtualCard::connected() const
{
    std::lock_guard lock(mutex_);
    return client_ >= 0;
}

void VirtualCard::setVersion(uint8_t v)
{
    std::lock_guard lock(mutex_);
    protocol_.setVersion(v);
}

void VirtualCard::setSilent(bool on)
{
    std::lock_guard lock(mutex_);
    protocol_.setSilent(on);
}

BootLoaderRecord VirtualCard::bootLoaderRecord() const
{
    std::lock_guard lock(mutex_);
    return protocol_.bootLoaderRecord();
}

FileUpdateRecord VirtualCard::fpgaRecord() const
{
    std::lock_guard lock(mutex_);
    return protocol_.fpgaRecord();
}

uint8_t VirtualCard::version() const
{
    std::lock_guard lock(mutex_);
    return protocol_.config().version;
}

std::vector<uint8_t> VirtualCard::rackImage() const
{
    std::lock_guard lock(mutex_);
    return protocol_.madiRack() ? protocol_.madiRack()->image() : std::vector<uint8_t>{};
}

int VirtualCard::rackFlashed() const
{
    std::lock_guard lock(mutex_);
    return protocol_.madiRack() ? protocol_.madiRack()->flashed() : 0;
}

bool VirtualCard::waitFor(const std::function<bool(const CardRecord&)>& pred, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return pred(protocol_.record()); });
}

} // namespace ravelin::sim
