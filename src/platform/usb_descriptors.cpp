#include "platform/usb_control.h"

#include <algorithm>

namespace ravelin::platform {

namespace {

constexpr uint8_t kDescInterface = 4;
constexpr uint8_t kDescDfuFunctional = 0x21;
constexpr uint8_t kClassApplicationSpecific = 0xFE;
constexpr uint8_t kSubclassDfu = 1;

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

} // namespace

bool ParseDfuFunctional(const uint8_t* extra, size_t length, DfuFunctional& out) {
    for (size_t at = 0; at + 2 <= length && extra[at] >= 2; at += extra[at]) {
        if (extra[at + 1] != kDescDfuFunctional) continue;
        if (extra[at] < 7 || at + extra[at] > length) return false;
        const uint8_t* d = extra + at;
        out.bmAttributes = d[2];
        out.wDetachTimeOut = le16(d + 3);
        out.wTransferSize = le16(d + 5);
        out.bcdDFUVersion = extra[at] >= 9 ? le16(d + 7) : 0x0100;
        return true;
    }
    return false;
}

void ParseDfuInterfaces(const std::vector<uint8_t>& device, const std::vector<uint8_t>& configuration,
                        std::vector<UsbDfuEntry>& out) {
    if (device.size() < 18 || device[1] != 1) return;
    UsbDfuEntry base;
    base.bcdDevice = le16(&device[12]);
    base.idVendor = le16(&device[8]);
    base.idProduct = le16(&device[10]);
    base.iManufacturer = device[14];
    base.iProduct = device[15];
    base.iSerialNumber = device[16];
    const uint8_t* c = configuration.data();
    const size_t n = configuration.size();
    for (size_t at = 0; at + 2 <= n && c[at] >= 2; at += c[at]) {
        if (c[at + 1] != kDescInterface || c[at] < 9 || at + 9 > n) continue;
        if (c[at + 5] != kClassApplicationSpecific || c[at + 6] != kSubclassDfu) continue;
        // The functional descriptor follows the interface, before the next interface.
        size_t end = at + c[at];
        while (end + 2 <= n && c[end] >= 2 && c[end + 1] != kDescInterface) end += c[end];
        UsbDfuEntry e = base;
        e.interfaceNumber = c[at + 2];
        e.interfaceProtocol = c[at + 7];
        if (ParseDfuFunctional(c + at + c[at], std::min(end, n) - (at + c[at]), e.functional)) out.push_back(e);
    }
}

} // namespace ravelin::platform
