// The shared frame check: any bytes, as one whole frame.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "surface/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ravelin::surface;
    std::string body;
    const std::string_view frame(reinterpret_cast<const char*>(data), size);
    if (DecodeFrame(frame, body)) {
        // What decodes encodes back to the same bytes.
        if (EncodeFrame(body) != frame) std::abort();
    }
    return 0;
}
