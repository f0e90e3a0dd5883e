#include "platform/tcp_client.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ravelin::platform {

int SocketErrorCode(int errnum)
{
    switch (errnum) {
    case EAGAIN: return kSocketWouldBlock;
    case ECONNABORTED: return kSocketConnectionAborted;
    case ECONNRESET: case EPIPE: return kSocketConnectionReset;
    case ENOTCONN: return kSocketNotConnected;
    case ETIMEDOUT: return kSocketTimedOut;
    case ECONNREFUSED: return kSocketRefused;
    case EHOSTUNREACH: case ENETUNREACH: return kSocketHostUnreachable;
    default: return errnum;
    }
}

namespace {

// Received bytes the worker holds before it stops reading: the peer then
// waits in TCP's own flow control until the owner has taken some.
constexpr size_t kReceiveHold = 64 * 1024;

// One connection attempt and what follows it. The worker owns nothing but
// its thread; the descriptors are closed by the owner after the join.
struct Connection {
    int fd = -1;
    int wakeFd = -1;
    std::atomic<bool> stop{false};
    std::atomic<bool> cancelled{false}; // written and read on the loop's thread
    std::atomic<bool> isConnected{false};
    std::atomic<bool> wantWrite{false};
    std::mutex lock;
    std::string received;        // under lock
    bool readNoticePending = false; // under lock
    bool readSinceNotice = false;   // loop's thread only
    std::thread worker;

    void wake() const
    {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd, &one, sizeof one);
    }
};

class PosixTcpClient final : public TcpClient {
public:
    PosixTcpClient(EventLoop& loop, std::string host, int port, Handlers handlers)
        : loop_(loop), host_(std::move(host)), port_(port), handlers_(std::move(handlers))
    {
    }
    ~PosixTcpClient() override { close(); }

    void open() override
    {
        close();
        auto c = std::make_shared<Connection>();
        c->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        conn_ = c;
        c->worker = std::thread([this, c] { run(c); });
    }

    void close() override
    {
        if (!conn_) return;
        auto c = std::move(conn_);
        c->cancelled = true;
        c->stop = true;
        c->wake();
        if (c->worker.joinable()) c->worker.join();
        if (c->fd >= 0) ::close(c->fd);
        if (c->wakeFd >= 0) ::close(c->wakeFd);
    }

    bool connected() const override { return conn_ && conn_->isConnected; }

    int send(const uint8_t* data, int count) override
    {
        if (!connected()) return -kSocketNotConnected;
        const ssize_t n = ::send(conn_->fd, data, size_t(count), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0) {
            const int code = SocketErrorCode(errno);
            if (code == kSocketWouldBlock) askWritable();
            return -code;
        }
        if (n < count) askWritable();
        return int(n);
    }

    int receive(uint8_t* data, int max) override
    {
        if (!conn_ || max <= 0) return 0;
        std::lock_guard<std::mutex> g(conn_->lock);
        const size_t n = std::min(size_t(max), conn_->received.size());
        const bool wasHeld = conn_->received.size() >= kReceiveHold;
        std::memcpy(data, conn_->received.data(), n);
        conn_->received.erase(0, n);
        conn_->readSinceNotice = true;
        if (wasHeld && conn_->received.size() < kReceiveHold) conn_->wake();
        return int(n);
    }

private:
    void askWritable()
    {
        conn_->wantWrite = true;
        conn_->wake();
    }

    // Runs `task` on the loop's thread unless the connection was dropped
    // meanwhile (the client itself may be gone then).
    void deliver(const std::shared_ptr<Connection>& c, std::function<void()> task)
    {
        loop_.post([c, task = std::move(task)] {
            if (!c->cancelled) task();
        });
    }

    void noticeReadable(const std::shared_ptr<Connection>& c)
    {
        {
            std::lock_guard<std::mutex> g(c->lock);
            if (c->readNoticePending || c->received.empty()) return;
            c->readNoticePending = true;
        }
        deliver(c, [this, c] {
            {
                std::lock_guard<std::mutex> g(c->lock);
                c->readNoticePending = false;
            }
            c->readSinceNotice = false;
            if (handlers_.readable) handlers_.readable();
            // Like the sockets the console was written for: one notice per
            // read, so a reader taking a part at a time hears of the rest.
            if (!c->cancelled && c->readSinceNotice) noticeReadable(c);
        });
    }

    void fail(const std::shared_ptr<Connection>& c, int code, bool wasConnected)
    {
        c->isConnected = false;
        deliver(c, [this, code, wasConnected] {
            if (handlers_.error) handlers_.error(code);
            if (wasConnected && conn_ && handlers_.disconnected) handlers_.disconnected();
        });
    }

    bool waitFor(const std::shared_ptr<Connection>& c, short events, short& revents)
    {
        pollfd fds[2] = {{c->fd, events, 0}, {c->wakeFd, POLLIN, 0}};
        while (::poll(fds, 2, -1) < 0)
            if (errno != EINTR) return false;
        if (fds[1].revents) {
            uint64_t v;
            [[maybe_unused]] ssize_t n = ::read(c->wakeFd, &v, sizeof v);
        }
        revents = fds[0].revents;
        return !c->stop;
    }

    void run(const std::shared_ptr<Connection>& c)
    {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (::getaddrinfo(host_.c_str(), std::to_string(port_).c_str(), &hints, &found) != 0 || !found) {
            fail(c, kSocketHostUnreachable, false);
            return;
        }
        c->fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(c->fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        const int rc = ::connect(c->fd, found->ai_addr, found->ai_addrlen);
        const int connectErr = rc < 0 ? errno : 0;
        ::freeaddrinfo(found);
        if (rc < 0 && connectErr != EINPROGRESS) {
            fail(c, SocketErrorCode(connectErr), false);
            return;
        }
        short revents = 0;
        while (rc < 0 && revents == 0)
            if (!waitFor(c, POLLOUT, revents)) return;
        int soError = 0;
        socklen_t len = sizeof soError;
        ::getsockopt(c->fd, SOL_SOCKET, SO_ERROR, &soError, &len);
        if (soError != 0) {
            fail(c, SocketErrorCode(soError), false);
            return;
        }
        // Small card messages leave at once, and a closed link leaves no
        // lingering state that would keep the card's port busy.
        ::setsockopt(c->fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        const linger noLinger{1, 0};
        ::setsockopt(c->fd, SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
        c->isConnected = true;
        deliver(c, [this] {
            if (handlers_.connected) handlers_.connected();
            if (conn_ && conn_->isConnected && handlers_.writable) handlers_.writable();
        });

        uint8_t block[4096];
        for (;;) {
            size_t held;
            {
                std::lock_guard<std::mutex> g(c->lock);
                held = c->received.size();
            }
            short events = held < kReceiveHold ? POLLIN : 0;
            if (c->wantWrite) events |= POLLOUT;
            if (!waitFor(c, events, revents)) return;
            if (revents & POLLOUT) {
                c->wantWrite = false;
                deliver(c, [this] {
                    if (handlers_.writable) handlers_.writable();
                });
            }
            if (revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t n = ::recv(c->fd, block, sizeof block, MSG_DONTWAIT);
                if (n > 0) {
                    {
                        std::lock_guard<std::mutex> g(c->lock);
                        c->received.append(reinterpret_cast<const char*>(block), size_t(n));
                    }
                    noticeReadable(c);
                } else if (n == 0) {
                    c->isConnected = false;
                    deliver(c, [this] {
                        if (handlers_.disconnected) handlers_.disconnected();
                    });
                    return;
                } else if (errno != EAGAIN && errno != EINTR) {
                    fail(c, SocketErrorCode(errno), true);
                    return;
                }
            }
        }
    }

    EventLoop& loop_;
    const std::string host_;
    const int port_;
    const Handlers handlers_;
    std::shared_ptr<Connection> conn_;
};

} // namespace

std::unique_ptr<TcpClient> NewTcpClient(EventLoop& loop, const std::string& host, int port,
                                        TcpClient::Handlers handlers)
{
    return std::make_unique<PosixTcpClient>(loop, host, port, std::move(handlers));
}

} // namespace ravelin::platform
