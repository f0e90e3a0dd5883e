#pragma once
#include <memory>
#include <string>

#include "engine/audio_engine.h"
#include "engine/engine_dispatch.h"
#include "engine/engine_link.h"
#include "engine/engine_messenger.h"
#include "engine/engine_window.h"
#include "engine/rack_table.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/update_control.h"

// The engine link as the main window holds it: the connection, the message
// protocol and the dispatch, wired together. Received messages are handled on
// the communications tick and also as soon as the connection hands bytes
// over, so a transfer runs at the speed of the link's round trip.
namespace ravelin::engine {

// A real TCP connection (a client thread) on the given loop.
ConnectionFactory TcpConnections(platform::EventLoop& loop);

class EngineUnit final : public EngineLink {
public:
    EngineUnit(platform::EventLoop& loop, platform::Clock& clock, platform::UpdateControl& control,
               EngineWindow& window, RackTable& racks, ConnectionFactory connections);
    ~EngineUnit() override;

    void OpenEngineLinks(const std::string& ipAddress) override;
    void CloseEngineLinks() override;
    void ResetEngineLinkState() override;
    void InitialiseEngineComms() override;
    void SendStartupRequests() override;
    void SendVersionRequests() override;
    void Service() override;
    void SendSystemMessage(int parameter, int data) override;
    void RestartEngine() override;
    std::unique_ptr<platform::RunningUpdate> NewEngineDownload(const std::string& fileName, int fileType,
                                                               const std::string& description) override;
    std::unique_ptr<platform::RunningUpdate> NewRackDownload(int nRack, const std::string& fileName) override;
    void ProcessEngineMessage(tEngineMessage& message) override;
    bool IsConnected() const override;
    bool Restarting() const override;

    AudioEngine& Engine() { return engine_; }
    EngineDispatch& Dispatch() { return dispatch_; }
    EngineMessenger* Messenger() { return messenger_.get(); }

private:
    platform::EventLoop& loop_;
    platform::UpdateControl& control_;
    EngineWindow& window_;
    ConnectionFactory connections_;
    AudioEngine engine_;
    EngineDispatch dispatch_;
    std::unique_ptr<EngineMessenger> messenger_;
};

} // namespace ravelin::engine
