#include "mcu/tiva_file_updater.h"

#include <algorithm>

namespace ravelin::mcu {

tTivaFileUpdater::tTivaFileUpdater(tTivaSendEvent aSendEvent, int32_t anUpdateHeader, std::vector<uint8_t> file,
                                   DisplayFn display)
    : UpdateHeader(anUpdateHeader), Code(std::move(file)), onSend_(std::move(aSendEvent)),
      display_(std::move(display)) {}

std::string tTivaFileUpdater::ErrorName(uint8_t Error) {
    // The device's names are at most seven characters long.
    static const char* const kNames[] = {"OK", "Length", "Checksu", "Size", "Flash"};
    if (Error < 5) return kNames[Error];
    return "unknown (" + std::to_string(Error) + ")";
}

float tTivaFileUpdater::Fraction() const {
    return PacketCount ? static_cast<float>(PacketNumber) / static_cast<float>(PacketCount) : 0.0f;
}

void tTivaFileUpdater::Start() {
    PacketCount = static_cast<int32_t>((Code.size() + kFileUpdatePacketSize - 1) / kFileUpdatePacketSize);
    PacketNumber = 0;
    Checksum = 0;
    if (PacketCount == 0) {
        Abort(tu_SizeError, "Tiva file updater: the file is empty");
        return;
    }
    SendPacket({kFileUpdateStart, static_cast<uint8_t>(PacketCount >> 8), static_cast<uint8_t>(PacketCount)});
}

void tTivaFileUpdater::Continue() {
    std::vector<uint8_t> packet{kFileUpdateData, static_cast<uint8_t>(PacketNumber >> 8),
                                static_cast<uint8_t>(PacketNumber)};
    const size_t from = static_cast<size_t>(PacketNumber) * kFileUpdatePacketSize;
    const size_t to = std::min(Code.size(), from + kFileUpdatePacketSize);
    ++PacketNumber;
    for (size_t i = from; i < to; ++i) {
        packet.push_back(Code[i]);
        Checksum += Code[i];
    }
    SendPacket(packet);
}

void tTivaFileUpdater::Finish() {
    finishSent_ = true;
    SendPacket({kFileUpdateFinish, static_cast<uint8_t>(Checksum >> 8), static_cast<uint8_t>(Checksum)});
}

void tTivaFileUpdater::Abort(uint8_t Error, const std::string& Reason) {
    if (display_) display_(Reason + "\r\nUpdate aborted");
    ended_ = true;
    if (OnUpdateFinished) OnUpdateFinished(Fraction(), Error);
}

void tTivaFileUpdater::SendPacket(const std::vector<uint8_t>& Packet) {
    if (Packet.size() >= static_cast<size_t>(kFileUpdateMaxData)) {
        if (display_) display_("  to Tiva: Max message length exceeded");
        return;
    }
    std::string message(1, static_cast<char>(UpdateHeader & 0xFF));
    message.append(Packet.begin(), Packet.end());
    if (onSend_) onSend_(message);
}

void tTivaFileUpdater::ReceiveMessage(const std::string& aMessage) {
    // After its end the updater stays inert: a late answer must not end the
    // update a second time.
    if (ended_ || aMessage.size() < 3) return;
    auto byte = [&](size_t i) { return static_cast<uint8_t>(aMessage[i]); };
    if (byte(0) != static_cast<uint8_t>(UpdateHeader & 0xFF)) return;
    const uint8_t kind = byte(1);
    const uint8_t error = byte(2);
    if (error != 0) {
        Abort(error, "Tiva file updater " + ErrorName(error) +
                         (kind == kFileUpdateErase ? std::string(" error during erase")
                                                   : " error on packet " + std::to_string(PacketNumber)));
        return;
    }
    switch (kind) {
    case kFileUpdateStart:
        if (PacketNumber == 0) Continue();
        break;
    case kFileUpdateData: {
        if (aMessage.size() < 5) return;
        // Numbers travel most significant byte first, both ways.
        const int32_t n = byte(3) << 8 | byte(4);
        if (PacketNumber == n + 1) {
            if (PacketNumber == PacketCount)
                Finish();
            else
                Continue();
        } else {
            Abort(tu_SequenceError, "Tiva file updater packet number error: " + std::to_string(n) +
                                        "acknowledged instead of " + std::to_string(PacketNumber - 1));
        }
        if (OnUpdatePacket) OnUpdatePacket(Fraction(), tu_Ack);
        break;
    }
    case kFileUpdateFinish:
        // Only the finish message earns a success: a device that reports the
        // end before it has the whole file has not got the file.
        if (!finishSent_) {
            Abort(tu_SequenceError, "Tiva file updater finished early on packet " + std::to_string(PacketNumber));
            return;
        }
        ended_ = true;
        if (OnUpdateFinished) OnUpdateFinished(1.0f, tu_Ack);
        break;
    case kFileUpdateErase:
        if (aMessage.size() < 4) return;
        if (OnEraseProgress) OnEraseProgress(static_cast<float>(byte(3)) / 100.0f, tu_Ack);
        break;
    default: break;
    }
}

} // namespace ravelin::mcu
