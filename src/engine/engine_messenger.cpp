#include "engine/engine_messenger.h"

#include "engine/engine_numbers.h"

namespace ravelin::engine {

EngineMessenger::EngineMessenger(platform::EventLoop& loop, platform::UpdateControl& log, EngineWindow& window,
                                 std::string ipAddress, ConnectionFactory factory)
    : loop_(loop), log_(log), window_(window), ipAddress_(std::move(ipAddress)), factory_(std::move(factory)),
      reconnect_(loop) {
    CreateClientThread();
}

EngineMessenger::~EngineMessenger() {
    NormalClose = true;
    reconnect_.cancel();
    ClientThread.reset();
}

void EngineMessenger::Open() { StartClientThread(); }

void EngineMessenger::StartClientThread() {
    if (ClientThread) ClientThread->Start();
}

void EngineMessenger::CreateClientThread() {
    ClientThread = factory_(ipAddress_, kEnginePort);
    if (!ClientThread) return;
    ClientThread->OnConnected = [this] {
        LogMessage("Client connected to engine");
        if (OnConnected) OnConnected();
    };
    ClientThread->OnDisconnected = [this] { LogMessage("Client disconnected from engine"); };
    ClientThread->OnSocketError = [this](platform::TErrorEvent, int& code) { ClientThreadError(code); };
    ClientThread->OnTerminate = [this] { ClientThreadTerminate(); };
    ClientThread->OnDataReceived = [this] {
        if (OnDataReceived) OnDataReceived();
    };
}

void EngineMessenger::FormClose() {
    NormalClose = true;
    reconnect_.cancel();
    if (ClientThread) ClientThread->Terminate();
}

void EngineMessenger::ClientThreadError(int& errorCode) {
    LogError("Client socket error " + std::to_string(errorCode));
    const std::string remote = ClientThread ? ClientThread->RemoteAddress() : std::string();
    if (errorCode == 10040 || errorCode == 10054 || errorCode == 10060)
        LogError("Connection to Engine at " + remote + " timed out.");
    else if (errorCode == 10061)
        LogError("Cannot connect to Engine at " + remote);
    errorCode = 0;
}

void EngineMessenger::ClientThreadTerminate() {
    ClientThread.reset();
    if (NormalClose) return;
    window_.UseTcpForEngine();
    CreateClientThread();
    reconnect_.arm(kReconnectDelayMs, [this] { StartClientThread(); });
}

bool EngineMessenger::SendEthernetLong(uint32_t value) {
    uint8_t b[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
    return SendBytes(b, 4);
}

bool EngineMessenger::SendBytes(const uint8_t* bytes, int count) {
    if (!ClientThread) return false;
    ClientThread->Send(bytes, count);
    return true;
}

void EngineMessenger::ReceiveData() {
    if (!ClientThread) return;
    int room = (InBufferLength - InBufferIndex) * 2;
    if (ClientThread->InQueueCount() > room) {
        InBufferLength += kInitialWords;
        room = (InBufferLength - InBufferIndex) * 2;
    }
    // No more than is queued: the room may be far larger than what came.
    const int want = std::min(room, ClientThread->InQueueCount());
    if (want <= 0) return;
    const size_t words = size_t(InBufferIndex) + size_t(want + 1) / 2;
    if (InBuffer.size() < words) InBuffer.resize(words);
    if (received_.size() < size_t(want)) received_.resize(size_t(want));
    const std::vector<uint8_t>& bytes = received_;
    const int n = ClientThread->Receive(received_.data(), want);
    if (n <= 0) return;
    int first = InBufferIndex;
    int k = 0;
    if (oddPending_) {
        InBuffer[size_t(InBufferIndex++)] = uint16_t(oddByte_ | bytes[0] << 8);
        oddPending_ = false;
        k = 1;
    }
    for (; k + 1 < n; k += 2) InBuffer[size_t(InBufferIndex++)] = uint16_t(bytes[size_t(k)] | bytes[size_t(k + 1)] << 8);
    if (k < n) {
        oddPending_ = true;
        oddByte_ = bytes[size_t(k)];
    }
    if (LoggingCheckBox) {
        std::string s = " in: " + std::to_string(InBufferIndex - first) + " received, stored at index " +
                        std::to_string(first) + "\r\n";
        for (int i = first; i < InBufferIndex; ++i) s += " " + Hex(InBuffer[size_t(i)], 4);
        MemoMessage(s);
        if (int(memo_.size()) >= kMemoLines) LoggingCheckBox = false;
    }
}

int EngineMessenger::ReceiveEngineMessage(tEngineMessage& buffer) {
    ReceiveData();
    if (InBufferIndex <= 6) return 0;
    bool stillOpen = false;  // a word before i may yet start a message
    for (int i = deadWords_; i < InBufferIndex; ++i) {
        const int wc = InBuffer[size_t(i)] & 0xFF;
        if (wc >= 6 && wc >= InBufferIndex - i) stillOpen = true;
        if (!stillOpen) deadWords_ = i + 1;
        if (wc < 6 || wc >= InBufferIndex - i) continue;
        uint16_t sum = 0;
        for (int k = i; k < i + wc; ++k) sum = uint16_t(sum + InBuffer[size_t(k)]);
        if (sum != InBuffer[size_t(i + wc)]) continue;
        deadWords_ = 0;
        if (i > 0)
            log_.WriteLog("Engine Rx data error: discarded first " + std::to_string(i) + " words of " +
                          std::to_string(InBufferIndex));
        GetEngineMessage(buffer, i, std::min(wc + 1, kMaxMessageWords));
        return wc + 1;
    }
    // Words whose whole candidate message is already queued and failed can
    // never start one: once the queue is large, they go, so that a stream of
    // garbage does not grow it without end.
    if (InBufferIndex > kInitialWords) {
        const int dead = InBufferIndex - kMaxMessageWords;
        log_.WriteLog("Engine Rx data error: discarded first " + std::to_string(dead) + " words of " +
                      std::to_string(InBufferIndex));
        std::copy(InBuffer.begin() + dead, InBuffer.begin() + InBufferIndex, InBuffer.begin());
        InBufferIndex -= dead;
        deadWords_ = std::max(0, deadWords_ - dead);
    }
    return 0;
}

void EngineMessenger::GetEngineMessage(tEngineMessage& buffer, int position, int count) {
    if (position > 0) {
        std::string s = "Rx data error: discarded first " + std::to_string(position) + " words of " +
                        std::to_string(InBufferIndex) + ":";
        for (int i = 0; i < position; ++i) s += " " + Hex(InBuffer[size_t(i)], 4);
        LogError(s);
    }
    for (int i = 0; i < count; ++i) buffer.SetWord(i, InBuffer[size_t(position + i)]);
    const int used = count + position;
    std::copy(InBuffer.begin() + used, InBuffer.begin() + InBufferIndex, InBuffer.begin());
    InBufferIndex -= used;
}

bool EngineMessenger::IsConnected() const { return ClientThread && ClientThread->Active(); }

int EngineMessenger::InputQueued() const {
    return ClientThread ? ClientThread->InQueueCount() / 2 + InBufferIndex : 0;
}

int EngineMessenger::OutputQueued() const { return ClientThread ? ClientThread->OutQueueCount() / 2 : 0; }

uint8_t EngineMessenger::InputQueueUsed() const {
    if (!ClientThread) return 0;
    int64_t total = int64_t(InBufferLength) + ClientThread->InQueueSize() / 2;
    return total > 0 ? uint8_t(int64_t(InputQueued()) * 255 / total) : 0;
}

uint8_t EngineMessenger::OutputQueueUsed() const {
    if (!ClientThread || ClientThread->OutQueueSize() < 2) return 0;
    return uint8_t(int64_t(OutputQueued()) * 255 / (ClientThread->OutQueueSize() / 2));
}

int EngineMessenger::TxCount() const { return ClientThread ? ClientThread->TxCount() / 2 : 0; }
int EngineMessenger::RxCount() const { return ClientThread ? ClientThread->RxCount() / 2 : 0; }

void EngineMessenger::MemoMessage(const std::string& s) {
    memo_.push_back(s);
    memoBytes_ += s.size();
    // The memo is a window on the latest lines, not an archive (the log is).
    // A line that dumps discarded words can be as long as the garbage was, so
    // the window is bounded by its text as well as by its lines.
    while (int(memo_.size()) > kMemoLines || (memoBytes_ > kMemoBytes && memo_.size() > 1)) {
        memoBytes_ -= memo_.front().size();
        memo_.pop_front();
    }
}

void EngineMessenger::LogMessage(const std::string& s) {
    MemoMessage(s);
    log_.WriteLog("Engine " + s);
}

void EngineMessenger::LogError(const std::string& s) { LogMessage("** EngineMessenger " + s); }

} // namespace ravelin::engine
