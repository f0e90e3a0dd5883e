#include "cards/ostra_messenger.h"

namespace ravelin::cards {

tOstraMessenger::tOstraMessenger(const std::string& IPAddress, int SlotIndex, OstraLinkServices services)
    : Ostraname("Ostra " + std::to_string(SlotIndex + 1)),
      RemoteAddress(IPAddress),
      Port(kOstraBasePort + SlotIndex),
      services_(std::move(services)),
      clock_(services_.clock ? *services_.clock : platform::systemClock())
{
    platform::TcpClient::Handlers h;
    h.connected = [this] { ClientSocketConnect(); };
    h.disconnected = [this] { ClientSocketDisconnect(); };
    h.error = [this](int code) { ClientSocketError(code); };
    h.readable = [this] { ClientSocketRead(); };
    h.writable = [this] { ClientSocketWrite(); };
    if (services_.newClient) client_ = services_.newClient(RemoteAddress, Port, std::move(h));
    if (client_) client_->open();
}

tOstraMessenger::~tOstraMessenger()
{
    if (client_) client_->close();
}

bool tOstraMessenger::SendEthernet(std::string_view aMessage)
{
    const uint32_t start = clock_.tickCount();
    for (char c : aMessage) {
        while (!OutQueue.Store(&c)) {
            if (clock_.tickCount() - start >= uint32_t(QueueFullWaitMs)) {
                LogError("Tx queue overflow");
                ++TXFailCount;
                return false;
            }
            clock_.sleep(QueueFullStepMs);
            SendBufferedOutput();
            LogError("Tx queue full");
        }
    }
    ++TXcount;
    return true;
}

bool tOstraMessenger::SendBufferedOutput()
{
    if (!connected_ || !client_) return false;
    if (!heldBack_.empty()) return sendBatch(std::move(heldBack_));

    // Items: a boot-loader byte 0, 1 or 2 alone, the synchronisation "UU",
    // or a card frame whose first byte counts the bytes after it.
    std::string batch;
    uint8_t b;
    while (batch.size() < size_t(BatchBytes) && OutQueue.Retrieve(&b)) {
        batch.push_back(char(b));
        int rest = b <= 2 ? 0 : b;
        uint8_t next;
        if (b == 0x55 && OutQueue.Peek(&next) && next == 0x55) rest = 1;
        const int itemLength = rest + 1;
        for (; rest > 0 && OutQueue.Retrieve(&next); --rest) batch.push_back(char(next));
        if (rest > 0) LogError("Tx buffer error: length " + std::to_string(itemLength) + " not complete");
    }
    if (batch.empty()) return false;
    return sendBatch(std::move(batch));
}

bool tOstraMessenger::sendBatch(std::string batch)
{
    const int offered = int(batch.size());
    const int taken = client_->send(reinterpret_cast<const uint8_t*>(batch.data()), offered);
    if (taken == -platform::kSocketWouldBlock) {
        heldBack_ = std::move(batch);
        return false;
    }
    if (taken < 0) {
        LogError("Tx error " + std::to_string(-taken));
        return false;
    }
    if (taken < offered) {
        LogError("Tx length error: sent " + std::to_string(taken) + " of " + std::to_string(offered));
        heldBack_ = batch.substr(size_t(taken));
        return false;
    }
    return true;
}

bool tOstraMessenger::ReceiveEthernet(std::string_view aMessage)
{
    for (char c : aMessage) {
        if (!InQueue.Store(&c)) {
            LogError("Rx queue overflow");
            ++RXFailCount;
            return false;
        }
    }
    ++RXcount;
    return true;
}

std::string tOstraMessenger::ReceiveBufferedInput()
{
    std::string s;
    uint8_t b;
    while (s.size() < 255 && InQueue.Retrieve(&b)) s.push_back(char(b));
    return s;
}

int tOstraMessenger::ReceiveBuffer(void* aBuffer, int Count)
{
    auto* out = static_cast<uint8_t*>(aBuffer);
    int n = 0;
    while (n < Count && InQueue.Retrieve(out + n)) ++n;
    return n;
}

int tOstraMessenger::SendBuffer(const void* aBuffer, int Count)
{
    if (!connected_ || !client_) return 0;
    return client_->send(static_cast<const uint8_t*>(aBuffer), Count);
}

int32_t tOstraMessenger::OutgoingCount()
{
    return OutQueue.Count + int32_t(heldBack_.size());
}

void tOstraMessenger::ClearQueues()
{
    OutQueue.Clear();
    InQueue.Clear();
    heldBack_.clear();
}

void tOstraMessenger::LogMessage(const std::string& s)
{
    if (services_.writeLog) services_.writeLog(s);
    if (DisplayMessage) DisplayMessage(s);
}

void tOstraMessenger::LogError(const std::string& s)
{
    LogMessage("** " + Ostraname + " " + s);
}

void tOstraMessenger::ClientSocketConnect()
{
    connected_ = true;
    LogMessage(Ostraname + " Connected to server");
    if (OnConnected) OnConnected();
}

void tOstraMessenger::Reconnect()
{
    dropped_ = false;
    connected_ = false;
    heldBack_.clear();
    if (!client_) return;
    client_->close();
    client_->open();
}

void tOstraMessenger::ClientSocketDisconnect()
{
    dropped_ = true;
    connected_ = false;
    heldBack_.clear();
    LogMessage(Ostraname + " Client disconnected");
}

void tOstraMessenger::ClientSocketError(int ErrorCode)
{
    LogError("Client socket error " + std::to_string(ErrorCode));
    if (ErrorCode == platform::kSocketTimedOut) {
        LogError("Connection to " + Ostraname + " at " + RemoteAddress + " timed out. Retrying");
        connected_ = false;
        client_->close();
        client_->open();
    } else if (ErrorCode == platform::kSocketRefused) {
        LogError("Cannot connect to " + Ostraname + " at " + RemoteAddress);
    }
}

void tOstraMessenger::ClientSocketRead()
{
    uint8_t block[ReadBytes];
    const int n = client_->receive(block, ReadBytes);
    if (n < 0) {
        if (n != -platform::kSocketWouldBlock) LogError("Rx error " + std::to_string(-n));
        return;
    }
    if (n > 0) ReceiveEthernet(std::string_view(reinterpret_cast<const char*>(block), size_t(n)));
}

} // namespace ravelin::cards
