#include "platform/instance_lock.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace ravelin::platform {

// The lock is a listening socket in the abstract namespace: the kernel frees
// it when the holder ends, however it ends, and a later start can knock on it.
struct InstanceLock::Impl {
    int listenFd = -1;
    int stopPipe[2] = {-1, -1};
    std::thread listener;
    std::mutex lock;
    std::function<void()> handler;

    void run() {
        for (;;) {
            pollfd fds[2] = {{listenFd, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
            int n = ::poll(fds, 2, -1);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 || (fds[1].revents & POLLIN)) return;
            if (fds[0].revents & POLLIN) {
                int c = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
                if (c >= 0) ::close(c);
                std::lock_guard<std::mutex> g(lock);
                if (handler) handler();
            }
        }
    }
};

namespace {
sockaddr_un abstractAddress(const std::string& name, socklen_t& len) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string& full = name;
    size_t n = std::min(full.size(), sizeof(addr.sun_path) - 1);
    std::memcpy(addr.sun_path + 1, full.data(), n);
    len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
    return addr;
}
} // namespace

std::unique_ptr<InstanceLock> InstanceLock::acquire(const std::string& name) {
    socklen_t len;
    sockaddr_un addr = abstractAddress(name, len);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return std::unique_ptr<InstanceLock>(new InstanceLock());  // cannot tell: run
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
        ::close(fd);
        if (errno != EADDRINUSE) return std::unique_ptr<InstanceLock>(new InstanceLock());
        int k = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (k >= 0) {
            ::connect(k, reinterpret_cast<sockaddr*>(&addr), len);
            ::close(k);
        }
        return nullptr;
    }
    ::listen(fd, 4);
    std::unique_ptr<InstanceLock> lock(new InstanceLock());
    lock->impl_ = std::make_unique<Impl>();
    lock->impl_->listenFd = fd;
    if (::pipe2(lock->impl_->stopPipe, O_CLOEXEC) == 0) {
        Impl* impl = lock->impl_.get();
        impl->listener = std::thread([impl] { impl->run(); });
    }
    return lock;
}

void InstanceLock::onKnock(std::function<void()> handler) {
    if (!impl_) return;
    std::lock_guard<std::mutex> g(impl_->lock);
    impl_->handler = std::move(handler);
}

InstanceLock::~InstanceLock() {
    if (!impl_) return;
    if (impl_->listener.joinable()) {
        char c = 0;
        (void)!::write(impl_->stopPipe[1], &c, 1);
        impl_->listener.join();
    }
    for (int fd : {impl_->stopPipe[0], impl_->stopPipe[1], impl_->listenFd})
        if (fd >= 0) ::close(fd);
}

} // namespace ravelin::platform
