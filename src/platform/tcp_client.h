#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/event_loop.h"

namespace ravelin::platform {

// Socket error numbers as the console's logs have always shown them; the
// system's own numbers are translated into these where one fits.
constexpr int kSocketWouldBlock = 10035;
constexpr int kSocketConnectionAborted = 10053;
constexpr int kSocketConnectionReset = 10054;
constexpr int kSocketNotConnected = 10057;
constexpr int kSocketTimedOut = 10060;
constexpr int kSocketRefused = 10061;
constexpr int kSocketHostUnreachable = 10065;

// The number a log line shows for a system error number (errno); numbers
// without a counterpart are shown as they are.
int SocketErrorCode(int errnum);

// A non-blocking TCP client. The connection and the reads run on a worker
// thread; every event reaches the owner on the user-interface thread through
// the event loop, and send() and receive() never wait.
class TcpClient {
public:
    struct Handlers {
        std::function<void()> connected;
        std::function<void()> disconnected;  // the peer closed, or an error ended the connection
        std::function<void(int code)> error; // a SocketErrorCode
        std::function<void()> readable;      // received bytes wait; raised again while some are left
        std::function<void()> writable;      // the socket takes bytes again after a would-block
    };
    virtual ~TcpClient() = default;

    // Starts an asynchronous connect; a connection already open or being made
    // is dropped first, without events.
    virtual void open() = 0;
    // Drops the connection; no event follows.
    virtual void close() = 0;
    virtual bool connected() const = 0;
    // Hands bytes to the socket without waiting: the count taken, or minus a
    // SocketErrorCode (-kSocketWouldBlock when it takes nothing now).
    virtual int send(const uint8_t* data, int count) = 0;
    // Takes up to `max` received bytes: the count, 0 when none are there.
    virtual int receive(uint8_t* data, int max) = 0;
};

// A client for host:port whose handlers run on `loop`'s thread. It makes no
// connection before open().
std::unique_ptr<TcpClient> NewTcpClient(EventLoop& loop, const std::string& host, int port,
                                        TcpClient::Handlers handlers);

} // namespace ravelin::platform
