#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/host_messages.h"
#include "platform/local_time.h"
#include "surface/com_stream.h"

// The engine host board: one serial port, framed messages (a length byte, the
// header, data, an 8-bit sum), a poll once a second, and the values the board
// reports. Everything here runs on the user-interface thread; the port's own
// worker only moves bytes.
namespace ravelin::host {

// A whole received message (header first) for the running file update.
using tCorvaneFileUpdateReceiver = std::function<void(const std::string& message)>;

// The host board as the rest of the program sees it: the versions it reports
// over its serial link, and the sends the updates make. There is no host
// object while no link is open.
class CorvaneHost {
public:
    virtual ~CorvaneHost() = default;
    std::string HostName = "Corvane";  // prefix of log lines; chooses the FPGA file
    uint8_t FirmwareVersion = 0;       // 0: not reported
    std::string FPGAVersion;           // a date text once reported
    // The poll and then everything received: the 10 ms service step.
    virtual void Service() {}
    // message: the header, then the data.
    virtual void SendMessage(const std::string& message) {}
    // The running host FPGA or USB-audio file update takes the replies with
    // its header (39, 40); none is set while no such update runs.
    virtual void SetFileUpdateReceiver(tCorvaneFileUpdateReceiver receiver) {}
    virtual void Restart() {}
    virtual void Boot() {}
    virtual void ResetEngine() {}
    virtual void SetUDPorTCP(bool UseTCP) {}
};

// What the host link needs from the rest of the program.
struct HostServices {
    surface::ComPortOpener openPort;  // throws ComPortError when the port cannot be opened
    // The main window's message line. It must NOT count as progress of a
    // running update: the link shows its errors there every second on a dead
    // port, and an update that took them for progress would never end.
    std::function<void(const std::string&)> showMessage;
    std::function<void(const std::string&)> writeLog;  // the program's log (WriteLog)
};

using tCorvaneSampleRateEvent = std::function<void(tCorvanePort port, uint32_t sampleRate)>;
using tCorvaneEngineUpdateEvent = std::function<void(uint8_t updated)>;
class tCorvaneHost : public CorvaneHost {
public:
    static constexpr int kPollServiceCalls = 100;  // service calls (10 ms each) per poll
    static constexpr int kPollFailClear = 10;      // unanswered polls that clear the values

    // Opens the port at once; a port that cannot be opened leaves the object
    // silent (no polling, no receiving, sending does nothing).
    tCorvaneHost(uint32_t aComPort, bool ErrorLogging, std::string aName, HostServices services);
    ~tCorvaneHost() override;
    tCorvaneHost(const tCorvaneHost&) = delete;
    tCorvaneHost& operator=(const tCorvaneHost&) = delete;

    void OpenComPort();
    void CloseComPort();
    bool PortOpen() const { return ComPort != nullptr; }

    void LogMessage(const std::string& prefix, const std::string& message);
    void LogError(const std::string& aMessage);
    void Clear();

    void SendHeader(uint8_t header);
    void SendError(uint8_t error);
    void SendData(uint8_t header, const uint8_t* data, int dataLength);
    void SendMessage(const std::string& message) override;
    // The next complete, valid message (header first), or "".
    std::string ReceiveMessage();
    void ServiceReceive();
    void ServiceAYT();
    void Service() override;

    void ResetEngine() override { SendHeader(kHostResetEngine); }
    void Boot() override { SendHeader(kHostBoot); }
    void Restart() override { SendHeader(kHostRestart); }
    void SetSyncSource(tCorvanePort aPort);
    void SetUDPorTCP(bool UseTCP) override;
    void SetDateTime(const platform::LocalDateTime& now);
    // Asks for the recovery state; the reply lands in RecoveryState and
    // clears RecoveryStateRequested.
    void RequestRecoveryState();

    void SetFileUpdateReceiver(tCorvaneFileUpdateReceiver receiver) override {
        fileUpdateReceiver_ = std::move(receiver);
    }

    tCorvaneSampleRateEvent OnSampleRateChange;
    tCorvaneEngineUpdateEvent OnEngineResetComplete;
    tCorvaneEngineUpdateEvent OnEngineFPGAUpdateComplete;
    tCorvaneEngineUpdateEvent OnXMOSUpdateComplete;

    uint8_t DeviceID = 0;
    uint8_t Temperature = 0;
    uint32_t ComPortID = 0;
    uint32_t IPAddress = 0;
    uint32_t SubnetMask = 0;
    bool UDPorTCP = false;
    std::array<uint32_t, kCorvanePortCount> SampleRates{};
    std::array<float, kCorvaneVoltageCount> Voltages{};
    int16_t RecoveryState = 0;
    // The USB-audio processor's last report after its update (UpdateXMOS); -1: none yet.
    int16_t XMOSUpdateState = -1;

    bool Logging = false;
    bool LogErrors = false;
    bool AYTActive = true;
    bool RecoveryStateRequested = false;

    int32_t PollFailCount() const { return AYTFailCount; }
    bool StatusOutstanding() const { return StatusRequested; }

private:
    void HandleMessage(const std::string& message);
    void ReceiveStatus(const uint8_t* d);
    void ReceiveSampleRate(uint8_t port, uint32_t sampleRate);

    HostServices services_;
    std::unique_ptr<surface::ComStream> ComPort;
    tCorvaneFileUpdateReceiver fileUpdateReceiver_;
    int32_t AYTQFCount = 0;
    int32_t AYTFailCount = 0;
    bool StatusRequested = false;
};

// The service step of the engine link: the poll, then what the board sent.
void ServiceCorvaneHost(tCorvaneHost* host);
// The engine reset on closing after an engine code update.
void ResetEngineViaHost(tCorvaneHost* host);
// The host link of the console: none when the settings name no port (0);
// named after the console model, "Corvane" when none was found. Error lines
// go to the log only.
std::unique_ptr<tCorvaneHost> OpenCorvaneHost(uint32_t engineComPort, const std::string& consoleName,
                                              HostServices services);

} // namespace ravelin::host
