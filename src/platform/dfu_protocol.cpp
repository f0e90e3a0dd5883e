#include "platform/dfu_protocol.h"

#include <algorithm>

#include "platform/dfu_file.h"

namespace ravelin::platform::dfu {

namespace {

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

constexpr uint8_t kGetDescriptor = 6;
constexpr uint16_t kStringDescriptor = 0x0300;
constexpr uint16_t kLanguageEnglishUS = 0x0409;

} // namespace

int ResultOf(UsbOutcome outcome) {
    switch (outcome) {
    case UsbOutcome::Done: return DFU_OK;
    case UsbOutcome::Stall: return DFU_ERR_STALL;
    case UsbOutcome::Timeout: return DFU_ERR_TIMEOUT;
    case UsbOutcome::Gone: return DFU_ERR_DISCONNECTED;
    case UsbOutcome::Access: return DFU_ERR_ACCESS;
    case UsbOutcome::Error: break;
    }
    return DFU_ERR_UNKNOWN;
}

DfuProtocol::DfuProtocol(ControlPipe& pipe, const UsbDfuEntry& entry, Clock& clock)
    : pipe_(pipe), entry_(entry), clock_(clock) {
    info_.idVendor = entry.idVendor;
    info_.idProduct = entry.idProduct;
    info_.bcdDevice = entry.bcdDevice;
    info_.transferSize = entry.functional.wTransferSize;
    info_.attributes = entry.functional.bmAttributes;
    info_.interfaceNumber = entry.interfaceNumber;
    info_.iManufacturer = entry.iManufacturer;
    info_.iProduct = entry.iProduct;
    info_.iSerialNumber = entry.iSerialNumber;
    info_.dfuMode = entry.interfaceProtocol == 2;
}

UsbResult DfuProtocol::control(uint8_t requestType, uint8_t request, uint16_t value, uint8_t* data,
                               uint16_t length) {
    return pipe_.control(requestType, request, value, entry_.interfaceNumber, data, length, kControlTimeoutMs);
}

int DfuProtocol::out(uint8_t request, uint16_t value, const uint8_t* data, uint16_t length) {
    UsbResult r = control(kRequestOut, request, value, const_cast<uint8_t*>(data), length);
    return ResultOf(r.outcome);
}

int DfuProtocol::GetStatus(DfuStatus& status) {
    uint8_t b[6] = {};
    UsbResult r = control(kRequestIn, DFU_GETSTATUS, 0, b, 6);
    if (r.outcome != UsbOutcome::Done) return ResultOf(r.outcome);
    if (r.length < 6) return DFU_ERR_UNKNOWN;
    status.bStatus = b[0];
    status.bwPollTimeout = uint32_t(b[1]) | uint32_t(b[2]) << 8 | uint32_t(b[3]) << 16;
    status.bState = b[4];
    status.iString = b[5];
    return DFU_OK;
}

int DfuProtocol::waitFor(uint8_t state) {
    uint32_t waited = 0;
    for (;;) {
        DfuStatus s;
        if (int rc = GetStatus(s)) return rc;
        if (s.bState == state) return DFU_OK;
        // The boot loader can enter dfuERROR with the status still OK: the
        // state decides.
        if (s.bState == dfuERROR) {
            out(DFU_CLRSTATUS, 0, nullptr, 0);
            return DFU_ERR_DNLOAD_FAIL;
        }
        if (s.bState != dfuDNLOAD_SYNC && s.bState != dfuDNBUSY && s.bState != dfuMANIFEST_SYNC)
            return DFU_ERR_DNLOAD_FAIL;
        const uint32_t wait = std::max<uint32_t>(s.bwPollTimeout, 1);
        if (waited + wait > kBusyCapMs) return DFU_ERR_TIMEOUT;
        clock_.sleep(int(wait));
        waited += wait;
    }
}

int DfuProtocol::toIdle() {
    DfuStatus s;
    if (int rc = GetStatus(s)) return rc;
    if (s.bState == dfuERROR) {
        if (int rc = out(DFU_CLRSTATUS, 0, nullptr, 0)) return rc;
    } else if (s.bState == dfuDNLOAD_IDLE || s.bState == dfuUPLOAD_IDLE) {
        if (int rc = out(DFU_ABORT, 0, nullptr, 0)) return rc;
    } else if (s.bState == dfuIDLE) {
        return DFU_OK;
    }
    if (int rc = GetStatus(s)) return rc;
    return s.bState == dfuIDLE ? DFU_OK : DFU_ERR_UNKNOWN;
}

int DfuProtocol::command(uint8_t cmd, uint8_t byte1, uint16_t start, uint32_t length) {
    const uint8_t c[kTivaCommandLength] = {cmd,           byte1,         uint8_t(start),         uint8_t(start >> 8),
                                           uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16), uint8_t(length >> 24)};
    if (int rc = out(DFU_DNLOAD, 0, c, kTivaCommandLength)) return rc;
    return waitFor(dfuIDLE);
}

int DfuProtocol::Identify(DfuDeviceInfo& info) {
    if (int rc = toIdle()) return rc;
    uint8_t q[4] = {};
    UsbResult r = control(kRequestIn, kTivaQueryRequest, kTivaQueryValue, q, 4);
    if (r.outcome == UsbOutcome::Stall) {
        info_.tivaExtensions = false;
    } else if (r.outcome != UsbOutcome::Done) {
        return ResultOf(r.outcome);
    } else {
        info_.tivaExtensions = r.length == 4 && le16(q) == kTivaMarker && le16(q + 2) == kTivaVersion;
    }
    if (info_.tivaExtensions) {
        if (int rc = command(TIVA_INFO, 0, 0, 0)) return rc;
        uint8_t b[kTivaInfoLength] = {};
        r = control(kRequestIn, DFU_UPLOAD, 0, b, kTivaInfoLength);
        if (r.outcome != UsbOutcome::Done) return ResultOf(r.outcome);
        if (r.length < int(kTivaInfoLength)) return DFU_ERR_UNKNOWN;
        info_.flashBlockSize = le16(b);
        info_.flashBlocks = le16(b + 2);
        info_.partInfo = le32(b + 4);
        info_.classInfo = le32(b + 8);
        info_.flashTop = le32(b + 12);
        info_.appStart = le32(b + 16);
        if (int rc = toIdle()) return rc;
    }
    info = info_;
    return DFU_OK;
}

int DfuProtocol::GetString(uint8_t index, std::string& text) {
    text.clear();
    if (index == 0) return DFU_OK;
    uint8_t b[255] = {};
    UsbResult r = pipe_.control(0x80, kGetDescriptor, uint16_t(kStringDescriptor | index), kLanguageEnglishUS, b,
                                sizeof b, kControlTimeoutMs);
    if (r.outcome != UsbOutcome::Done) return ResultOf(r.outcome);
    const int n = std::min<int>(r.length, b[0]);
    if (n < 2 || b[1] != 3) return DFU_ERR_UNKNOWN;
    // UTF-16LE; what does not fit in 8 bits shows as '?'.
    for (int i = 2; i + 1 < n; i += 2) text.push_back(b[i + 1] == 0 ? char(b[i]) : '?');
    return DFU_OK;
}

int DfuProtocol::Plan(const std::vector<uint8_t>& file, bool ignoreIDs, DfuImagePlan& plan) const {
    Suffix suffix;
    if (!ReadSuffix(file, suffix)) return DFU_ERR_INVALID_FORMAT;
    if (!ignoreIDs && ((suffix.idVendor != kAnyId && suffix.idVendor != info_.idVendor) ||
                       (suffix.idProduct != kAnyId && suffix.idProduct != info_.idProduct)))
        return DFU_ERR_UNSUPPORTED;
    const uint8_t* body = file.data();
    const size_t bodyLength = file.size() - suffix.bLength;
    plan = {};
    if (!info_.tivaExtensions) {
        // Other devices take the file without its suffix as it stands.
        plan.stream.assign(body, body + bodyLength);
        plan.payload = plan.stream;
        return plan.stream.empty() ? DFU_ERR_INVALID_SIZE : DFU_OK;
    }
    Prefix prefix;
    if (ReadPrefix(body, bodyLength, prefix)) {
        plan.address = prefix.address;
        plan.payload.assign(body + kPrefixLength, body + bodyLength);
    } else {
        plan.address = info_.appStart;
        plan.payload.assign(body, body + bodyLength);
    }
    if (plan.payload.empty()) return DFU_ERR_INVALID_SIZE;
    // Flash takes whole words: the padding is part of the programmed length.
    while (plan.payload.size() % 4 != 0) plan.payload.push_back(0xFF);
    if (plan.address == 0 || plan.address % 1024 != 0 || plan.address < info_.appStart ||
        plan.address >= info_.flashTop)
        return DFU_ERR_INVALID_ADDR;
    if (uint64_t(plan.address) + plan.payload.size() > info_.flashTop) return DFU_ERR_INVALID_SIZE;
    plan.stream = ProgramHeader(plan.address, uint32_t(plan.payload.size()));
    plan.stream.insert(plan.stream.end(), plan.payload.begin(), plan.payload.end());
    plan.withCommand = true;
    return DFU_OK;
}

int DfuProtocol::Download(const std::vector<uint8_t>& file, bool verifyAfter, bool ignoreIDs, const Report& report,
                          const std::atomic<bool>* abort) {
    DfuImagePlan plan;
    if (int rc = Plan(file, ignoreIDs, plan)) return rc;
    if (int rc = toIdle()) return rc;
    const size_t block = info_.transferSize ? info_.transferSize : kUploadLength;
    report(kDfuMsgDownload, uint32_t(plan.stream.size()));
    uint16_t blockNumber = 0;
    for (size_t sent = 0; sent < plan.stream.size(); ++blockNumber) {
        if (abort && *abort) return DFU_ERR_DNLOAD_FAIL;
        const size_t n = std::min(block, plan.stream.size() - sent);
        if (int rc = out(DFU_DNLOAD, blockNumber, plan.stream.data() + sent, uint16_t(n))) return rc;
        if (int rc = waitFor(dfuDNLOAD_IDLE)) return rc;
        sent += n;
        report(kDfuMsgProgress, uint32_t(sent));
    }
    // The empty block ends the download; the device is back in dfuIDLE once
    // it has everything (a premature end leaves it in dfuERROR).
    if (int rc = out(DFU_DNLOAD, blockNumber, nullptr, 0)) return rc;
    if (int rc = waitFor(dfuIDLE)) return rc;
    if (!verifyAfter) return DFU_OK;
    return verify(plan, report);
}

int DfuProtocol::verify(const DfuImagePlan& plan, const Report& report) {
    if (!info_.tivaExtensions || !plan.withCommand) return DFU_ERR_CANT_VERIFY;
    // Without the binary flag the first upload would start with a header.
    if (int rc = command(TIVA_BIN, 1, 0, 0)) return rc;
    const uint32_t length = uint32_t(plan.payload.size());
    if (int rc = command(TIVA_READ, 0, uint16_t(plan.address / 1024), length)) return rc;
    report(kDfuMsgVerify, length);
    std::vector<uint8_t> back;
    back.reserve(length);
    uint8_t b[kUploadLength];
    // Exactly as many uploads as the data needs: one more would start a
    // fresh read of the whole application area.
    for (uint16_t blockNumber = 0; back.size() < length; ++blockNumber) {
        UsbResult r = control(kRequestIn, DFU_UPLOAD, blockNumber, b, kUploadLength);
        if (r.outcome != UsbOutcome::Done) return ResultOf(r.outcome);
        const size_t take = std::min<size_t>(size_t(r.length), length - back.size());
        back.insert(back.end(), b, b + take);
        report(kDfuMsgProgress, uint32_t(back.size()));
        if (r.length < kUploadLength) break;
    }
    auto diff = std::mismatch(plan.payload.begin(), plan.payload.end(), back.begin(), back.end());
    if (diff.first != plan.payload.end()) {
        verifyFailOffset_ = uint32_t(diff.first - plan.payload.begin());
        return DFU_ERR_VERIFY_FAIL;
    }
    return toIdle();
}

int DfuProtocol::Reset() {
    if (!info_.tivaExtensions) return DFU_OK;
    if (int rc = toIdle()) return rc;
    const uint8_t c[kTivaCommandLength] = {TIVA_RESET, 0, 0, 0, 0, 0, 0, 0};
    UsbResult r = control(kRequestOut, DFU_DNLOAD, 0, const_cast<uint8_t*>(c), kTivaCommandLength);
    // The chip resets at once: the status stage may fail or the device vanish.
    if (r.outcome == UsbOutcome::Timeout || r.outcome == UsbOutcome::Access) return ResultOf(r.outcome);
    return DFU_OK;
}

} // namespace ravelin::platform::dfu
