#include "engine/audio_engine.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/engine_dates.h"
#include "engine/engine_numbers.h"

namespace ravelin::engine {

namespace {
// True once the tick count has passed `deadline` (a wrapping counter).
bool Passed(uint32_t now, uint32_t deadline) { return int32_t(now - deadline) > 0; }

std::array<uint8_t, 4> Bytes4(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}
} // namespace

AudioEngine::AudioEngine(platform::EventLoop& loop, platform::Clock& clock, platform::UpdateControl& log,
                         EngineWindow& window, EngineInfo& info)
    : loop_(loop), clock_(clock), log_(log), window_(window), info_(info), waitTimer_(loop) {}

const tSentMessage& AudioEngine::SentEntry(uint16_t sequence) const {
    static const tSentMessage never{};
    return sequence < sentHistory_.size() ? sentHistory_[sequence] : never;
}

void AudioEngine::RecordSent(uint16_t sequence, const tSentMessage& entry) {
    if (sequence >= sentHistory_.size())
        sentHistory_.resize(std::min<size_t>(65536, std::max<size_t>(size_t(sequence) + 1, 2 * sentHistory_.size())));
    sentHistory_[sequence] = entry;
}

void AudioEngine::QueueEngineBytes(const tEngineMessage& message, int bytes) {
    if (messenger_) messenger_->SendBytes(message.Bytes.data(), bytes);
}

void AudioEngine::SendEngineMessage(tEngineMessage& message) {
    if (AwaitedHeader != 0) return;
    const tEngineHeader h = message.Header();
    const int wc = message.WordCount();
    if (h.Module() == modIODevice && (h.Band() == kCardSlotPort0 || h.Band() == kCardSlotPort1)) {
        window_.SendToOstraSlot(h, message.Data(), (wc - 5) * 2);
        return;
    }
    TxSequence = uint16_t(TxSequence + 1);
    if (TxSequence == 0) TxSequence = 1;
    message.SetSequence(TxSequence);
    RecordSent(TxSequence, {uint8_t(wc), h.IDfull, message.Data32()});
    message.SetWord(wc, EngineChecksum(message));
    const int bytes = (wc / 4 + 1) * 8;
    // The filler after the checksum carries nothing; it goes out as zeros.
    for (int b = 2 * (wc + 1); b < bytes; ++b) message.Bytes[size_t(b)] = 0;
    QueueEngineBytes(message, bytes);
}

void AudioEngine::SendEngineLong(tEngineHeader header, uint32_t data32) {
    if (header == 0) return;
    SendEngineCommand(stPlain, header, data32);
}

void AudioEngine::SendEngineCommand(uint8_t status, tEngineHeader header, uint32_t data32) {
    tEngineMessage m;
    InitEngineMessage(m, kStandardWordCount, header, data32);
    m.SetStatus(status);
    SendEngineMessage(m);
}

void AudioEngine::SendEngineData(tEngineHeader header, const uint8_t* data, int length, bool) {
    if (header == 0) return;
    if (length > kMaxDataLength) {
        log_.DisplayMessage("Illegal engine message data length = " + std::to_string(length));
        return;
    }
    int wc = (length + 1) / 2 + 5;
    while (wc % 4 != 3) ++wc;
    tEngineMessage m;
    InitEngineMessage(m, uint8_t(wc), header, 0);
    if (length > 0) std::memcpy(m.Data(), data, size_t(length));
    SendEngineMessage(m);
}

void AudioEngine::InitialiseEngineComms() {
    sentHistory_.clear();
    TxSequence = 0;
    // The engine numbers afresh from the value it is given: the first that follows.
    tEngineMessage restart = StandardMessage(stPlain, MakeHeader(idRestartNumbering), 1, 0);
    QueueEngineBytes(restart, 16);
    EngineCommsReady = true;
}

void AudioEngine::ServiceEngineLinks() {
    window_.ServiceCorvaneHost();
    ServiceEngineReceive();
}

void AudioEngine::ServiceEngineReceive() {
    if (!messenger_) return;
    const uint32_t deadline = clock_.tickCount() + kServiceMs;
    int n;
    do {
        tEngineMessage m;
        n = messenger_->ReceiveEngineMessage(m);
        if (n >= kMaxMessageWords)
            log_.WriteLog("** Error: Engine_ReceiveMessage length = " + std::to_string(n));
        else if (n > 0)
            ProcessReceivedEngineMessage(m);
    } while (n != 0 && !Passed(clock_.tickCount(), deadline));
}

void AudioEngine::ProcessReceivedEngineMessage(tEngineMessage& m) {
    const uint16_t seq = m.Sequence();
    if (seq != RxSequence && seq != 1 && !SkipSequenceCheck)
        log_.WriteLog("Streamer sequence error: " + Hex(seq, 4) + " received instead of " + Hex(RxSequence, 4));
    RxSequence = uint16_t(seq + 1);
    SkipSequenceCheck = false;

    const tEngineHeader h = m.Header();
    if (AwaitedHeader != 0 && h == AwaitedHeader) AwaitedStatus = m.Status() == 0 ? stAckOK : m.Status();

    const uint8_t status = m.Status();
    if (status >= 5 && status <= 22) {
        LogEngineMessage(EngineStatusText(status) + ":  ", m);
    } else if (h.Module() == modSystem) {
        switch (h.Parameter()) {
        case sysVersionDates: {
            const uint8_t band = h.Band();
            if (band == 0) {
                for (int k = 0; k < 4; ++k) info_.EngineImageRunning[size_t(k)] = m.Data()[k];
            } else if (band >= 1 && band <= 5) {
                info_.EngineFlashDates[band] = Bytes4(m.Data32());
            } else if (band >= 17 && band <= 21) {
                const bool first = band == 21 && info_.EngineCodeDates[5] == std::array<uint8_t, 4>{};
                info_.EngineCodeDates[size_t(band - 16)] = Bytes4(m.Data32());
                if (first) LogEngineDates();
            }
            break;
        }
        case sysSampleRates: {
            const uint8_t band = h.Band();
            const float value = m.DataFloat();
            if (band == 0) {
                if (h.Channel() <= 20 && h.Channel() != 1) info_.EngineSampleRates[h.Channel()] = value;
            } else if (band == 1 || band == 2) {
                float& rate = info_.EngineSampleRates[size_t(band + 4)];
                const float base = info_.EngineSampleRates[0];
                rate = value;
                if (std::isnan(rate) || rate < base - 5000 || rate > base + 2000) rate = 0;
            }
            break;
        }
        case sysLostMessages:
            if (EngineCommsReady) {
                const uint16_t first = m.Word(5), last = m.Word(6);
                ResendEngineMessages(first, last);
                log_.WriteLog("Sequence Error between " + std::to_string(first) + " and " + std::to_string(last));
            }
            break;
        case sysStatusReport: {
            const uint8_t report = h.Band();
            if (report == 23 || report == 60 || report == 72 || report == 73) break;
            char number[8];
            std::snprintf(number, sizeof number, "%2X", report);
            std::string dump = Hex(h.IDfull, 8) + " Data =";
            for (int i = 5; i < m.WordCount(); ++i) dump += " " + Hex(m.Word(i), 4);
            log_.WriteLog(std::string("Status message 0x") + number + " from Eng: " + dump);
            break;
        }
        case sysFileSet:
            info_.EngineFileSet = m.Word(5);
            break;
        case sysSerialNumber:
            if (m.WordCount() >= 9) {
                uint64_t serial = 0;
                for (int k = 7; k >= 0; --k) serial = serial << 8 | m.Data()[k];
                info_.EngineSerialNumber = serial;
            }
            break;
        default:
            break;
        }
    }
    if (OnEngineMessage) OnEngineMessage(m);
    if (AwaitedHeader != 0 && AwaitedStatus != 0) FinishWait(true);
}

void AudioEngine::ResendEngineMessages(uint16_t first, uint16_t last) {
    // The range is read before anything goes out again: the re-sent messages
    // take new numbers, whose entries may lie inside the range.
    std::vector<tSentMessage> again;
    auto take = [&](int s) {
        const tSentMessage& e = SentEntry(uint16_t(s));
        if (e.WordCount == kStandardWordCount) again.push_back(e);
    };
    if (first == 0) first = 1;
    if (last >= first) {
        for (int s = first; s <= last; ++s) take(s);
    } else {
        for (int s = first; s <= 65535; ++s) take(s);
        for (int s = 1; s <= last; ++s) take(s);
    }
    for (const tSentMessage& e : again) SendEngineLong(e.Header, e.Data32);
}

void AudioEngine::WaitForEngineReply(tEngineHeader header, int timeoutMs, std::function<void(bool)> done) {
    AwaitedStatus = 0;
    AwaitedHeader = header;
    waitDone_ = std::move(done);
    waitTimer_.arm(timeoutMs, [this] { FinishWait(AwaitedStatus != 0); });
}

void AudioEngine::FinishWait(bool received) {
    waitTimer_.cancel();
    AwaitedHeader = 0;
    auto done = std::move(waitDone_);
    waitDone_ = nullptr;
    if (done) done(received);
}

void AudioEngine::LogEngineMessage(const std::string& prefix, const tEngineMessage& m) {
    if (prefix == "  To Eng: " || prefix == "From Eng: ") return;
    log_.WriteLog(EngineMessageLine(prefix, m));
}

void AudioEngine::LogEngineDates() {
    struct Line { const char* title; int type; int k; };
    static const Line kLines[] = {
        {"Engine host dates: ", 2, 0}, {"Engine FPGA dates: ", 5, 3}, {"Engine FX   dates: ", 3, 1}};
    for (const Line& l : kLines) {
        const auto& f = info_.EngineFlashDates[size_t(l.type)];
        const auto& c = info_.EngineCodeDates[size_t(l.type)];
        const uint8_t running = info_.EngineImageRunning[size_t(l.k)];
        std::string s = l.title + BcdDateText(f[0], f[1], f[2], f[3]) + " (permanent" +
                        (running == 0 ? ", running" : "") + "), " + BcdDateText(c[0], c[1], c[2], c[3]) +
                        " (downloaded" + (running == 1 ? ", running" : "") + ")";
        if (running == 0) s = "** " + s;
        log_.WriteLog(s);
    }
}

} // namespace ravelin::engine
