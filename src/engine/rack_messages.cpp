#include "engine/rack_messages.h"

#include "surface/frame.h"

#include <algorithm>
#include <cstring>

#include "engine/engine_dates.h"
#include "engine/engine_numbers.h"

namespace ravelin::engine {

void RackMessages::DeviceData(const tEngineMessage& m) {
    const uint8_t port = m.Header().Band();
    const int i = RackIndexForPort(racks_, port);
    if (i == 0) return;
    auto& r = racks_.Records[size_t(i)];
    if (m.Data32() != 0) {
        r[rbPort] = port;
        std::memcpy(r.data() + kDeviceDataOffset, m.Data(), kDeviceDataSize);
        r[rbFlags] |= rfPresent | rfReportsValid;
        const int row = window_.RackRow(i);
        if (row == 0) {
            window_.RefreshRacks();
        } else {
            window_.RefreshRow(row);
            window_.RefreshRow(row + 1);
        }
        return;
    }
    std::fill(r.begin() + kDeviceDataOffset, r.begin() + kDeviceDataOffset + kDeviceDataSize, uint8_t(0));
    if (r[rbFlags] & rfReportsValid) {
        r[rbFlags] &= uint8_t(~rfReportsValid);
        if (const int row = window_.RackRow(i)) {
            window_.SetRunningCell(row, "");
            window_.SetRunningCell(row + 1, "");
            window_.RefreshRow(row);
            window_.RefreshRow(row + 1);
        }
    }
}

void RackMessages::VersionReport(const tEngineMessage& m) {
    const int i = RackIndexForPort(racks_, m.Header().Band());
    if (i == 0) return;
    if (window_.RackRow(i) == 0) window_.RefreshRacks();
    const int row = window_.RackRow(i);
    if (row == 0) return;
    const uint32_t v = m.Data32();
    switch (m.Word(7)) {
    case 5:
    case 30:
        window_.SetRunningCell(row, RackDateText(v));
        window_.RefreshRow(row);
        break;
    case 6:
        window_.SetRunningCell(row, std::to_string((v / 256) % 256) + "." + std::to_string(v % 256));
        window_.RefreshRow(row);
        break;
    case 9:
    case 31:
        window_.SetRunningCell(row + 1, RackDateText(v));
        window_.RefreshRow(row + 1);
        break;
    default:
        break;
    }
}

std::string RackBootText(uint32_t code) {
    switch (code) {
    case 1: return "Rack boot successful";
    case 5: return "Rack boot error: no code available";
    case 6: return "Rack boot error: FPGA initialisation timeout";
    case 10: return "Rack boot error: invalid command";
    case 11: return "Rack boot error: bad flash checksum";
    case 12: return "Rack boot error: bad flash file length";
    case 13: return "Rack boot error: FPGA not responding";
    default: return "";
    }
}

void RackMessages::BootReport(const tEngineMessage& m) { control_.DisplayMessage(RackBootText(m.Data32())); }

void RackMessages::InitialiseLocalRacks() {
    for (int i = 1; i <= 49; ++i) {
        const auto& r = racks_.Records[size_t(i)];
        if (r[2] == 57 && IsLocalRack(racks_, i) && r[3] == 2)
            engine_.SendEngineLong(MakeHeader(idLocalRackStart, r[rbPort], 0), 0);
    }
}

void RackMessages::RequestRackVersions(int i) {
    const uint8_t port = racks_.Port(i);
    const uint16_t t = racks_.RackType(i);
    if (port == kCardSlotPort0 || port == kCardSlotPort1) return;
    const tEngineHeader request = MakeHeader(idVersionRequest, port, 0);
    if (t >= 2 && t <= 7) {
        engine_.SendEngineCommand(stRequest, request, 30);
        engine_.SendEngineCommand(stRequest, request, 31);
    } else if (t == 9) {
        engine_.SendEngineCommand(stRequest, request, 6);
    } else {
        engine_.SendEngineCommand(stRequest, request, 5);
        engine_.SendEngineCommand(stRequest, request, 9);
    }
    if (port == 1 || port == 2) engine_.SendEngineCommand(stRequest, MakeHeader(idDeviceData, port, 0), 0);
}

void RackMessages::SendOptocoreMessage(std::vector<uint8_t>& message) {
    if (message.empty()) return;
    const int length = message[0];
    if (length > 224) control_.WriteLog("*** Length Error: Optocore_SendMessage " + std::to_string(length));
    if (int(message.size()) < length + 1) message.resize(size_t(length + 1), 0);
    message[size_t(length)] = surface::FrameSum(message.data(), size_t(length));
    engine_.SendEngineData(hdrOptocore, message.data(), length + 1, true);
}

void RackMessages::SetOptocoreDeviceMode(uint8_t device, uint8_t parameter, uint8_t value) {
    std::vector<uint8_t> m = {5, 2, device, parameter, value, 0};
    SendOptocoreMessage(m);
}

} // namespace ravelin::engine
