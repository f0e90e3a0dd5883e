#pragma once
// A TCP client the tests drive by hand: it records what the link sends, hands
// it what "the card" sent, and raises the socket's events on demand.

#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "cards/ostra_messenger.h"
#include "platform/tcp_client.h"

namespace ravelin::cards::test {

struct FakeTcpState {
    platform::TcpClient::Handlers handlers;
    std::string host;
    int port = 0;
    int opens = 0;
    int closes = 0;
    bool isConnected = false;
    std::vector<std::string> sent;   // one entry per send() that took bytes
    std::deque<int> sendResults;     // scripted results: a count to take, or minus an error code
    std::string incoming;            // bytes waiting for receive()
    std::vector<int> receiveSizes;   // the `max` of every receive()

    std::string allSent() const
    {
        std::string s;
        for (const auto& b : sent) s += b;
        return s;
    }
    void connect()
    {
        isConnected = true;
        handlers.connected();
        handlers.writable();
    }
    // The card sends bytes; the link hears of them once.
    void deliver(const std::string& bytes)
    {
        incoming += bytes;
        handlers.readable();
    }
};

class FakeTcpClient final : public platform::TcpClient {
public:
    explicit FakeTcpClient(std::shared_ptr<FakeTcpState> s) : s_(std::move(s)) {}
    void open() override { ++s_->opens; }
    void close() override
    {
        ++s_->closes;
        s_->isConnected = false;
    }
    bool connected() const override { return s_->isConnected; }
    int send(const uint8_t* data, int count) override
    {
        int take = count;
        if (!s_->sendResults.empty()) {
            take = s_->sendResults.front();
            s_->sendResults.pop_front();
            if (take < 0) return take;
            take = std::min(take, count);
        }
        s_->sent.emplace_back(reinterpret_cast<const char*>(data), size_t(take));
        return take;
    }
    int receive(uint8_t* data, int max) override
    {
        s_->receiveSizes.push_back(max);
        const int n = std::min<int>(max, int(s_->incoming.size()));
        std::copy_n(s_->incoming.begin(), n, data);
        s_->incoming.erase(0, size_t(n));
        return n;
    }

private:
    std::shared_ptr<FakeTcpState> s_;
};

// Link services whose sockets are fakes sharing `state`, and whose log lines
// land in `log`.
inline OstraLinkServices FakeLink(std::shared_ptr<FakeTcpState> state, std::vector<std::string>& log,
                                  platform::Clock* clock)
{
    OstraLinkServices s;
    s.newClient = [state](const std::string& host, int port, platform::TcpClient::Handlers h) {
        state->host = host;
        state->port = port;
        state->handlers = std::move(h);
        return std::make_unique<FakeTcpClient>(state);
    };
    s.writeLog = [&log](const std::string& line) { log.push_back(line); };
    s.clock = clock;
    return s;
}

inline std::string Bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int v : b) s.push_back(char(uint8_t(v)));
    return s;
}

// A frame as the card sends it, written out by hand: length, header, data,
// and the sum of all of them.
inline std::string CardFrame(const std::string& body)
{
    std::string f(1, char(body.size() + 1));
    f += body;
    uint8_t sum = 0;
    for (char c : f) sum = uint8_t(sum + uint8_t(c));
    f.push_back(char(sum));
    return f;
}

inline std::string CardFrame(std::initializer_list<int> body)
{
    return CardFrame(Bytes(body));
}

} // namespace ravelin::cards::test
