#include "platform/client_thread.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ravelin::platform {

int SocketErrorNumber(int e) {
    switch (e) {
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: return 10024;
    case EWOULDBLOCK: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case EOPNOTSUPP: return 10045;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return 10054;
    case EPIPE: return 10054;  // written to a connection the peer has reset
    case ENOBUFS: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    default: return e;
    }
}

namespace {
int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
} // namespace

tClientThread::tClientThread(EventLoop& loop, std::string ipAddress, int port)
    : loop_(loop), address_(std::move(ipAddress)), port_(port),
      inBuffer_(kInitialQueue), outBuffer_(kInitialQueue) {
    inSize_ = kInitialQueue;
    outSize_ = kInitialQueue;
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

tClientThread::~tClientThread() {
    *alive_ = false;
    abandon_ = true;
    Terminate();
    if (worker_.joinable()) worker_.join();
    if (socket_ >= 0) ::close(socket_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void tClientThread::Start() {
    if (!worker_.joinable()) worker_ = std::thread([this] { Execute(); });
}

void tClientThread::Terminate() {
    terminate_ = true;
    Wake();
}

void tClientThread::Wake() {
    uint64_t one = 1;
    if (wakeFd_ >= 0) (void)!::write(wakeFd_, &one, sizeof one);
}

void tClientThread::Send(const void* buffer, int count) {
    if (count <= 0) return;
    {
        std::lock_guard<std::mutex> g(outLock_);
        int index = outIndex_;
        if (index + count > int(outBuffer_.size())) {
            outBuffer_.resize(outBuffer_.size() + size_t(std::max(count, kQueueGrowth)));
            outSize_ = int(outBuffer_.size());
        }
        std::memcpy(outBuffer_.data() + index, buffer, size_t(count));
        outIndex_ = index + count;
    }
    // The worker sleeps in poll(); queued bytes leave at once.
    Wake();
}

int tClientThread::Receive(void* buffer, int count) {
    if (inIndex_ <= 0 || count <= 0) return 0;
    std::unique_lock<std::mutex> g(inLock_, std::try_to_lock);
    if (!g.owns_lock()) return 0;
    int index = inIndex_;
    int n = std::min(count, index);
    std::memcpy(buffer, inBuffer_.data(), size_t(n));
    std::memmove(inBuffer_.data(), inBuffer_.data() + n, size_t(index - n));
    inIndex_ = index - n;
    return n;
}

std::string tClientThread::RemoteAddress() const {
    std::lock_guard<std::mutex> g(peerLock_);
    return peer_;
}

void tClientThread::RunOnLoop(const std::function<void()>& task) {
    if (!task || abandon_) return;
    // A hand-over given up by the destructor stays queued on the loop: it
    // must find the object gone rather than run on it.
    std::weak_ptr<bool> alive = alive_;
    loop_.send(
        [alive, task] {
            if (auto a = alive.lock(); a && *a) task();
        },
        &abandon_);
}

void tClientThread::ReportError(int code) {
    LastErrorCode = code;
    if (!OnSocketError) return;
    RunOnLoop([this] {
        int c = LastErrorCode;
        OnSocketError(LastErrorEvent, c);
    });
}

bool tClientThread::Connect(int& error) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(address_.c_str(), nullptr, &hints, &found) != 0 || !found) {
        error = 11001;  // host not found
        return false;
    }
    sockaddr_in to{};
    std::memcpy(&to, found->ai_addr, sizeof to);
    ::freeaddrinfo(found);
    to.sin_port = htons(uint16_t(port_));

    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        error = SocketErrorNumber(errno);
        return false;
    }
    if (::connect(socket_, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        if (errno != EINPROGRESS) {
            error = SocketErrorNumber(errno);
            return false;
        }
        pollfd fds[2] = {{socket_, POLLOUT, 0}, {wakeFd_, POLLIN, 0}};
        int64_t deadline = nowMs() + kConnectTimeoutMs;
        for (;;) {
            if (terminate_) {
                error = 0;
                return false;
            }
            int left = int(std::max<int64_t>(0, deadline - nowMs()));
            int r = ::poll(fds, 2, left);
            if (r < 0 && errno == EINTR) continue;
            if (r == 0) {
                error = SocketErrorNumber(ETIMEDOUT);
                return false;
            }
            if (fds[1].revents) {
                uint64_t v;
                (void)!::read(wakeFd_, &v, sizeof v);
            }
            if (fds[0].revents) break;
        }
        int soError = 0;
        socklen_t len = sizeof soError;
        ::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &soError, &len);
        if (soError != 0) {
            error = SocketErrorNumber(soError);
            return false;
        }
    }
    // Small engine messages go out at once; a closed connection does not
    // linger; a reconnect may take the same local address at once.
    int on = 1;
    ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    linger off{0, 0};
    ::setsockopt(socket_, SOL_SOCKET, SO_LINGER, &off, sizeof off);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &to.sin_addr, text, sizeof text);
    {
        std::lock_guard<std::mutex> g(peerLock_);
        peer_ = text;
    }
    active_ = true;
    return true;
}

void tClientThread::CloseSocket() {
    if (socket_ >= 0) {
        ::close(socket_);
        socket_ = -1;
    }
    bool wasActive = active_.exchange(false);
    {
        std::lock_guard<std::mutex> g(peerLock_);
        peer_.clear();
    }
    (void)wasActive;
    if (OnDisconnected) RunOnLoop([this] { OnDisconnected(); });
}

void tClientThread::Execute() {
    int error = 0;
    bool connected = Connect(error);
    if (!connected) {
        if (socket_ >= 0 || error != 0) CloseSocket();
        if (error != 0) ReportError(error);
    } else {
        if (OnConnected) RunOnLoop([this] { OnConnected(); });
        int writeError = 0;
        while (!terminate_ && active_) {
            if (outIndex_ > 0 && !FlushOutBuffer(writeError)) break;
            pollfd fds[2] = {{socket_, short(POLLIN | (outIndex_ > 0 ? POLLOUT : 0)), 0}, {wakeFd_, POLLIN, 0}};
            int r = ::poll(fds, 2, -1);
            if (r < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (fds[1].revents) {
                uint64_t v;
                (void)!::read(wakeFd_, &v, sizeof v);
            }
            if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) ReadSocket();
        }
        if (active_) {
            if (writeError == 0 && outIndex_ > 0) FlushOutBuffer(writeError);
            CloseSocket();
        }
        if (writeError != 0) ReportError(writeError);
    }
    if (OnTerminate && !abandon_) {
        std::weak_ptr<bool> alive = alive_;
        auto done = OnTerminate;
        loop_.post([alive, done] {
            if (auto a = alive.lock(); a && *a) done();
        });
    }
}

void tClientThread::ReadSocket() {
    const int64_t deadline = nowMs() + kBurstMs;
    bool first = true;
    bool got = false;
    for (;;) {
        ssize_t n = 0;
        bool stop = false;
        {
            std::lock_guard<std::mutex> g(inLock_);
            int index = inIndex_;
            if (index + kReadChunk > int(inBuffer_.size())) {
                inBuffer_.resize(inBuffer_.size() + kQueueGrowth);
                inSize_ = int(inBuffer_.size());
            }
            n = ::recv(socket_, inBuffer_.data() + index, kReadChunk, 0);
            if (n > 0) {
                inIndex_ = index + int(n);
                rxCount_ += int32_t(n);
                got = true;
            } else if (n == 0) {
                // Readable, yet nothing came: the peer has closed the connection.
                if (first) terminate_ = true;
                stop = true;
            } else {
                if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) terminate_ = true;
                n = 0;
                stop = true;
            }
        }
        first = false;
        if (stop || nowMs() > deadline) break;
        // More is read at once only when it is already there: the loop's
        // thread hears of these bytes without waiting for a pause.
        pollfd fd{socket_, POLLIN, 0};
        if (::poll(&fd, 1, 0) <= 0) break;
    }
    if (terminate_ && active_) CloseSocket();
    if (got && OnDataReceived && !dataNoticePending_.exchange(true)) {
        std::weak_ptr<bool> alive = alive_;
        loop_.post([this, alive] {
            auto a = alive.lock();
            if (!a || !*a) return;
            dataNoticePending_ = false;
            if (OnDataReceived) OnDataReceived();
        });
    }
}

bool tClientThread::FlushOutBuffer(int& error) {
    std::lock_guard<std::mutex> g(outLock_);
    const int64_t deadline = nowMs() + kBurstMs;
    for (;;) {
        int index = outIndex_;
        if (index <= 0) return true;
        ssize_t w = ::send(socket_, outBuffer_.data(), size_t(std::min(kWriteChunk, index)), MSG_NOSIGNAL);
        if (w < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return true;  // poll waits for room
            error = SocketErrorNumber(errno);
            return false;
        }
        std::memmove(outBuffer_.data(), outBuffer_.data() + w, size_t(index - w));
        outIndex_ = index - int(w);
        txCount_ += int32_t(w);
        if (nowMs() > deadline) return true;
    }
}

} // namespace ravelin::platform
