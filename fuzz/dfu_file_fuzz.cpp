// Any file as a DFU image: its suffix and its program prefix.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/dfu_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ravelin::platform::dfu;
    const std::vector<uint8_t> file(data, data + size);
    Suffix suffix;
    if (ReadSuffix(file, suffix) && size >= kSuffixLength) {
        Prefix prefix;
        if (ReadPrefix(file.data(), size - kSuffixLength, prefix) &&
            uint64_t(prefix.length) + kPrefixLength != size - kSuffixLength)
            __builtin_trap(); // a prefix that does not describe the payload
    }
    Prefix prefix;
    ReadPrefix(data, size, prefix);
    return 0;
}
