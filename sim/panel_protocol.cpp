#include "panel_protocol.h"

#include "surface_wire.h"

#include <cstdio>

namespace ravelin::sim {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The byte written as two hex digits at pos, or -1.
int hexByteAt(const std::string& s, std::size_t pos)
{
    if (pos + 2 > s.size()) return -1;
    int hi = hexDigit(s[pos]), lo = hexDigit(s[pos + 1]);
    if (hi < 0 || lo < 0) return -1;
    return hi * 16 + lo;
}

// A record of the panel's code as the panel's loader reads it: ":", count,
// address, type, data, checksum. Lines that do not add up are left alone.
struct HexRecord {
    uint8_t type = 0;
    uint16_t address = 0;
    std::vector<uint8_t> data;
};

std::optional<HexRecord> parseHexRecord(const std::string& line)
{
    if (line.size() < 11 || line[0] != ':') return std::nullopt;
    int count = hexByteAt(line, 1);
    if (count < 0 || line.size() < static_cast<std::size_t>(11 + 2 * count)) return std::nullopt;
    unsigned sum = 0;
    std::vector<uint8_t> bytes;
    for (int i = 0; i < count + 5; ++i) {
        int b = hexByteAt(line, 1 + 2 * i);
        if (b < 0) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(b));
        sum += static_cast<unsigned>(b);
    }
    if ((sum & 0xFF) != 0) return std::nullopt;
    HexRecord r;
    r.address = static_cast<uint16_t>(bytes[1] << 8 | bytes[2]);
    r.type = bytes[3];
    r.data.assign(bytes.begin() + 4, bytes.begin() + 4 + count);
    return r;
}

std::string printable(const uint8_t* data, std::size_t size)
{
    std::string s;
    for (std::size_t i = 0; i < size; ++i) {
        char buf[5];
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", data[i]);
        s += buf;
    }
    return s;
}

} // namespace

bool isLocalIOType(uint8_t type) { return type >= 144 && type <= 152; }

PanelProtocol::PanelProtocol(PanelConfig config, LogFn log)
    : config_(std::move(config)), log_(std::move(log)),
      version1_(config_.version1), version2_(config_.version2), bootLoader_(config_.bootLoader),
      fileUpdate_(config_.fileUpdate)
{
}

void PanelProtocol::log(const std::string& text) const
{
    if (log_) log_(text);
}

void PanelProtocol::clearRecord()
{
    record_ = PanelRecord{};
}

void PanelProtocol::setVersion(uint8_t v1, uint8_t v2)
{
    version1_ = v1;
    version2_ = v2;
}

void PanelProtocol::setHexBehaviour(const HexReplyBehaviour& behaviour)
{
    config_.hex = behaviour;
    sessionRejects_ = 0;
}

void PanelProtocol::lineIdle()
{
    bootLoader_.lineIdle();
    if (input_.empty()) return;
    log("dropped " + std::to_string(input_.size()) + " bytes of an incomplete frame: " +
        printable(input_.data(), input_.size() > 16 ? 16 : input_.size()));
    input_.clear();
}

std::vector<uint8_t> PanelProtocol::receive(const uint8_t* data, std::size_t size)
{
    std::vector<uint8_t> out;
    if (bootLoader_.active()) {
        receiveInBootLoader(data, size, out);
        return out;
    }
    input_.insert(input_.end(), data, data + size);

    std::size_t pos = 0;
    while (pos < input_.size()) {
        const uint8_t b = input_[pos];
        const std::size_t avail = input_.size() - pos;

        // Zero bytes are filler: the program's empty message, and the 128
        // zeros it sends after a NAK. A length of 1 cannot be a frame.
        if (b == 0x00 || b == 0x01) {
            ++pos;
            continue;
        }
        // "UU" is the bootloader's auto-baud pair. No message of type 0x55
        // exists, so two of them never start a frame.
        if (b == kAutoBaudByte) {
            if (avail < 2) break;
            if (input_[pos + 1] == kAutoBaudByte) {
                pos += 2;
                ++record_.autoBauds;
                if (config_.answerAutoBaud) out.push_back(kApplicationAlive);
                continue;
            }
        }
        const std::size_t frameSize = std::size_t(b) + 1;
        if (avail < frameSize) break;
        const uint8_t* frame = input_.data() + pos;
        if (surfaceChecksum(frame, b) != frame[b]) {
            // Either the frame was damaged or the panel is out of step with
            // the line. Take up again at the first whole, valid frame inside
            // the bad one's span; without one, the span goes.
            ++record_.badFrames;
            log("bad frame " + printable(frame, frameSize > 16 ? 16 : frameSize));
            std::size_t next = pos + 1;
            while (next < pos + frameSize && !validFrameAt(next)) ++next;
            pos = next;
            continue;
        }
        handleMessage(frame[1], frame + 2, std::size_t(b) - 2, out);
        pos += frameSize;
        if (bootLoader_.active()) {
            // What follows the enter-boot-loader message is the boot loader's.
            std::vector<uint8_t> rest(input_.begin() + std::ptrdiff_t(pos), input_.end());
            input_.clear();
            receiveInBootLoader(rest.data(), rest.size(), out);
            return out;
        }
    }
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(pos));
    return out;
}

bool PanelProtocol::validFrameAt(std::size_t pos) const
{
    const uint8_t b = input_[pos];
    if (b < 2 || pos + b >= input_.size()) return false;
    return surfaceChecksum(input_.data() + pos, b) == input_[pos + b];
}

void PanelProtocol::handleMessage(uint8_t type, const uint8_t* data, std::size_t size,
                                  std::vector<uint8_t>& out)
{
    ++record_.messages[type];
    switch (type) {
    case surface_msg::Poll: {
        // Polls resume only after a code update has ended.
        endHexSession();
        ++record_.polls;
        auto reply = surfaceFrame(surface_msg::Poll, {0x00, config_.type, version1_, version2_});
        out.insert(out.end(), reply.begin(), reply.end());
        break;
    }
    case surface_msg::StartPolling:
        endHexSession();
        break;
    case surface_msg::HexLine:
        handleHexLine(std::string(reinterpret_cast<const char*>(data), size), out);
        break;
    case surface_msg::FpgaDateRequest:
        ++record_.fpgaDateRequests;
        if (isLocalIOType(config_.type) && config_.fpgaDate.size() == 8) {
            std::vector<uint8_t> date(config_.fpgaDate.begin(), config_.fpgaDate.end());
            auto reply = surfaceFrame(surface_msg::FpgaDate, date);
            out.insert(out.end(), reply.begin(), reply.end());
        }
        break;
    case surface_msg::Surface:
    case surface_msg::LocalIO:
    case surface_msg::Switcher:
        // Poll-time messages to the panel's own firmware: nothing to answer.
        break;
    case surface_msg::Nak:
        log("NAK from the program, code " + std::to_string(size ? data[0] : 0));
        break;
    case surface_msg::EnterBootLoader:
        if (config_.bootLoader.capable) {
            log("entering the boot loader");
            endHexSession();
            bootLoader_.enter();
        } else {
            log("asked to enter the bootloader; this panel has none and keeps running");
        }
        break;
    case surface_msg::FileUpdate:
        if (!config_.fileUpdate.enabled) {
            log("ignored a file update message; this panel takes none");
            break;
        }
        for (const auto& reply : fileUpdate_.receive(data, size)) {
            auto frame = surfaceFrame(reply[0], std::vector<uint8_t>(reply.begin() + 1, reply.end()));
            out.insert(out.end(), frame.begin(), frame.end());
        }
        break;
    default:
        log("ignored message type " + printable(&type, 1) +
            (size ? ", data " + printable(data, size > 16 ? 16 : size) : std::string()));
        break;
    }
}

void PanelProtocol::receiveInBootLoader(const uint8_t* data, std::size_t size, std::vector<uint8_t>& out)
{
    bootLoader_.receive(data, size, out);
    if (bootLoader_.active()) return;
    if (auto v = bootLoader_.takeNewVersion()) {
        version1_ = *v;
        log("boot loader reset, now running version " + std::to_string(version1_));
    } else {
        log("boot loader reset without a whole image; running the old code");
    }
}

void PanelProtocol::endHexSession()
{
    sessionAccepted_ = 0;
    sessionRejects_ = 0;
    sessionUpperAddress_ = 0;
    sessionVersion_.reset();
}

void PanelProtocol::handleHexLine(const std::string& line, std::vector<uint8_t>& out)
{
    record_.receivedHexLines.push_back(line);
    const int lineNo = sessionAccepted_ + 1;
    if (config_.hex.silent || (config_.hex.silentAfterLines > 0 && sessionAccepted_ >= config_.hex.silentAfterLines)) {
        log("hex line " + std::to_string(lineNo) + " not answered: " + line);
        return;
    }
    if (lineNo == config_.hex.rejectLine && sessionRejects_ < config_.hex.rejectTimes) {
        ++sessionRejects_;
        ++record_.rejections;
        log("hex line " + std::to_string(lineNo) + " rejected with " +
            std::to_string(config_.hex.rejectCode) + ": " + line);
        auto reply = surfaceFrame(surface_msg::HexLine, {config_.hex.rejectCode});
        out.insert(out.end(), reply.begin(), reply.end());
        return;
    }
    ++sessionAccepted_;
    record_.hexLines.push_back(line);
    log("hex line " + std::to_string(lineNo) + ": " + line);

    // The panel's code carries its version in the fifth byte at 0800; once the
    // whole file has arrived the panel reports the new one.
    if (auto rec = parseHexRecord(line)) {
        if (rec->type == 0x04 && rec->data.size() == 2)
            sessionUpperAddress_ = uint32_t(rec->data[0] << 8 | rec->data[1]) << 16;
        else if (rec->type == 0x00 && sessionUpperAddress_ == 0 && rec->address <= 0x0804 &&
                 rec->address + rec->data.size() > 0x0804)
            sessionVersion_ = rec->data[0x0804 - rec->address];
        else if (rec->type == 0x01) {
            ++record_.completedUpdates;
            if (config_.adoptHexVersion && sessionVersion_) {
                version1_ = *sessionVersion_;
                log("code update complete, now running version " + std::to_string(version1_));
            } else {
                log("code update complete");
            }
        }
    }
    auto reply = surfaceFrame(surface_msg::HexLine, {0x00});
    out.insert(out.end(), reply.begin(), reply.end());
}

} // namespace ravelin::sim
