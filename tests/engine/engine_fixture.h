#pragma once
// An engine link on virtual time with an in-memory connection: what the
// program sends is kept as bytes, and the test plays the engine by pushing
// answers in.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine_numbers.h"
#include "engine/engine_unit.h"
#include "platform/virtual_event_loop.h"

namespace ravelin::engine::testing {

class FakeControl : public platform::UpdateControl {
public:
    int32_t UpdatingRow() const override { return row; }
    int32_t PacketCount() const override { return packets; }
    int32_t DownloadProgress() const override { return progress; }
    void SetDownloadFileSize(int32_t total) override { fileSize = total; }
    void StepProgress(int32_t amount) override { ++packets; progress += amount; ++rearms; }
    void StepFraction(float) override {}
    void ProgressUpdate() override { ++rearms; }
    void SetWatchdog(int32_t ticks) override { watchdog = ticks; }
    void FinishUpdate() override { ++finished; }
    void CancelUpdate(const std::string& text) override { ++cancelled; cancelText = text; }
    void DisplayMessage(const std::string& text) override { messages.push_back(text); panel = " " + text; }
    const std::string& MessagePanelText() const override { return panel; }
    void SetMessagePanel(const std::string& text) override { panel = text; }
    void DisplayStatus(const std::string& text) override { status = text; }
    void WriteLog(const std::string& text) override { log.push_back(text); }

    bool logged(const std::string& line) const {
        for (auto& l : log) if (l == line) return true;
        return false;
    }
    int32_t row = 0, packets = 0, progress = 0, fileSize = 0, watchdog = 0, rearms = 0;
    int finished = 0, cancelled = 0;
    std::string cancelText, panel, status;
    std::vector<std::string> messages, log;
};

class FakeWindow : public EngineWindow {
public:
    void ShowEngIn(const std::string& t) override { engIn = t; }
    void ShowEngOut(const std::string& t) override { engOut = t; }
    void ShowEngineSerial(bool v) override { serialVisible = v; }
    void SetEngineSerialText(const std::string& t) override { serial = t; }
    void RefreshRow(int row) override { refreshed.push_back(row); }
    int RackRow(int rack) const override { return rack < int(rows.size()) ? rows[size_t(rack)] : 0; }
    void RefreshRacks() override { ++refreshRacks; }
    void SetRunningCell(int row, const std::string& t) override { running[row] = t; }
    void CloseWindow() override { ++closes; }
    bool SendToOstraSlot(tEngineHeader h, const uint8_t*, int) override { slotHeaders.push_back(h); return true; }
    void ResetEngineViaHost() override { ++resets; }

    std::string engIn, engOut, serial;
    bool serialVisible = false;
    std::vector<int> refreshed, rows = std::vector<int>(50, 0);
    std::map<int, std::string> running;
    std::vector<uint32_t> slotHeaders;
    int refreshRacks = 0, closes = 0, resets = 0;
};

// The connection as the engine link sees it, in memory.
class FakeConnection : public platform::ClientConnection {
public:
    void Start() override { started = true; }
    void Terminate() override { terminated = true; }
    void Send(const void* b, int n) override {
        auto p = static_cast<const uint8_t*>(b);
        sent.insert(sent.end(), p, p + n);
    }
    int Receive(void* b, int n) override {
        int k = std::min<int>(n, int(in.size()));
        if (k > 0) std::memcpy(b, in.data(), size_t(k));
        in.erase(in.begin(), in.begin() + k);
        return k;
    }
    int InQueueSize() const override { return 65536; }
    int OutQueueSize() const override { return 65536; }
    int InQueueCount() const override { return int(in.size()); }
    int OutQueueCount() const override { return 0; }
    int32_t RxCount() const override { return 0; }
    int32_t TxCount() const override { return int32_t(sent.size()); }
    bool Active() const override { return true; }
    std::string RemoteAddress() const override { return ""; }

    void push(const std::vector<uint8_t>& bytes) {
        in.insert(in.end(), bytes.begin(), bytes.end());
        if (OnDataReceived) OnDataReceived();
    }
    bool started = false, terminated = false;
    std::vector<uint8_t> sent, in;
};

inline std::vector<uint8_t> Bytes(const tEngineMessage& m) {
    return std::vector<uint8_t>(m.Bytes.begin(), m.Bytes.begin() + 2 * (m.WordCount() + 1));
}

// A message as the engine sends it: numbered, data bytes after the header.
inline tEngineMessage EngineReply(uint8_t status, uint32_t header, std::vector<uint8_t> data = {},
                                  uint16_t sequence = 1) {
    if (data.size() < 4) data.resize(4, 0);
    if (data.size() % 2) data.push_back(0);
    tEngineMessage m;
    InitEngineMessage(m, uint8_t(5 + data.size() / 2), header, 0);
    std::memcpy(m.Data(), data.data(), data.size());
    m.SetStatus(status);
    m.SetSequence(sequence);
    m.SetWord(m.WordCount(), EngineChecksum(m));
    return m;
}

inline std::vector<uint8_t> Le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

// The messages the program sent, found in its byte stream the way the
// engine finds them (fillers skipped).
inline std::vector<tEngineMessage> Parse(const std::vector<uint8_t>& bytes) {
    std::vector<tEngineMessage> out;
    size_t words = bytes.size() / 2;
    auto w = [&](size_t i) { return uint16_t(bytes[2 * i] | bytes[2 * i + 1] << 8); };
    for (size_t i = 0; i < words;) {
        size_t wc = w(i) & 0xFF;
        if (wc < 6 || i + wc >= words) { ++i; continue; }
        uint16_t sum = 0;
        for (size_t k = i; k < i + wc; ++k) sum = uint16_t(sum + w(k));
        if (sum != w(i + wc)) { ++i; continue; }
        tEngineMessage m;
        std::memcpy(m.Bytes.data(), bytes.data() + 2 * i, 2 * (wc + 1));
        out.push_back(m);
        i += wc + 1;
    }
    return out;
}

class EngineFixture : public ::testing::Test {
protected:
    EngineFixture() {
        unit = std::make_unique<EngineUnit>(loop, loop, control, window, racks,
                                            [this](const std::string&, int) {
                                                auto c = std::make_unique<FakeConnection>();
                                                connection = c.get();
                                                return c;
                                            });
        unit->OpenEngineLinks("10.0.0.1");
    }
    // Everything sent since the last call.
    std::vector<tEngineMessage> Sent() {
        auto m = Parse(connection->sent);
        connection->sent.clear();
        return m;
    }
    void Reply(const tEngineMessage& m) { connection->push(Bytes(m)); }
    void Reply(uint8_t status, uint32_t header, std::vector<uint8_t> data = {}) {
        Reply(EngineReply(status, header, std::move(data), ++engineSequence));
    }

    platform::VirtualEventLoop loop;
    FakeControl control;
    FakeWindow window;
    RackTable racks;
    FakeConnection* connection = nullptr;
    std::unique_ptr<EngineUnit> unit;
    uint16_t engineSequence = 0;
};

} // namespace ravelin::engine::testing
