#include "engine/engine_unit.h"

#include "engine/engine_download.h"
#include "engine/engine_numbers.h"
#include "engine/rack_download.h"
#include "platform/client_thread.h"

namespace ravelin::engine {

ConnectionFactory TcpConnections(platform::EventLoop& loop) {
    return [&loop](const std::string& ip, int port) -> std::unique_ptr<platform::ClientConnection> {
        return std::make_unique<platform::tClientThread>(loop, ip, port);
    };
}

EngineUnit::EngineUnit(platform::EventLoop& loop, platform::Clock& clock, platform::UpdateControl& control,
                       EngineWindow& window, RackTable& racks, ConnectionFactory connections)
    : loop_(loop), control_(control), window_(window), connections_(std::move(connections)),
      engine_(loop, clock, control, window, Info), dispatch_(loop, control, window, engine_, racks) {
    engine_.OnEngineMessage = [this](tEngineMessage& m) { dispatch_.ProcessEngineMessage(m); };
}

EngineUnit::~EngineUnit() {
    engine_.SetMessenger(nullptr);
    messenger_.reset();
}

void EngineUnit::OpenEngineLinks(const std::string& ipAddress) {
    if (messenger_ || ipAddress.empty()) return;
    messenger_ = std::make_unique<EngineMessenger>(loop_, control_, window_, ipAddress, connections_);
    messenger_->OnDataReceived = [this] { engine_.ServiceEngineReceive(); };
    engine_.SetMessenger(messenger_.get());
    messenger_->Open();
}

void EngineUnit::CloseEngineLinks() {
    if (!messenger_) return;
    messenger_->FormClose();
    // The link is freed, so that opening the links again (after a host
    // update) makes a new one instead of finding the closed one in place.
    engine_.SetMessenger(nullptr);
    messenger_.reset();
}

void EngineUnit::ResetEngineLinkState() {
    engine_.SkipSequenceCheck = true;
    engine_.EngineCommsReady = false;
}

void EngineUnit::InitialiseEngineComms() { dispatch_.InitialiseForStartup(); }
void EngineUnit::SendStartupRequests() { dispatch_.SendStartupRequests(); }
void EngineUnit::SendVersionRequests() { dispatch_.SendVersionRequests(); }
void EngineUnit::Service() { engine_.ServiceEngineLinks(); }

void EngineUnit::SendSystemMessage(int parameter, int data) {
    engine_.SendEngineLong(MakeHeader(IdLo(modSystem, uint8_t(parameter))), uint32_t(data));
}

void EngineUnit::RestartEngine() { dispatch_.RestartEngine(); }

std::unique_ptr<platform::RunningUpdate> EngineUnit::NewEngineDownload(const std::string& fileName, int fileType,
                                                                       const std::string& description) {
    if (!messenger_) return nullptr;
    return std::make_unique<EngineDownload>(dispatch_, control_, fileName, fileType, description);
}

std::unique_ptr<platform::RunningUpdate> EngineUnit::NewRackDownload(int nRack, const std::string& fileName) {
    return std::make_unique<RackDownload>(dispatch_, control_, nRack, fileName);
}

void EngineUnit::ProcessEngineMessage(tEngineMessage& message) { dispatch_.ProcessEngineMessage(message); }

bool EngineUnit::Restarting() const { return dispatch_.Restarting(); }

bool EngineUnit::IsConnected() const { return messenger_ && messenger_->IsConnected(); }

} // namespace ravelin::engine
