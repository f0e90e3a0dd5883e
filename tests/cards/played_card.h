#pragma once
// A card played by the test byte for byte: its boot loader and its running
// firmware, over the fake TCP link of fake_tcp.h.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fake_tcp.h"

namespace ravelin::cards::test {

// The status a running card of `type` answers the poll with.
inline std::string Status(int type)
{
    return CardFrame({30, 0, type, 7, 41, '2', '0', '2', '1', '/', '0', '4', '/', '2', '2', 0x80, 0xBB, 0, 0});
}

inline const std::string kSync = Bytes({0x55, 0x55});
inline const std::string kPoll = Bytes({0x03, 0x1E, 0x00, 0x21});
inline const std::string kRestart = Bytes({0x03, 0x04, 0x00, 0x07});
inline const std::string kPing = Bytes({0x03, 0x20, 0x20});

// The card: a boot loader that ACKs every packet, answers get status with
// `status` (success unless a data packet number is chosen to fail), keeps
// the image and resets; afterwards (or before a restart request) a running
// firmware that answers "UU" with 0xAA and polls with its status, and hands
// every other frame's body to `onFrame`.
struct PlayedCard {
    std::shared_ptr<FakeTcpState> sock;
    bool bootLoader = false;
    bool silent = false;
    int failDataPacket = 0; // answers the status after this data packet with flash failure
    int nakDataPacket = 0;  // refuses this data packet once (as if it came garbled)
    int dataPackets = 0;
    int resets = 0;
    int polls = 0;          // polls answered
    size_t seen = 0;
    std::vector<uint8_t> image;
    std::vector<std::string> packets; // every boot-loader packet, in order
    uint8_t status = 0x40;
    bool naked = false;
    std::function<void(const std::string& body)> onFrame;

    void Answer()
    {
        while (seen < sock->sent.size()) {
            const std::string s = sock->sent[seen++];
            if (silent) continue;
            if (!bootLoader) {
                Running(s);
                continue;
            }
            std::string out;
            if (s == kSync) out = Bytes({0x00, 0xCC});
            else if (s.size() >= 3 && uint8_t(s[0]) == s.size()) {
                packets.push_back(s);
                out = Bytes({0xCC});
                switch (uint8_t(s[2])) {
                case 0x23: out += std::string{3, char(status), char(status)}; break;
                case 0x24:
                    if (dataPackets + 1 == nakDataPacket && !naked) {
                        naked = true;
                        out = Bytes({0x33});
                        break;
                    }
                    image.insert(image.end(), s.begin() + 3, s.end());
                    if (++dataPackets == failDataPacket) status = 0x44;
                    break;
                case 0x25:
                    ++resets;
                    bootLoader = false;
                    break;
                default: break;
                }
            }
            if (!out.empty()) sock->deliver(out);
        }
    }

private:
    // The running firmware reads frames from the stream: length, header,
    // data, sum; the synchronisation bytes and zeros between them.
    void Running(const std::string& s)
    {
        size_t i = 0;
        while (i < s.size() && !bootLoader) {
            const uint8_t b = uint8_t(s[i]);
            if (b == 0x55 && i + 1 < s.size() && uint8_t(s[i + 1]) == 0x55) {
                sock->deliver(Bytes({0xAA}));
                i += 2;
                continue;
            }
            if (b <= 2 || b == 0x55 || i + b + 1 > s.size()) {
                ++i;
                continue;
            }
            const std::string frame = s.substr(i, size_t(b) + 1);
            i += size_t(b) + 1;
            if (frame == kPoll) {
                ++polls;
                sock->deliver(Status(20));
            } else if (frame == kRestart) {
                bootLoader = true;
            } else if (onFrame) {
                onFrame(frame.substr(1, size_t(b) - 1));
            }
        }
    }
};

} // namespace ravelin::cards::test
