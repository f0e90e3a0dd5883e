#include "surface_panel.h"
#include "pseudo_terminal.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace ravelin::sim {

namespace {

// A frame arrives whole within a millisecond or two; bytes that are still
// waiting for the rest of their frame after this long never get it.
constexpr int kPartialFrameMs = 100;

void closeFd(int& fd)
{
    if (fd >= 0) ::close(fd);
    fd = -1;
}

} // namespace

SurfacePanel::SurfacePanel(PanelConfig config, PanelProtocol::LogFn log)
    : config_(config), protocol_(std::move(config), std::move(log))
{
}

SurfacePanel::~SurfacePanel()
{
    stop();
}

int SurfacePanel::comNumber() const
{
    return panelComNumber(config_);
}

void SurfacePanel::start()
{
    if (running()) return;
    const PseudoTerminal line = openRawPseudoTerminal();
    master_ = line.master;
    slave_ = line.slave;
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) {
        int err = errno;
        closeFd(master_);
        closeFd(slave_);
        throw std::system_error(err, std::generic_category(), "eventfd");
    }
    {
        std::lock_guard lock(mutex_);
        path_ = line.path;
    }
    thread_ = std::thread([this] { run(); });
}

void SurfacePanel::stop()
{
    if (!thread_.joinable()) return;
    uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wake_, &one, sizeof one);
    thread_.join();
    closeFd(wake_);
    closeFd(slave_);
    closeFd(master_);
    std::lock_guard lock(mutex_);
    path_.clear();
}

std::string SurfacePanel::devicePath() const
{
    std::lock_guard lock(mutex_);
    return path_;
}

void SurfacePanel::writeAll(const std::vector<uint8_t>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            // The program is not reading; give it a moment, then let the
            // reply go as a real line would.
            pollfd p{master_, POLLOUT, 0};
            if (::poll(&p, 1, 100) > 0) continue;
        }
        return;
    }
}

void SurfacePanel::run()
{
    pollfd fds[2] = {{master_, POLLIN, 0}, {wake_, POLLIN, 0}};
    uint8_t buf[4096];
    for (;;) {
        bool partial;
        {
            std::lock_guard lock(mutex_);
            partial = protocol_.hasPartialInput();
        }
        int r = ::poll(fds, 2, partial ? kPartialFrameMs : -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (r == 0) {
            std::lock_guard lock(mutex_);
            protocol_.lineIdle();
            continue;
        }
        if (fds[0].revents & POLLIN) {
            ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0) {
                std::vector<uint8_t> reply;
                bool drop;
                {
                    std::lock_guard lock(mutex_);
                    reply = protocol_.receive(buf, std::size_t(n));
                    drop = config_.dropAfterUpdateMessages > 0 &&
                           protocol_.updateMessagesTaken() >= config_.dropAfterUpdateMessages;
                }
                changed_.notify_all();
                if (drop) {
                    // As a cable pulled mid-update: the line goes away, the
                    // panel waits only to be stopped.
                    closeFd(slave_);
                    closeFd(master_);
                    pollfd w{wake_, POLLIN, 0};
                    while (::poll(&w, 1, -1) <= 0) {}
                    return;
                }
                if (!reply.empty()) writeAll(reply);
                continue;
            }
        }
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // No reader on the other side; wait for the stop request or for
            // the program to come back instead of spinning.
            pollfd w{wake_, POLLIN, 0};
            if (::poll(&w, 1, 50) > 0) return;
        }
    }
}

PanelRecord SurfacePanel::record() const
{
    std::lock_guard lock(mutex_);
    return protocol_.record();
}

std::vector<std::string> SurfacePanel::hexLines() const
{
    std::lock_guard lock(mutex_);
    return protocol_.record().hexLines;
}

int SurfacePanel::pollCount() const
{
    std::lock_guard lock(mutex_);
    return protocol_.record().polls;
}

void SurfacePanel::clearRecord()
{
    std::lock_guard lock(mutex_);
    protocol_.clearRecord();
}

bool SurfacePanel::waitFor(const std::function<bool(const PanelRecord&)>& pred,
                           std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return pred(protocol_.record()); });
}

bool SurfacePanel::waitForDevice(const std::function<bool(const PanelProtocol&)>& pred,
                                 std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return pred(protocol_); });
}

BootLoaderRecord SurfacePanel::bootLoaderRecord() const
{
    std::lock_guard lock(mutex_);
    return protocol_.bootLoader().record();
}

FileUpdateRecord SurfacePanel::fileUpdateRecord() const
{
    std::lock_guard lock(mutex_);
    return protocol_.fileUpdate().record();
}

bool SurfacePanel::inBootLoader() const
{
    std::lock_guard lock(mutex_);
    return protocol_.bootLoader().active();
}

uint8_t SurfacePanel::version1() const
{
    std::lock_guard lock(mutex_);
    return protocol_.version1();
}

uint8_t SurfacePanel::version2() const
{
    std::lock_guard lock(mutex_);
    return protocol_.version2();
}

void SurfacePanel::setVersion(uint8_t v1, uint8_t v2)
{
    std::lock_guard lock(mutex_);
    protocol_.setVersion(v1, v2);
}

void SurfacePanel::setHexBehaviour(const HexReplyBehaviour& behaviour)
{
    std::lock_guard lock(mutex_);
    protocol_.setHexBehaviour(behaviour);
}

} // namespace ravelin::sim
