#include "boot_loader.h"

#include <algorithm>

namespace ravelin::sim {

namespace {

constexpr uint8_t kAck = 0xCC;
constexpr uint8_t kNak = 0x33;
constexpr uint8_t kAutoBaud = 0x55;
constexpr uint8_t kPing = 0x20, kDownload = 0x21, kRun = 0x22, kGetStatus = 0x23, kSendData = 0x24, kReset = 0x25;
constexpr uint8_t kSuccess = 0x40, kUnknownCommand = 0x41, kInvalidCommand = 0x42;

std::optional<uint8_t> versionIn(const std::vector<uint8_t>& image)
{
    static const std::string marker = "version ";
    auto it = std::search(image.begin(), image.end(), marker.begin(), marker.end());
    if (it == image.end() || it + std::ptrdiff_t(marker.size()) >= image.end()) return std::nullopt;
    return *(it + std::ptrdiff_t(marker.size()));
}

} // namespace

BootLoader::BootLoader(BootLoaderBehaviour behaviour) : behaviour_(behaviour)
{
    if (behaviour_.capable && behaviour_.startInBootLoader) enter();
}

void BootLoader::enter()
{
    active_ = true;
    silent_ = behaviour_.silentFromStart;
    input_.clear();
    status_ = kSuccess;
    ++record_.entries;
}

std::optional<uint8_t> BootLoader::takeNewVersion()
{
    auto v = newVersion_;
    newVersion_.reset();
    return v;
}

void BootLoader::receive(const uint8_t* data, std::size_t size, std::vector<uint8_t>& out)
{
    if (!active_) return;
    input_.insert(input_.end(), data, data + size);
    std::size_t pos = 0;
    while (pos < input_.size() && active_) {
        const uint8_t b = input_[pos];
        // Zeros are filler; 0xCC is the host acknowledging a status packet.
        if (b == 0x00 || b == kAck) {
            ++pos;
            continue;
        }
        if (b == kAutoBaud) {
            if (pos + 1 >= input_.size()) break;
            if (input_[pos + 1] == kAutoBaud) {
                pos += 2;
                ++record_.autoBauds;
                if (!silent_) out.push_back(kAck);
                continue;
            }
        }
        // A size below 3 cannot start a packet (the surface poll's frames).
        if (b < 3) {
            ++pos;
            continue;
        }
        if (input_.size() - pos < b) break;
        const uint8_t* p = input_.data() + pos;
        uint8_t sum = 0;
        for (std::size_t i = 2; i < b; ++i) sum = uint8_t(sum + p[i]);
        pos += b;
        if (silent_) continue;
        if (sum != p[1]) {
            ++record_.naks;
            out.push_back(kNak);
            continue;
        }
        ++record_.packets;
        if (record_.packets - naksDone_ == behaviour_.nakPacket && naksDone_ < behaviour_.nakTimes) {
            ++naksDone_;
            ++record_.naks;
            out.push_back(kNak);
            continue;
        }
        handlePacket(p[2], p + 3, std::size_t(b) - 3, out);
    }
    input_.erase(input_.begin(), input_.begin() + std::ptrdiff_t(std::min(pos, input_.size())));
    if (!active_) input_.clear();
}

void BootLoader::handlePacket(uint8_t command, const uint8_t* data, std::size_t size, std::vector<uint8_t>& out)
{
    record_.commands.push_back(command);
    out.push_back(kAck);
    switch (command) {
    case kPing:
        break;
    case kDownload:
        if (size != 8) {
            status_ = kInvalidCommand;
            break;
        }
        expected_ = uint32_t(data[4]) << 24 | uint32_t(data[5]) << 16 | uint32_t(data[6]) << 8 | data[7];
        download_.clear();
        status_ = kSuccess;
        break;
    case kGetStatus:
        out.insert(out.end(), {0x03, status_, status_});
        break;
    case kSendData:
        ++record_.dataPackets;
        download_.insert(download_.end(), data, data + size);
        if (record_.dataPackets == behaviour_.badStatusData) status_ = behaviour_.badStatus;
        if (behaviour_.silentAfterData > 0 && record_.dataPackets >= behaviour_.silentAfterData) silent_ = true;
        break;
    case kReset:
    case kRun:
        ++record_.resets;
        if (expected_ > 0 && download_.size() == expected_ && status_ == kSuccess) {
            record_.image = download_;
            newVersion_ = versionIn(download_);
        }
        active_ = false;
        break;
    default:
        status_ = kUnknownCommand;
        break;
    }
}

} // namespace ravelin::sim
