#include "platform/serial_device.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace ravelin::platform {

namespace {

struct RateCode {
    int rate;
    speed_t code;
};

constexpr RateCode kRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

// A UART samples each bit near its middle; a rate more than about 2 % off
// loses the frame before the stop bit, so further than that is no match.
constexpr double kRateTolerance = 0.02;

const RateCode* nearestRate(int baudRate) {
    if (baudRate <= 0) return nullptr;
    const RateCode* best = nullptr;
    double bestOff = 0;
    for (const RateCode& r : kRates) {
        double off = std::fabs(double(baudRate) - r.rate) / r.rate;
        if (!best || off < bestOff) {
            best = &r;
            bestOff = off;
        }
    }
    return bestOff <= kRateTolerance ? best : nullptr;
}

// Modem-line requests that a device without modem lines refuses.
bool noModemLines(int err) { return err == ENOTTY || err == EINVAL; }

void setError(std::string* error, const std::string& what, int err) {
    if (error) *error = what + ": " + std::strerror(err);
}

} // namespace

std::optional<int> SerialDevice::standardRate(int baudRate) {
    const RateCode* r = nearestRate(baudRate);
    if (!r) return std::nullopt;
    return r->rate;
}

std::unique_ptr<SerialDevice> SerialDevice::open(const std::string& path, int baudRate, bool flowControl,
                                                 std::string* error) {
    const RateCode* rate = nearestRate(baudRate);
    if (!rate) {
        if (error) *error = "unsupported baud rate " + std::to_string(baudRate);
        return nullptr;
    }

    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        setError(error, "open " + path, errno);
        return nullptr;
    }
    auto fail = [&](const char* what) {
        int err = errno;
        ::close(fd);
        setError(error, what, err);
        return nullptr;
    };

    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return fail("tcgetattr");
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    if (flowControl) tio.c_cflag |= CRTSCTS;
    tio.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | INPCK);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, rate->code) != 0 || ::cfsetospeed(&tio, rate->code) != 0)
        return fail("cfsetspeed");
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) return fail("tcsetattr");

    int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) return fail("eventfd");

    std::unique_ptr<SerialDevice> dev(new SerialDevice(fd, wakeFd, rate->rate));
    // The driver raised DTR and RTS when it opened the line. DTR is only ever
    // pulsed on purpose, so it rests low; with the RTS/CTS handshake RTS
    // belongs to the driver and is left to it.
    dev->setDTR(false);
    if (!flowControl) dev->setRTS(false);
    dev->setBreak(false);
    return dev;
}

SerialDevice::~SerialDevice() {
    ::close(wakeFd_);
    ::close(fd_);
}

SerialDevice::Events SerialDevice::wait(bool watchInput, bool watchWritable, int timeoutMs) {
    Events ev;
    pollfd fds[2]{};
    fds[0].fd = wakeFd_;
    fds[0].events = POLLIN;
    // A descriptor that is polled at all reports hang-ups even with no events
    // asked for, so a device that is not watched is left out entirely.
    bool watchDevice = watchInput || watchWritable;
    fds[1].fd = watchDevice ? fd_ : -1;
    fds[1].events = short((watchInput ? POLLIN : 0) | (watchWritable ? POLLOUT : 0));

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    int left = timeoutMs;
    for (;;) {
        int n = ::poll(fds, 2, left);
        if (n >= 0) break;
        if (errno != EINTR) {
            ev.hangup = true;
            return ev;
        }
        if (timeoutMs >= 0) {
            auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            left = rest > 0 ? int(rest) : 0;
        }
    }

    if (fds[0].revents & POLLIN) {
        uint64_t counter;
        while (::read(wakeFd_, &counter, sizeof counter) > 0) {
        }
        ev.woken = true;
    }
    short r = fds[1].revents;
    ev.readable = (r & POLLIN) != 0;
    ev.writable = (r & POLLOUT) != 0;
    ev.hangup = (r & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    return ev;
}

int SerialDevice::wake() {
    uint64_t one = 1;
    if (::write(wakeFd_, &one, sizeof one) == sizeof one) return 0;
    // A counter that is already at its limit still wakes the waiter.
    return errno == EAGAIN ? 0 : errno;
}

int SerialDevice::read(uint8_t* data, int max) {
    if (max <= 0) return 0;
    for (;;) {
        ssize_t n = ::read(fd_, data, size_t(max));
        if (n > 0) return int(n);
        if (n == 0) return -EIO;  // end of file on a terminal: the line hung up
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -errno;
    }
}

int SerialDevice::write(const uint8_t* data, int count) {
    if (count <= 0) return 0;
    for (;;) {
        ssize_t n = ::write(fd_, data, size_t(count));
        if (n >= 0) return int(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -errno;
    }
}

void SerialDevice::cancelOutput() { ::tcflush(fd_, TCOFLUSH); }

bool SerialDevice::modemLine(int line, bool on) {
    if (::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line) == 0) return true;
    return noModemLines(errno);
}

bool SerialDevice::setDTR(bool on) { return modemLine(TIOCM_DTR, on); }

bool SerialDevice::setRTS(bool on) { return modemLine(TIOCM_RTS, on); }

bool SerialDevice::setBreak(bool on) {
    if (::ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) == 0) return true;
    return noModemLines(errno);
}

} // namespace ravelin::platform
