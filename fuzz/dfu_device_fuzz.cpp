// Control requests into the virtual console's USB boot loader: each record
// is the setup packet (request type, request, value, index, length) and the
// data of an OUT transfer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dfu_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ravelin::sim::DfuDeviceConfig config;
    config.flashBlocks = 16; // a small flash keeps each run quick
    config.busyPolls = 1;
    ravelin::sim::DfuDevice device(config);
    size_t i = 0;
    while (i + 8 <= size) {
        const uint8_t type = data[i], request = data[i + 1];
        const uint16_t value = uint16_t(data[i + 2] | data[i + 3] << 8);
        const uint16_t index = uint16_t(data[i + 4] | data[i + 5] << 8);
        const uint16_t length = uint16_t(data[i + 6] | data[i + 7] << 8);
        i += 8;
        std::vector<uint8_t> out;
        if (!(type & 0x80)) {
            const size_t n = length < size - i ? length : size - i;
            out.assign(data + i, data + i + n);
            i += n;
        }
        const auto reply = device.control(type, request, value, index, out, length);
        if ((type & 0x80) && reply.data.size() > length) __builtin_trap(); // an IN transfer never returns more than asked
    }
    return 0;
}
