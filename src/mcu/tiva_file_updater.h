#pragma once
// The program's end of the file-update protocol that a device's running
// firmware speaks: a start message with the packet count, numbered 128-byte
// data packets each acknowledged before the next goes out, and a finish
// message with the 16-bit byte sum. It owns no link: every message goes to
// OnSend, and the owner hands it every message it receives. There is no
// time-out here; the owner's watchdog looks after silence.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mcu/tiva_types.h"

namespace ravelin::mcu {

// The second byte of every message: to the device the kind of message, from
// it the kind of answer.
constexpr uint8_t kFileUpdateStart = 0;
constexpr uint8_t kFileUpdateData = 1;
constexpr uint8_t kFileUpdateFinish = 2;
constexpr uint8_t kFileUpdateErase = 3; // from the device only
constexpr int kFileUpdatePacketSize = 128;
// A message type byte and 253 more fill a frame.
constexpr int kFileUpdateMaxData = 254;

using tTivaSendEvent = std::function<void(const std::string& aMessage)>;

class tTivaFileUpdater {
public:
    // `file` is the whole file; the owner reads it. Nothing goes out before Start.
    tTivaFileUpdater(tTivaSendEvent aSendEvent, int32_t anUpdateHeader, std::vector<uint8_t> file,
                     DisplayFn display = {});

    // Sends the start message. An empty file is refused: nothing is sent (a
    // device told to expect no packets would erase itself and then be given
    // nothing) and the update ends at once with tu_SizeError.
    void Start();
    // A message the owner received on the link (its first byte the type).
    void ReceiveMessage(const std::string& aMessage);
    bool Ended() const { return ended_; }

    static std::string ErrorName(uint8_t Error);

    tTivaUpdateEvent OnUpdatePacket;
    tTivaUpdateEvent OnUpdateFinished;
    tTivaUpdateEvent OnEraseProgress;

    int32_t UpdateHeader;
    std::vector<uint8_t> Code;
    int32_t Checksum = 0;
    int32_t PacketCount = 0;
    int32_t PacketNumber = 0;

private:
    void Continue();
    void Finish();
    void Abort(uint8_t Error, const std::string& Reason);
    void SendPacket(const std::vector<uint8_t>& Packet);
    float Fraction() const;

    tTivaSendEvent onSend_;
    DisplayFn display_;
    bool ended_ = false;
    bool finishSent_ = false;
};

} // namespace ravelin::mcu
