#include "dfu_device.h"

#include <algorithm>

namespace ravelin::sim {

namespace {

// Device states and status codes of DFU 1.1.
enum : uint8_t { dfuIDLE = 2, DNLOAD_SYNC = 3, DNLOAD_IDLE = 5, MANIFEST_SYNC = 6, UPLOAD_IDLE = 9, dfuERROR = 10 };
enum : uint8_t { OK = 0, errCHECK_ERASED = 5, errADDRESS = 8, errNOTDONE = 9, errVENDOR = 11 };
// Class requests.
enum : uint8_t { DETACH = 0, DNLOAD = 1, UPLOAD = 2, GETSTATUS = 3, CLRSTATUS = 4, GETSTATE = 5, ABORT = 6 };
// The boot loader's commands, first byte of a DNLOAD in dfuIDLE.
enum : uint8_t { PROG = 1, READ = 2, CHECK = 3, ERASE = 4, INFO = 5, BIN = 6, RESET = 7 };

constexpr uint8_t kQueryRequest = 0x42;
constexpr uint16_t kQueryValue = 0x23;
constexpr int kBusyPollMs = 5;

void put16(std::vector<uint8_t>& v, uint32_t x)
{
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x)
{
    put16(v, x);
    put16(v, x >> 16);
}
uint32_t get16(const uint8_t* p) { return uint32_t(p[0] | p[1] << 8); }
uint32_t get32(const uint8_t* p) { return get16(p) | get16(p + 2) << 16; }

std::vector<uint8_t> stringDescriptor(const std::string& text)
{
    std::vector<uint8_t> d{uint8_t(2 + 2 * text.size()), 3};
    for (char c : text) {
        d.push_back(uint8_t(c));
        d.push_back(0);
    }
    return d;
}

} // namespace

DfuDevice::DfuDevice(DfuDeviceConfig config) : config_(std::move(config)), flash_(flashTop(), 0xFF) {}

std::vector<uint8_t> DfuDevice::deviceDescriptor() const
{
    // Class 0xFF, USB 1.1, a 64-byte control endpoint, strings 1 to 3.
    std::vector<uint8_t> d{18, 1, 0x10, 0x01, 0xFF, 0, 0, 64};
    put16(d, config_.vendorId);
    put16(d, config_.productId);
    put16(d, 0x0100);
    d.insert(d.end(), {1, 2, 3, 1});
    return d;
}

std::vector<uint8_t> DfuDevice::configurationDescriptor() const
{
    std::vector<uint8_t> d{9, 2, 0, 0, 1, 1, 0, 0x80, 50};
    // Interface 0: class 0xFE, subclass 1, protocol 2 (DFU mode).
    d.insert(d.end(), {9, 4, 0, 0, 0, 0xFE, 1, 2, 0});
    // Functional: download, upload, manifestation tolerant; no detach.
    d.insert(d.end(), {9, 0x21, 0x07});
    put16(d, 0xFFFF);
    put16(d, config_.transferSize);
    put16(d, 0x0110);
    d[2] = uint8_t(d.size());
    d[3] = uint8_t(d.size() >> 8);
    return d;
}

std::vector<uint8_t> DfuDevice::application(uint32_t length) const
{
    const uint32_t end = std::min<uint32_t>(flashTop(), config_.appStart + length);
    return {flash_.begin() + config_.appStart, flash_.begin() + end};
}

DfuReply DfuDevice::control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                            const std::vector<uint8_t>& dataOut, uint16_t length)
{
    log_.push_back({requestType, request, value, index, length, dataOut});
    const int n = int(log_.size());
    if (reset_ || gone_ || (config_.goneAt && n >= config_.goneAt)) return {DfuOutcome::Gone, {}};
    if (silent_) return {DfuOutcome::Silent, {}};
    if (n == config_.stallAt) return {DfuOutcome::Stall, {}};
    if (n == config_.timeoutAt) return {DfuOutcome::Timeout, {}};

    if (requestType == 0x80 && request == 6) {  // GET_DESCRIPTOR
        std::vector<uint8_t> d;
        const uint8_t type = uint8_t(value >> 8), i = uint8_t(value);
        if (type == 1) d = deviceDescriptor();
        else if (type == 2) d = configurationDescriptor();
        else if (type == 3 && i == 0) d = {4, 3, 0x09, 0x04};
        else if (type == 3 && i == 1) d = stringDescriptor(config_.manufacturer);
        else if (type == 3 && i == 2) d = stringDescriptor(config_.product);
        else if (type == 3 && i == 3) d = stringDescriptor(config_.serial);
        else return {DfuOutcome::Stall, {}};
        if (d.size() > length) d.resize(length);
        return {DfuOutcome::Done, d};
    }
    if ((requestType & 0x7F) != 0x21) return {DfuOutcome::Stall, {}};
    // Every request the class does not know goes to the maker's handler,
    // which looks only at the value and the length.
    if (request == kQueryRequest) {
        if (!config_.extensions || value != kQueryValue || length != 4) return {DfuOutcome::Stall, {}};
        std::vector<uint8_t> d;
        put16(d, 0x4C4D);
        put16(d, 0x0001);
        return {DfuOutcome::Done, d};
    }
    DfuReply reply = classRequest(request, value, dataOut, length);
    // An IN transfer carries at most the length the host asked for, however
    // much the request would have to say.
    if (reply.data.size() > length) reply.data.resize(length);
    return reply;
}

DfuReply DfuDevice::classRequest(uint8_t request, uint16_t, const std::vector<uint8_t>& dataOut, uint16_t length)
{
    switch (request) {
    case GETSTATUS:
        return getStatus();
    case GETSTATE:
        return {DfuOutcome::Done, {state_}};
    case CLRSTATUS:
        if (state_ != dfuERROR) return {DfuOutcome::Stall, {}};
        state_ = dfuIDLE;
        status_ = OK;
        return {};
    case ABORT:
        if (state_ != dfuIDLE && state_ != DNLOAD_IDLE && state_ != UPLOAD_IDLE) return {DfuOutcome::Stall, {}};
        state_ = dfuIDLE;
        progLeft_ = 0;
        return {};
    case DNLOAD:
        return download(dataOut);
    case UPLOAD:
        if (state_ != dfuIDLE && state_ != UPLOAD_IDLE) return {DfuOutcome::Stall, {}};
        return upload(length);
    default:  // DETACH and anything else
        return {DfuOutcome::Stall, {}};
    }
}

DfuReply DfuDevice::getStatus()
{
    uint32_t poll = 0;
    if (busyLeft_ > 0) {
        --busyLeft_;
        poll = kBusyPollMs;
    } else if (state_ == DNLOAD_SYNC || state_ == MANIFEST_SYNC) {
        state_ = after_;
    }
    std::vector<uint8_t> d{status_, uint8_t(poll), uint8_t(poll >> 8), uint8_t(poll >> 16), state_, 0};
    return {DfuOutcome::Done, d};
}

DfuOutcome DfuDevice::programBlock()
{
    ++blocks_;
    silent_ = silent_ || blocks_ == config_.silentAtBlock;
    gone_ = gone_ || blocks_ == config_.goneAtBlock;
    return gone_ ? DfuOutcome::Gone : silent_ ? DfuOutcome::Silent : DfuOutcome::Done;
}

void DfuDevice::busyThen(uint8_t state)
{
    state_ = DNLOAD_SYNC;
    after_ = state;
    busyLeft_ = config_.busyPolls;
}

DfuReply DfuDevice::fail(uint8_t status)
{
    state_ = dfuERROR;
    status_ = status;
    return {};
}

DfuReply DfuDevice::download(const std::vector<uint8_t>& data)
{
    if (state_ == dfuIDLE) {
        if (data.empty()) return {DfuOutcome::Stall, {}};
        // A short header leaves the status alone.
        if (data.size() < 8) return fail(OK);
        return command(data);
    }
    if (state_ != DNLOAD_IDLE) return {DfuOutcome::Stall, {}};
    if (data.empty()) {
        if (progLeft_ > 0) return fail(errNOTDONE);
        programmed_ = progTotal_;
        state_ = MANIFEST_SYNC;
        after_ = dfuIDLE;
        busyLeft_ = 0;
        return {};
    }
    if (const DfuOutcome fault = programBlock(); fault != DfuOutcome::Done) return {fault, {}};
    program(data.data(), data.size());
    if (progLeft_ == 0 && config_.lastBlockStatus) return fail(config_.lastBlockStatus);
    busyThen(DNLOAD_IDLE);
    return {};
}

DfuReply DfuDevice::command(const std::vector<uint8_t>& data)
{
    if (!config_.extensions) {
        // A plain DFU device takes the bytes as they come.
        progAt_ = config_.appStart;
        progLeft_ = progTotal_ = uint32_t(flashTop() - config_.appStart);
        program(data.data(), data.size());
        progLeft_ = 0;
        progTotal_ = uint32_t(data.size());
        busyThen(DNLOAD_IDLE);
        return {};
    }
    const uint8_t* d = data.data();
    const uint32_t start = get16(d + 2) * 1024u;
    const uint32_t length = get32(d + 4);
    const uint32_t top = flashTop();
    const bool inApp = start >= config_.appStart && start < top && uint64_t(start) + length <= top;
    switch (d[0]) {
    case PROG:
        // The address check fails into dfuERROR without touching the status.
        if (start != config_.appStart || uint64_t(start) + length > top) return fail(OK);
        blocks_ = 0;
        if (const DfuOutcome fault = programBlock(); fault != DfuOutcome::Done) return {fault, {}};
        progAt_ = start;
        progLeft_ = progTotal_ = length;
        programmed_ = 0;
        program(d + 8, data.size() - 8);
        busyThen(DNLOAD_IDLE);
        return {};
    case READ:
        if (!inApp) return fail(errADDRESS);
        readStart_ = start;
        readLength_ = length;
        readDone_ = 0;
        readHeaderDue_ = !binary_;
        busyThen(dfuIDLE);
        return {};
    case CHECK:
        if (!inApp || length % 4) return fail(errADDRESS);
        if (std::any_of(flash_.begin() + start, flash_.begin() + start + length, [](uint8_t b) { return b != 0xFF; }))
            return fail(errCHECK_ERASED);
        busyThen(dfuIDLE);
        return {};
    case ERASE: {
        const uint32_t end = start + get16(d + 4) * uint32_t(config_.flashBlockSize);
        if (start < config_.appStart || end > top) return fail(errADDRESS);
        std::fill(flash_.begin() + start, flash_.begin() + end, 0xFF);
        busyThen(dfuIDLE);
        return {};
    }
    case INFO:
        infoNext_ = true;
        busyThen(dfuIDLE);
        return {};
    case BIN:
        binary_ = d[1] != 0;
        busyThen(dfuIDLE);
        return {};
    case RESET:
        reset_ = true;
        return {};
    default:
        return fail(errVENDOR);
    }
}

void DfuDevice::program(const uint8_t* data, size_t n)
{
    const size_t take = std::min<size_t>(n, progLeft_);
    // Pages are erased as programming reaches them.
    const uint32_t block = config_.flashBlockSize;
    for (size_t i = 0; i < take; ++i) {
        const uint32_t at = progAt_ + uint32_t(i);
        if (at % block == 0) std::fill(flash_.begin() + at, flash_.begin() + std::min(at + block, flashTop()), 0xFF);
        flash_[at] = data[i];
    }
    progAt_ += uint32_t(take);
    progLeft_ -= uint32_t(take);
}

DfuReply DfuDevice::upload(uint16_t length)
{
    std::vector<uint8_t> d;
    if (infoNext_) {
        infoNext_ = false;
        put16(d, config_.flashBlockSize);
        put16(d, config_.flashBlocks);
        put32(d, config_.partInfo);
        put32(d, config_.classInfo);
        put32(d, flashTop());
        put32(d, config_.appStart);
        if (d.size() > length) d.resize(length);
        state_ = dfuIDLE;
        return {DfuOutcome::Done, d};
    }
    if (readDone_ >= readLength_) {
        // Past the end a new read of the whole application area begins.
        readStart_ = config_.appStart;
        readLength_ = flashTop() - config_.appStart;
        readDone_ = 0;
        readHeaderDue_ = !binary_;
    }
    if (readHeaderDue_) {
        d = {PROG, 0};
        put16(d, readStart_ / 1024);
        put32(d, readLength_);
        readHeaderDue_ = false;
    }
    const uint32_t take = std::min<uint32_t>(uint32_t(length) - uint32_t(std::min<size_t>(d.size(), length)),
                                             readLength_ - readDone_);
    for (uint32_t i = 0; i < take; ++i) {
        const uint32_t at = readStart_ + readDone_ + i;
        uint8_t b = flash_[at];
        if (config_.flipOffset >= 0 && at == config_.appStart + uint32_t(config_.flipOffset)) b ^= 0x01;
        d.push_back(b);
    }
    readDone_ += take;
    state_ = d.size() < length ? dfuIDLE : UPLOAD_IDLE;
    return {DfuOutcome::Done, d};
}

} // namespace ravelin::sim
