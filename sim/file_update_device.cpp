#include "file_update_device.h"

namespace ravelin::sim {

std::vector<uint8_t> FileUpdateDevice::answer(uint8_t kind, uint8_t error, int value) const
{
    std::vector<uint8_t> m{type_, kind, error};
    if (value >= 0) {
        m.push_back(uint8_t(value >> 8));
        m.push_back(uint8_t(value));
    }
    return m;
}

std::vector<std::vector<uint8_t>> FileUpdateDevice::receive(const uint8_t* body, std::size_t size)
{
    std::vector<std::vector<uint8_t>> out;
    if (!behaviour_.enabled || behaviour_.silent || size < 3) return out;
    if (behaviour_.silentAfterPackets >= 0 && record_.starts > 0 && record_.packets >= behaviour_.silentAfterPackets)
        return out;
    const uint8_t kind = body[0];
    const int number = body[1] << 8 | body[2];
    switch (kind) {
    case 0: // start: number is the packet count
        ++record_.starts;
        count_ = number;
        next_ = 0;
        file_.clear();
        for (uint8_t pct : behaviour_.eraseSteps) {
            if (behaviour_.eraseError && pct >= 45) {
                out.push_back({type_, 3, uint8_t(behaviour_.eraseError), pct, 0});
                return out;
            }
            out.push_back({type_, 3, 0, pct, 0});
        }
        out.push_back(answer(0, 0));
        break;
    case 1:
        if (number == behaviour_.errorPacket) {
            out.push_back(answer(1, behaviour_.errorCode, number));
            break;
        }
        if (number != next_) {
            out.push_back(answer(1, 5, number)); // out of sequence
            break;
        }
        ++next_;
        ++record_.packets;
        file_.insert(file_.end(), body + 3, body + size);
        out.push_back(answer(1, 0, number));
        break;
    case 2: {
        ++record_.finishes;
        unsigned sum = 0;
        for (uint8_t b : file_) sum += b;
        const bool whole = next_ == count_ && (sum & 0xFFFF) == unsigned(number);
        if (behaviour_.finishError) {
            out.push_back(answer(2, behaviour_.finishError));
            break;
        }
        if (whole) {
            ++record_.completed;
            record_.file = file_;
        }
        out.push_back(answer(2, whole ? 0 : 2));
        break;
    }
    default:
        break;
    }
    return out;
}

} // namespace ravelin::sim
