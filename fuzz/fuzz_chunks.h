#pragma once
// Cuts a fuzz input into the pieces a link would hand over one at a time:
// each piece is preceded by its length byte, so that the fuzzer also finds
// frames split across reads.
#include <cstddef>
#include <cstdint>
#include <string>

namespace ravelin::fuzz {

template <typename Deliver>
void ForEachChunk(const uint8_t* data, size_t size, Deliver deliver) {
    size_t i = 0;
    while (i < size) {
        const size_t want = data[i++];
        const size_t n = want < size - i ? want : size - i;
        deliver(std::string(reinterpret_cast<const char*>(data + i), n));
        i += n;
    }
}

} // namespace ravelin::fuzz
