// Any file as an update file: the Intel-HEX panel code, the version marker of
// binary images, the build date of an FPGA bit file and of a rack code file.
#include <cstddef>
#include <cstdint>

#include "app/catalogue.h"
#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ravelin;
    const std::string path = fuzz::WriteFuzzFile("panel.hex", data, size);
    app::HexMarkerVersion(path);
    app::VersionAfterMarker(path, false);
    app::VersionAfterMarker(path, true);
    fuzz::WriteFuzzFile("image.bit", data, size);
    app::BitFileDateText(fuzz::FuzzFolder(), "image.bit");
    fuzz::WriteFuzzFile("rack.bin", data, size);
    app::BitFileDateText(fuzz::FuzzFolder(), "rack.bin");
    return 0;
}
