#include "madi_rack.h"

namespace ravelin::sim {

namespace {

// Card message headers that report the rack.
constexpr uint8_t kMADIConnection = 36;
constexpr uint8_t kRackType = 40;
constexpr uint8_t kRackCode = 42;

// MADI control codes of the rack's transfer and version messages.
constexpr uint16_t kAck = 0x2020;
constexpr uint16_t kStart = 0x2021;
constexpr uint16_t kPacket = 0x2022;
constexpr uint16_t kEnd = 0x2023;
constexpr uint16_t kProgram = 0x2024;
constexpr uint16_t kFlashResult = 0x2025;
constexpr uint16_t kVersionRequest = 0x2028;
constexpr uint16_t kVersionReport = 0x2029;
constexpr uint16_t kTransferCheck = 0x202A;

uint8_t bcd(int v) { return uint8_t(((v / 10) % 10) << 4 | (v % 10)); }

MadiRack::Message madiMessage(uint16_t code, const std::vector<uint16_t>& data)
{
    std::vector<uint16_t> w = {code, uint16_t(data.size() + 2)};
    w.insert(w.end(), data.begin(), data.end());
    uint16_t sum = 0;
    for (uint16_t x : w) sum = uint16_t(sum + x);
    w.push_back(sum);
    MadiRack::Message m;
    for (uint16_t x : w) {
        m.push_back(uint8_t(x));
        m.push_back(uint8_t(x >> 8));
    }
    return m;
}

std::vector<uint16_t> long32(uint32_t v) { return {uint16_t(v), uint16_t(v >> 16)}; }

} // namespace

std::vector<MadiRack::Message> MadiRack::deviceDataFrames() const
{
    const Date& a = config_.assembly;
    return {
        {kMADIConnection, 0, 1},
        {kRackType, 0, uint8_t(config_.rackType)},
        // The year goes most significant byte first.
        {kRackCode, 0, bcd(a.day), bcd(a.month), bcd(a.year / 100), bcd(a.year % 100)},
    };
}

MadiRack::Message MadiRack::versionReport(uint16_t item) const
{
    // A rack date: year within the century, century, day, month.
    auto date = [](const Date& d) {
        return std::vector<uint16_t>{uint16_t(bcd(d.year % 100) | bcd(d.year / 100) << 8),
                                     uint16_t(bcd(d.day) | bcd(d.month) << 8)};
    };
    std::vector<uint16_t> data;
    if (item == 5 || item == 30) data = date(config_.codeDate);
    else if (item == 9 || item == 31) data = date(config_.fpgaDate);
    else if (item == 6) data = long32(uint32_t(config_.versionMajor) << 8 | config_.versionMinor);
    else return {};
    data.push_back(item);
    return madiMessage(kVersionReport, data);
}

std::vector<MadiRack::Message> MadiRack::versionReports() const
{
    if (config_.rackType == 9) return {versionReport(6)};
    if (config_.rackType >= 2 && config_.rackType <= 7) return {versionReport(30), versionReport(31)};
    return {versionReport(5), versionReport(9)};
}

std::vector<MadiRack::Message> MadiRack::receive(const uint8_t* data, size_t n)
{
    std::vector<uint16_t> w;
    for (size_t i = 0; i + 1 < n; i += 2) w.push_back(uint16_t(data[i] | data[i + 1] << 8));
    if (w.size() < 3 || w[1] < 2 || w[1] >= w.size()) return {};
    const size_t last = w[1];
    uint16_t sum = 0;
    for (size_t i = 0; i < last; ++i) sum = uint16_t(sum + w[i]);
    if (sum != w[last]) return {};
    ++messages_;
    const uint32_t data32 = last >= 4 ? uint32_t(w[2]) | uint32_t(w[3]) << 16 : 0;
    auto ack = [](uint32_t v) { return madiMessage(kAck, long32(v)); };

    switch (w[0]) {
    case kVersionRequest:
        if (auto r = versionReport(uint16_t(data32)); !r.empty()) return {r};
        return {};
    case kStart:
        if (startsRefused_ < config_.refuseStart || data32 == 0) {
            ++startsRefused_;
            return {ack(0)};
        }
        type_ = int(data32);
        sum_ = 0;
        received_.clear();
        packetIndex_ = 0;
        packetRefusals_ = 0;
        return {ack(1)};
    case kPacket:
        // Both lose the packet: the program's transfer goes on without it.
        if (packetIndex_ == config_.silentPacket && !silentDone_) {
            silentDone_ = true;
            return {};
        }
        if (packetIndex_ == config_.dropAtPacket && !dropDue_) {
            dropDue_ = true;
            return {};
        }
        if (packetIndex_ == config_.refusePacket && packetRefusals_ < config_.refusePacketTimes) {
            ++packetRefusals_;
            return {ack(0)};
        }
        ++packetIndex_;
        for (size_t k = 2; k < last; ++k) {
            received_.push_back(w[k]);
            sum_ = uint16_t(sum_ + w[k]);
        }
        return {ack(1)};
    case kEnd: {
        std::vector<uint16_t> check = long32(uint32_t(received_.size()));
        check.push_back(uint16_t(sum_ + (config_.wrongCheck ? 1 : 0)));
        check.push_back(uint16_t(type_));
        return {ack(1), madiMessage(kTransferCheck, check)};
    }
    case kProgram: {
        const int expected = type_ == 1 ? 5 : type_ == 2 ? 9 : type_;
        uint32_t result = config_.flashResult;
        if (received_.empty()) result = 5;
        else if (int(data32) != expected) result = 10;
        if (result == 1) {
            image_.clear();
            for (uint16_t x : received_) {
                image_.push_back(uint8_t(x));
                image_.push_back(uint8_t(x >> 8));
            }
            imageType_ = type_;
            ++flashed_;
        }
        return {madiMessage(kFlashResult, long32(result))};
    }
    default:
        return {};
    }
}

} // namespace ravelin::sim
