#include "host_board.h"
#include "pseudo_terminal.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace ravelin::sim {

namespace {

// Headers of the board's messages.
enum : uint8_t {
    AYT = 0, Restart = 1, Error = 2, Boot = 4, UpdateHostFPGA = 39, UpdateUSBAudio = 40, Status = 60,
    SampleRate = 61, ResetEngine = 62,
    UDPorTCP = 70, RecoveryState = 80,
};
constexpr uint8_t kChecksumError = 2;
constexpr uint8_t kLengthError = 1;
// The boot loader needs this long after Boot before it answers on USB.
constexpr int kBootMs = 200;

void closeFd(int& fd)
{
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// The byte after the word "version" and one separator.
int versionIn(const std::vector<uint8_t>& image)
{
    static const std::string word = "version";
    auto it = std::search(image.begin(), image.end(), word.begin(), word.end());
    const size_t at = size_t(it - image.begin()) + word.size() + 1;
    return it == image.end() || at >= image.size() ? -1 : image[at];
}

// The build date of a bit file: "yyyy/mm/dd" around the file's first "/".
bool bitFileDate(const std::vector<uint8_t>& image, Date& date)
{
    auto slash = std::find(image.begin(), image.end(), uint8_t('/'));
    const size_t at = size_t(slash - image.begin());
    if (slash == image.end() || at < 4 || at + 6 > image.size()) return false;
    auto number = [&](size_t from, size_t n, int& v) {
        v = 0;
        for (size_t i = from; i < from + n; ++i) {
            if (image[i] < '0' || image[i] > '9') return false;
            v = v * 10 + (image[i] - '0');
        }
        return true;
    };
    Date d;
    if (!number(at - 4, 4, d.year) || !number(at + 1, 2, d.month) || image[at + 3] != '/' ||
        !number(at + 4, 2, d.day))
        return false;
    date = d;
    return true;
}

} // namespace

HostBoard::HostBoard(HostBoardConfig config, LogFn log)
    : config_(std::move(config)), log_(std::move(log)), firmware_(config_.firmware),
      fpgaUpdate_(config_.fpgaUpdate, UpdateHostFPGA), usbAudioUpdate_(config_.usbAudioUpdate, UpdateUSBAudio),
      fpgaDate_(config_.fpgaDate)
{
    record_.fpgaDate = fpgaDate_;
    dfuPath_ = config_.dfuSocketPath;
    if (dfuPath_.empty()) {
        std::string tmpl = "/tmp/ravelin-sim-XXXXXX";
        if (::mkdtemp(tmpl.data())) {
            tempDir_ = tmpl;
            dfuPath_ = tempDir_ + "/dfu.sock";
        }
    }
    dfu_ = std::make_unique<DfuServer>(dfuPath_, config_.dfu,
                                       [this](const std::vector<uint8_t>& app) { bootLoaderReset(app); });
}

HostBoard::~HostBoard()
{
    stop();
    dfu_->stop();
    if (!tempDir_.empty()) ::rmdir(tempDir_.c_str());
}

void HostBoard::start()
{
    if (thread_.joinable()) return;
    const PseudoTerminal line = openRawPseudoTerminal();
    master_ = line.master;
    slave_ = line.slave;
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    {
        std::lock_guard lock(mutex_);
        path_ = line.path;
    }
    thread_ = std::thread([this] { run(); });
}

void HostBoard::stop()
{
    if (!thread_.joinable()) return;
    stopping_ = true;
    uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wake_, &one, sizeof one);
    thread_.join();
    stopping_ = false;
    closeFd(wake_);
    closeFd(slave_);
    closeFd(master_);
    std::lock_guard lock(mutex_);
    path_.clear();
}

std::string HostBoard::devicePath() const
{
    std::lock_guard lock(mutex_);
    return path_;
}

void HostBoard::setEngineReset(std::function<uint8_t()> reset)
{
    std::lock_guard lock(mutex_);
    engineReset_ = std::move(reset);
}

void HostBoard::reportSampleRate(int port, uint32_t rate)
{
    {
        std::lock_guard lock(mutex_);
        if (port >= 0 && port < 4) config_.sampleRates[size_t(port)] = rate;
        send(SampleRate, {uint8_t(port), uint8_t(rate), uint8_t(rate >> 8), uint8_t(rate >> 16), uint8_t(rate >> 24)});
    }
    uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wake_, &one, sizeof one);
}

uint8_t HostBoard::firmware() const
{
    std::lock_guard lock(mutex_);
    return firmware_;
}

bool HostBoard::inBootLoader() const
{
    std::lock_guard lock(mutex_);
    return bootLoader_;
}

HostBoardRecord HostBoard::record() const
{
    std::lock_guard lock(mutex_);
    return record_;
}

bool HostBoard::waitFor(const std::function<bool(const HostBoardRecord&)>& pred,
                        std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return pred(record_); });
}

void HostBoard::send(uint8_t header, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> frame{uint8_t(data.size() + 2), header};
    frame.insert(frame.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : frame) sum = uint8_t(sum + b);
    frame.push_back(sum);
    output_.insert(output_.end(), frame.begin(), frame.end());
}

void HostBoard::restartFor(int ms)
{
    quietUntil_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    input_.clear();
}

void HostBoard::bootLoaderReset(const std::vector<uint8_t>& application)
{
    std::lock_guard lock(mutex_);
    const int v = versionIn(application);
    if (v >= 0) firmware_ = uint8_t(v);
    record_.bootLoaderImage = application;
    bootLoader_ = false;
    ++record_.restarts;
    restartFor(config_.restartMs);
    if (log_) log_("host board: boot loader reset, running firmware " + std::to_string(firmware_));
    changed_.notify_all();
}

void HostBoard::dropLine()
{
    // As a cable pulled: the terminal goes away mid-transfer and the board
    // serves nothing more until it is stopped.
    closeFd(slave_);
    closeFd(master_);
    if (log_) log_("host board: line dropped");
    pollfd w{wake_, POLLIN, 0};
    while (!stopping_) {
        uint64_t v;
        if (::poll(&w, 1, 100) > 0) {
            [[maybe_unused]] auto n = ::read(wake_, &v, sizeof v);
        }
    }
}

void HostBoard::receive(const uint8_t* data, size_t n)
{
    if (config_.silent || bootLoader_ || std::chrono::steady_clock::now() < quietUntil_) return;
    input_.insert(input_.end(), data, data + n);
    while (!input_.empty()) {
        const uint8_t L = input_[0];
        if (L < 2 || L == 255) {
            ++record_.badFrames;
            input_.clear();
            send(Error, {kLengthError});
            return;
        }
        if (input_.size() < size_t(L) + 1) return;
        uint8_t sum = 0;
        for (size_t i = 0; i < L; ++i) sum = uint8_t(sum + input_[i]);
        if (sum != input_[L]) {
            ++record_.badFrames;
            input_.clear();
            send(Error, {kChecksumError});
            return;
        }
        std::vector<uint8_t> message(input_.begin() + 1, input_.begin() + L);
        input_.erase(input_.begin(), input_.begin() + L + 1);
        record_.messages.push_back(message);
        handle(message);
        if (bootLoader_) return;
    }
}

void HostBoard::handle(const std::vector<uint8_t>& m)
{
    switch (m[0]) {
    case AYT:
        ++record_.polls;
        send(AYT, {});
        break;
    case Status: {
        ++record_.statusRequests;
        char date[16];
        std::snprintf(date, sizeof date, "%02d/%02d/%04d", fpgaDate_.day % 100, fpgaDate_.month % 100,
                      fpgaDate_.year % 10000);
        // The date text goes out year first, then "/mm/", then the day.
        std::vector<uint8_t> d{config_.deviceId, firmware_};
        d.insert(d.end(), date + 6, date + 10);
        d.insert(d.end(), date + 2, date + 6);
        d.insert(d.end(), date, date + 2);
        send(Status, d);
        for (uint8_t p = 0; p < 4; ++p) {
            const uint32_t r = config_.sampleRates[p];
            send(SampleRate, {p, uint8_t(r), uint8_t(r >> 8), uint8_t(r >> 16), uint8_t(r >> 24)});
        }
        break;
    }
    case Restart:
        ++record_.restarts;
        // A complete new FPGA image starts with the restart.
        if (fpgaUpdate_.record().completed > fpgaImagesRun_) {
            fpgaImagesRun_ = fpgaUpdate_.record().completed;
            if (bitFileDate(fpgaUpdate_.record().file, fpgaDate_) && log_)
                log_("host board: restarted into the new FPGA of " + dateText(fpgaDate_));
            record_.fpgaDate = fpgaDate_;
        }
        restartFor(config_.restartMs);
        break;
    case UpdateHostFPGA:
    case UpdateUSBAudio: {
        FileUpdateDevice& device = m[0] == UpdateHostFPGA ? fpgaUpdate_ : usbAudioUpdate_;
        for (const auto& reply : device.receive(m.data() + 1, m.size() - 1))
            send(reply[0], std::vector<uint8_t>(reply.begin() + 1, reply.end()));
        FileUpdateRecord& to = m[0] == UpdateHostFPGA ? record_.fpgaUpdate : record_.usbAudioUpdate;
        const FileUpdateRecord& from = device.record();
        // The image is copied only when a new one is complete.
        if (to.completed != from.completed) to.file = from.file;
        to.starts = from.starts;
        to.packets = from.packets;
        to.finishes = from.finishes;
        to.completed = from.completed;
        break;
    }
    case ResetEngine: {
        ++record_.engineResets;
        const uint8_t running = engineReset_ ? engineReset_() : 1;
        send(ResetEngine, {running});
        break;
    }
    case Boot:
        ++record_.boots;
        bootLoader_ = true;
        input_.clear();
        if (config_.bootLoaderAbsent) {
            if (log_) log_("host board: into a USB boot loader that never shows up");
            break;
        }
        bootAt_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBootMs);
        if (log_) log_("host board: into the USB boot loader on " + dfuPath_);
        break;
    case RecoveryState:
        send(RecoveryState, {0, 0});
        break;
    default:
        // UDP/TCP, the date, the sync source and the update packets are taken silently.
        break;
    }
}

void HostBoard::run()
{
    pollfd fds[2] = {{master_, POLLIN, 0}, {wake_, POLLIN, 0}};
    uint8_t buf[4096];
    for (;;) {
        int timeout = -1;
        bool openBootLoader = false;
        {
            std::lock_guard lock(mutex_);
            if (bootAt_ != std::chrono::steady_clock::time_point{}) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    bootAt_ - std::chrono::steady_clock::now()).count();
                if (left <= 0) {
                    bootAt_ = {};
                    openBootLoader = true;
                } else {
                    timeout = int(left);
                }
            }
        }
        if (openBootLoader) {
            try {
                dfu_->start();
            } catch (const std::exception& e) {
                if (log_) log_(std::string("host board: no boot loader socket: ") + e.what());
            }
            continue;
        }
        int r = ::poll(fds, 2, timeout);
        if (r < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) {
            uint64_t v;
            [[maybe_unused]] auto n = ::read(wake_, &v, sizeof v);
            if (stopping_) return;
        }
        std::vector<uint8_t> out;
        bool drop;
        {
            std::lock_guard lock(mutex_);
            if (fds[0].revents & POLLIN) {
                ssize_t n = ::read(master_, buf, sizeof buf);
                if (n > 0) receive(buf, size_t(n));
            }
            out.swap(output_);
            drop = fpgaUpdate_.linkDropDue() || usbAudioUpdate_.linkDropDue();
        }
        changed_.notify_all();
        if (drop) {
            dropLine();
            return;
        }
        size_t done = 0;
        while (done < out.size()) {
            ssize_t w = ::write(master_, out.data() + done, out.size() - done);
            if (w > 0) done += size_t(w);
            else if (w < 0 && errno == EAGAIN) {
                pollfd p{master_, POLLOUT, 0};
                if (::poll(&p, 1, 100) <= 0) break;
            } else if (!(w < 0 && errno == EINTR)) break;
        }
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // No reader on the other side; wait for the program to come back.
            pollfd w{wake_, POLLIN, 0};
            ::poll(&w, 1, 50);
        }
    }
}

} // namespace ravelin::sim
