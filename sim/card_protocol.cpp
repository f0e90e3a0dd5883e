#include "card_protocol.h"

namespace ravelin::sim {

namespace {

constexpr uint8_t kSync = 0x55;
constexpr uint8_t kRunning = 0xAA;
constexpr uint8_t kBootAck = 0xCC;
constexpr uint8_t kMessageError = 2;
constexpr uint8_t kRestart = 4;
constexpr uint8_t kStatus = 30;
constexpr uint8_t kCardStatus = 38;
constexpr uint8_t kClearToSend = 50;
constexpr uint8_t kUpdateFPGA = 39;
constexpr uint8_t kTarvolaControl = 31; // data 0, then a MADI control message
constexpr size_t kClearToSendBytes = 255;

uint8_t sum8(const std::vector<uint8_t>& bytes, size_t n)
{
    uint8_t s = 0;
    for (size_t i = 0; i < n; ++i) s = uint8_t(s + bytes[i]);
    return s;
}

void append(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes)
{
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// A MADI control message from the rack, as the card passes it on.
std::vector<uint8_t> madiFrame(const std::vector<uint8_t>& message)
{
    std::vector<uint8_t> body = {kTarvolaControl, 0};
    body.insert(body.end(), message.begin(), message.end());
    return cardFrame(body);
}

} // namespace

std::vector<uint8_t> cardFrame(const std::vector<uint8_t>& body)
{
    std::vector<uint8_t> f;
    f.push_back(uint8_t(body.size() + 1));
    f.insert(f.end(), body.begin(), body.end());
    f.push_back(sum8(f, f.size()));
    return f;
}

CardProtocol::CardProtocol(CardConfig config, LogFn log)
    : config_(std::move(config)), log_(std::move(log)), boot_(config_.bootLoader), fpga_(config_.fpga)
{
    if (config_.madiRack) rack_.emplace(*config_.madiRack);
    if (config_.startInBootLoader) enterBootLoader();
}

void CardProtocol::enterBootLoader()
{
    bootLoader_ = true;
    buffer_.clear();
    boot_.enter();
}

void CardProtocol::serveBootLoader(std::vector<uint8_t>& out, bool& dropLink)
{
    boot_.receive(buffer_.data(), buffer_.size(), out);
    buffer_.clear();
    if (config_.dropAfterDataPackets > 0 && !dropped_ && boot_.record().dataPackets >= config_.dropAfterDataPackets) {
        log("boot loader dropping the connection after data packet " + std::to_string(boot_.record().dataPackets));
        dropped_ = true;
        dropLink = true;
        return;
    }
    if (boot_.active()) return;
    // Reset: the card runs again, with the new image's version when it took one whole.
    bootLoader_ = false;
    if (const auto v = boot_.takeNewVersion()) config_.version = *v;
    log("boot loader reset; firmware version " + std::to_string(config_.version));
}

void CardProtocol::log(const std::string& text) const
{
    if (log_) log_(text);
}

std::vector<uint8_t> CardProtocol::statusFrame() const
{
    // The ten FPGA characters travel as 7-10, then 3-6, then 1-2.
    std::string t = config_.fpgaText;
    t.resize(10, ' ');
    std::vector<uint8_t> body = {kStatus, 0, config_.type, config_.version, config_.temperature};
    for (size_t i : {6, 7, 8, 9, 2, 3, 4, 5, 0, 1}) body.push_back(uint8_t(t[i]));
    for (int i = 0; i < 4; ++i) body.push_back(uint8_t(config_.sampleRate >> (8 * i)));
    return cardFrame(body);
}

std::vector<uint8_t> CardProtocol::receive(const uint8_t* data, size_t n, bool& dropLink)
{
    dropLink = false;
    std::vector<uint8_t> out;
    buffer_.insert(buffer_.end(), data, data + n);
    while (!buffer_.empty()) {
        const uint8_t b = buffer_[0];
        // Inside a boot-loader packet two 0x55 are image bytes, not the synchronisation.
        if (b == kSync && !(bootLoader_ && boot_.hasPartialInput())) {
            if (buffer_.size() < 2) break;
            if (buffer_[1] == kSync) {
                buffer_.erase(buffer_.begin(), buffer_.begin() + 2);
                ++record_.syncs;
                if (bootLoader_) {
                    out.push_back(0x00);
                    out.push_back(kBootAck);
                } else {
                    out.push_back(kRunning);
                }
                continue;
            }
        }
        if (bootLoader_) {
            serveBootLoader(out, dropLink);
            if (dropLink) break;
            continue;
        }
        if (b == 0) {
            ++record_.zeros;
            buffer_.erase(buffer_.begin());
            continue;
        }
        if (buffer_.size() < size_t(b) + 1) break;
        if (b < 2 || sum8(buffer_, b) != buffer_[b]) {
            // Lost in the stream: say so once and start afresh; the program
            // answers with zeros that lead back to a frame start.
            ++record_.badFrames;
            buffer_.clear();
            const auto err = cardFrame({kMessageError, 0});
            out.insert(out.end(), err.begin(), err.end());
            break;
        }
        const std::vector<uint8_t> body(buffer_.begin() + 1, buffer_.begin() + b);
        buffer_.erase(buffer_.begin(), buffer_.begin() + b + 1);
        handleFrame(body, out, dropLink);
        if (dropLink) break;
    }
    if (!bootLoader_ && config_.grantClearToSend && n >= kClearToSendBytes) {
        const auto cts = cardFrame({kClearToSend, 0});
        out.insert(out.end(), cts.begin(), cts.end());
    }
    if (config_.silent) out.clear();
    return out;
}

void CardProtocol::handleFrame(const std::vector<uint8_t>& body, std::vector<uint8_t>& out, bool& dropLink)
{
    record_.frames.push_back(body);
    switch (body[0]) {
    case kStatus: {
        ++record_.polls;
        if (config_.dropAfterPolls > 0 && record_.polls == config_.dropAfterPolls) {
            log("dropping the connection at poll " + std::to_string(record_.polls));
            dropLink = true;
            return;
        }
        const auto s = statusFrame();
        out.insert(out.end(), s.begin(), s.end());
        if (rackVersionsDue_) {
            rackVersionsDue_ = false;
            for (const auto& m : rack_->versionReports()) append(out, madiFrame(m));
        }
        break;
    }
    case kCardStatus:
        ++record_.statusRequests;
        // The card tells what it knows of its rack; the rack's versions
        // follow with the next status, once the program knows the rack.
        if (rack_) {
            for (const auto& f : rack_->deviceDataFrames()) append(out, cardFrame(f));
            rackVersionsDue_ = true;
        }
        break;
    case kTarvolaControl:
        if (rack_ && body.size() > 2)
            for (const auto& m : rack_->receive(body.data() + 2, body.size() - 2)) append(out, madiFrame(m));
        if (rack_ && rack_->linkDropDue() && !dropped_) {
            log("dropping the connection in the middle of a rack transfer");
            dropped_ = dropLink = true;
        }
        break;
    case kRestart:
        ++record_.restarts;
        log("restarting into the boot loader");
        enterBootLoader();
        break;
    case kUpdateFPGA:
        for (auto reply : fpga_.receive(body.data() + 1, body.size() - 1)) {
            // The device answers in the type of the exchange it was given.
            reply[0] = kUpdateFPGA;
            const auto f = cardFrame(reply);
            out.insert(out.end(), f.begin(), f.end());
        }
        if (fpga_.record().completed > 0 && !fpga_.record().file.empty()) log("FPGA file taken");
        if (fpga_.linkDropDue() && !dropped_) {
            log("dropping the connection in the middle of the FPGA file");
            dropped_ = dropLink = true;
        }
        break;
    default:
        break;
    }
}

} // namespace ravelin::sim
