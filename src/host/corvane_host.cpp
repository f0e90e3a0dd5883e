#include "host/corvane_host.h"

#include "surface/frame.h"

namespace ravelin::host {

namespace {

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

const uint8_t* bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

} // namespace

tCorvaneHost::tCorvaneHost(uint32_t aComPort, bool ErrorLogging, std::string aName, HostServices services)
    : services_(std::move(services)) {
    ComPortID = aComPort;
    HostName = std::move(aName);
    FPGAVersion = std::string(10, ' ');
    LogErrors = ErrorLogging;
    AYTActive = true;
    OpenComPort();
}

tCorvaneHost::~tCorvaneHost() { CloseComPort(); }

void tCorvaneHost::OpenComPort() {
    if (ComPortID == 0 || ComPort) return;
    try {
        if (services_.openPort) ComPort = services_.openPort(int(ComPortID), kHostBaudRate, true);
    } catch (const surface::ComPortError&) {
        ComPort.reset();
    }
    if (!ComPort) LogError("Cannot open Engine Host ComPort " + std::to_string(ComPortID));
}

void tCorvaneHost::CloseComPort() { ComPort.reset(); }

void tCorvaneHost::LogMessage(const std::string& prefix, const std::string& message) {
    if (message.empty()) return;
    std::string line = prefix.substr(0, 31) + MessageName(uint8_t(message[0]));
    for (unsigned char c : message) line += " " + std::to_string(c);
    if (services_.showMessage) services_.showMessage(line);
}

void tCorvaneHost::LogError(const std::string& aMessage) {
    std::string line = HostName + " Host " + aMessage;
    if (services_.writeLog) services_.writeLog(line);
    if ((Logging || LogErrors) && services_.showMessage) services_.showMessage(line);
}

void tCorvaneHost::Clear() {
    if (ComPort) {
        ComPort->clearInputQueue();
        ComPort->clearOutputQueue();
    }
    const uint8_t zeros[kHostStatusLength] = {};
    ReceiveStatus(zeros);
    SampleRates.fill(0);
    Voltages.fill(0.0f);
    StatusRequested = false;
}

void tCorvaneHost::SendHeader(uint8_t header) { SendMessage(std::string(1, char(header))); }

void tCorvaneHost::SendError(uint8_t error) { SendData(kHostError, &error, 1); }

void tCorvaneHost::SendData(uint8_t header, const uint8_t* data, int dataLength) {
    if (dataLength > kHostMaxData) {
        LogError("Tx error: max message length exceeded");
        return;
    }
    std::string message(1, char(header));
    message.append(reinterpret_cast<const char*>(data), size_t(dataLength));
    SendMessage(message);
}

void tCorvaneHost::SendMessage(const std::string& message) {
    if (Logging) LogMessage("  to " + HostName + ": ", message);
    if (!ComPort) return;
    const std::string frame = surface::EncodeFrame(message);
    if (frame.empty()) return;
    int sent = ComPort->send(bytes(frame), int(frame.size()));
    if (sent != int(frame.size()))
        LogError("Tx error: " + std::to_string(sent) + " sent instead of " + std::to_string(frame.size()));
}

std::string tCorvaneHost::ReceiveMessage() {
    if (!ComPort) return {};
    uint8_t L = 0;
    if (!ComPort->peekNextByte(L)) return {};
    if (L < 2 || L == 255) {
        LogError("Rx error: Invalid Length received: " + std::to_string(L));
        ComPort->clearInputQueue();
        SendError(tu_LengthError);
        return {};
    }
    if (ComPort->receivingCount() <= int(L)) return {};
    std::string frame(size_t(L) + 1, '\0');
    ComPort->receive(reinterpret_cast<uint8_t*>(frame.data()), int(frame.size()));
    std::string body;
    if (!surface::DecodeFrame(frame, body)) {
        std::string text = "Rx error: Invalid CheckSum received: ";
        for (size_t i = 0; i < L; ++i) text += std::to_string(uint8_t(frame[i])) + " ";
        text += std::to_string(uint8_t(frame[L])) + ", correct checksum: " +
                std::to_string(surface::FrameSum(bytes(frame), L));
        LogError(text);
        ComPort->clearInputQueue();
        SendError(tu_ChecksumError);
        return {};
    }
    return body;
}

void tCorvaneHost::ServiceReceive() {
    // A handler may close the port (a finished update re-opening the links),
    // so the port is looked at again before every message.
    while (ComPort) {
        std::string message = ReceiveMessage();
        if (message.empty()) return;
        HandleMessage(message);
    }
}

void tCorvaneHost::ServiceAYT() {
    if (!ComPort || !AYTActive) return;
    if (++AYTQFCount < kPollServiceCalls) return;
    AYTQFCount = 0;
    if (++AYTFailCount == kPollFailClear) {
        Clear();
        if (Logging) LogError("Response Timeout");
    }
    SendHeader(kHostAYT);
}

void tCorvaneHost::Service() {
    ServiceAYT();
    ServiceReceive();
}

void tCorvaneHost::SetSyncSource(tCorvanePort aPort) {
    const uint8_t b = aPort;
    SendData(kHostSyncSource, &b, 1);
}

void tCorvaneHost::SetUDPorTCP(bool UseTCP) {
    UDPorTCP = UseTCP;
    const uint8_t b = UseTCP ? 1 : 0;
    SendData(kHostUDPorTCP, &b, 1);
}

void tCorvaneHost::SetDateTime(const platform::LocalDateTime& now) {
    const uint8_t d[7] = {uint8_t(now.year / 100), uint8_t(now.year % 100), uint8_t(now.month), uint8_t(now.day),
                          uint8_t(now.hour),       uint8_t(now.minute),     uint8_t(now.second)};
    SendData(kHostSetDateTime, d, 7);
}

void tCorvaneHost::RequestRecoveryState() {
    RecoveryStateRequested = true;
    SendHeader(kHostRecoveryState);
}

void tCorvaneHost::HandleMessage(const std::string& message) {
    if (Logging) LogMessage("from " + HostName + ": ", message);
    const uint8_t header = uint8_t(message[0]);
    const uint8_t* d = bytes(message) + 1;
    const size_t n = message.size() - 1;
    switch (header) {
    case kHostAYT:
        AYTFailCount = 0;
        if (DeviceID == 0 && !StatusRequested) {
            SendHeader(kHostStatus);
            StatusRequested = true;
        }
        break;
    case kHostError:
        Clear();
        LogError("Checksum error on message received by Host");
        break;
    case kHostUpdateHostFPGA:
    case kHostUpdateUSBAudio:
        if (fileUpdateReceiver_) fileUpdateReceiver_(message);
        break;
    case kHostUpdateXMOS:
        if (n < 1) break;
        XMOSUpdateState = d[0];
        if (OnXMOSUpdateComplete) OnXMOSUpdateComplete(d[0]);
        break;
    case kHostStatus:
        if (n >= kHostStatusLength) ReceiveStatus(d);
        break;
    case kHostSampleRate:
        if (n >= 5) ReceiveSampleRate(d[0], le32(d + 1));
        break;
    case kHostResetEngine:
        if (n >= 1 && OnEngineResetComplete) OnEngineResetComplete(d[0]);
        break;
    case kHostUpdateEngineFPGA:
        if (n >= 1 && OnEngineFPGAUpdateComplete) OnEngineFPGAUpdateComplete(d[0]);
        break;
    case kHostTemperature:
        if (n >= 1) Temperature = d[0];
        break;
    case kHostVoltages:
        if (n >= kCorvaneVoltageCount)
            for (int i = 0; i < kCorvaneVoltageCount; ++i) Voltages[size_t(i)] = float(d[i]) / 10.0f;
        break;
    case kHostIPAddress:
        if (n >= 4) IPAddress = le32(d);
        break;
    case kHostSubnetMask:
        if (n >= 4) SubnetMask = le32(d);
        break;
    case kHostUDPorTCP:
        if (n >= 1) UDPorTCP = d[0] != 0;
        break;
    case kHostRecoveryState:
        if (n >= 2) {
            RecoveryState = int16_t(uint16_t(d[0] | d[1] << 8));
            RecoveryStateRequested = false;
        }
        break;
    default:
        break;
    }
}

void tCorvaneHost::ReceiveStatus(const uint8_t* d) {
    StatusRequested = false;
    DeviceID = d[0];
    if (FirmwareVersion == 0 && services_.writeLog)
        services_.writeLog(HostName + " Host version " + std::to_string(d[1]));
    FirmwareVersion = d[1];
    // The board sends the date's year first, then the month and day part, then the day.
    FPGAVersion.assign(10, ' ');
    for (int i = 0; i < 4; ++i) FPGAVersion[size_t(6 + i)] = char(d[2 + i]);
    for (int i = 0; i < 4; ++i) FPGAVersion[size_t(2 + i)] = char(d[6 + i]);
    for (int i = 0; i < 2; ++i) FPGAVersion[size_t(i)] = char(d[10 + i]);
}

void tCorvaneHost::ReceiveSampleRate(uint8_t port, uint32_t sampleRate) {
    if (port >= kCorvanePortCount) return;
    SampleRates[port] = sampleRate;
    if (OnSampleRateChange) OnSampleRateChange(tCorvanePort(port), sampleRate);
}

void ServiceCorvaneHost(tCorvaneHost* host) {
    if (host) host->Service();
}

void ResetEngineViaHost(tCorvaneHost* host) {
    if (host) host->ResetEngine();
}

std::unique_ptr<tCorvaneHost> OpenCorvaneHost(uint32_t engineComPort, const std::string& consoleName,
                                              HostServices services) {
    if (engineComPort == 0) return nullptr;
    return std::make_unique<tCorvaneHost>(engineComPort, false, consoleName.empty() ? "Corvane" : consoleName,
                                          std::move(services));
}

} // namespace ravelin::host
