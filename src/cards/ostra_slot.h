#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <vector>

#include "cards/ostra_messenger.h"
#include "cards/ostra_types.h"
#include "cards/tiva_ethernet_messenger.h"
#include "mcu/tiva_file_updater.h"
#include "mcu/tiva_updater.h"

// One interface-card slot of the engine: the card protocol over the slot's
// link, the once-a-second poll that also finds a card waiting in its boot
// loader, and what the card reports.
namespace ravelin::cards {

// What a slot needs of the engine's rack table. Records are 210 bytes;
// byte 0 is the rack's kind, byte 1 its port, byte 2 its MADI mode value and
// byte 4 its flags (bit 0 on line, bit 1 versions valid).
class OstraRackAccess {
public:
    virtual ~OstraRackAccess() = default;
    // The record index (1 to 49) of the rack on an engine port, or -1.
    virtual int RackOnPort(int port) = 0;
    // Record nRack (1 to 49).
    virtual uint8_t* RackRecord(int nRack) = 0;
    // The engine's sample rate for a port; 0 when it has none.
    virtual uint32_t EngineSampleRate(int port) = 0;
    // The record of the rack paired with a rack of this kind on this port, or
    // 0 when there is none.
    virtual int PartnerRack(int kind, int port) = 0;
};

struct OstraSlotServices {
    std::string engineAddress;    // EngineIPAddress; empty: the slot opens no link
    std::string localAddress;     // this computer's address, "a.b.c.d", for Duzod devices
    OstraLinkServices link;
    OstraRackAccess* racks = nullptr; // null: no rack table yet
};

class tOstraSlot {
public:
    static constexpr int AYTStepCalls = 100;        // service calls per poll step (1 s)
    static constexpr int ClearToSendQueueBytes = 512;
    static constexpr int ClearToSendWaitCalls = 1000;
    static constexpr int MessageErrorZeros = 250;
    static constexpr int MinRack = 1, MaxRack = 49;
    // Service calls the card is given to restart into its boot loader (1 s).
    static constexpr int RestartCalls = 100;
    // Service calls from the end of a firmware update to the synchronisation
    // that finds out whether the card came back.
    static constexpr int SyncAfterUpdateCalls = 20;

    // A slot without a link: it reports no card.
    tOstraSlot();
    // Create: opens the link unless the engine address is empty.
    tOstraSlot(int aSlot, OstraSlotServices services);
    virtual ~tOstraSlot();
    tOstraSlot(const tOstraSlot&) = delete;
    tOstraSlot& operator=(const tOstraSlot&) = delete;

    void Open();
    void Close();
    static uint8_t GetChecksum(std::string_view text);
    void Clear();
    void SendAutoBaud();
    // Frames header + data and queues it; nothing without a link.
    void Send(std::string_view aMessage);
    // One message, header first.
    void Receive(const std::string& aMessage);
    // The 10 ms step.
    virtual void Service();
    void RequestCardStatus();
    void RefreshIODeviceData(int ToRack);
    bool MADISRCValid() const;
    // The rack's MADI transmit mode: the mode value of its record to both
    // MADI ports, the input sample-rate converter, and the 96 kHz S/MUX.
    void SetMADITransmitMode(tMADITransmitMode TransmitMode);
    void ReplyDuzodIPAddressRequest();
    void SendDuzodIPAddress(int CmdType, const tDuzodIPRec& DuzodIPRec);

    // Card firmware through the card's boot loader: unless the card waits in
    // its boot loader already it is told to restart into it (03 04 00 07) and
    // given a second; then the image goes over the link while the card
    // protocol is suspended. aProgressEvent hears of every step and of a
    // failure; aFinishedEvent of the reset the boot loader acknowledged, once
    // the slot has been cleared to wait for the restarted card. False, with
    // nothing sent, when the slot cannot start now (no connection, a card
    // update of this slot running).
    bool UpdateCode(std::vector<uint8_t> image, mcu::tTivaUpdateEvent aProgressEvent,
                    mcu::tTivaUpdateEvent aFinishedEvent, mcu::DisplayFn display = {});
    // The card FPGA through the running firmware's file update, each message a
    // card frame with header 39, while the card protocol goes on. The start
    // message goes out at once; aFinishedEvent hears of the end, a success or
    // an abort. False, with nothing sent, as for UpdateCode, and also while
    // the card waits in its boot loader.
    bool UpdateFPGA(std::vector<uint8_t> file, mcu::tTivaUpdateEvent aProgressEvent,
                    mcu::tTivaUpdateEvent aFinishedEvent, mcu::DisplayFn display = {});
    // Drops a card update of this slot without telling its owner (the owner
    // gave up on it); the slot then serves the card again and synchronises
    // to find out where the card stands.
    void AbortUpdates();
    // A firmware update holds the slot: restarting the card or talking to
    // its boot loader.
    bool CodeUpdating() const { return CodeUpdater || RestartTicks > 0; }
    // Connected, and no card update of this slot running.
    bool ReadyForUpdate() const { return Messenger && Messenger->IsConnected() && !CodeUpdating() && !FPGAUpdater; }

    uint8_t SlotNumber = 0;
    uint8_t CardType = 0; // 0: no card
    uint8_t CardVersion = 0;
    uint8_t Temperature = 0;
    std::string FPGAVersion = std::string(10, ' ');
    uint32_t CardSampleRate = 0;
    std::array<uint32_t, 8> InputSampleRates{};
    uint8_t SyncSource = 0;
    bool SRCActive = false;
    bool SRCError = false;
    tOstraSRCState SRCState = src_Off;
    std::array<uint8_t, 2> MADIChannelCount{};
    std::array<bool, 2> MADITrue96{};
    std::array<uint8_t, 2> MADIConnection{};
    bool IODeviceDataChanged = false;
    tIODeviceData IODeviceData;
    std::unique_ptr<tDuzodDataRec> DuzodData;
    std::unique_ptr<mcu::tTivaUpdater> CodeUpdater;
    std::unique_ptr<mcu::tTivaFileUpdater> FPGAUpdater;
    std::unique_ptr<tOstraMessenger> Messenger;
    bool InBootLoader = false;
    bool ClearToSend = false;
    std::unique_ptr<tTivaEthernetMessenger> UpdateMessenger;
    // Service calls left before the boot loader is spoken to; 0 = none.
    int32_t RestartTicks = 0;
    std::string ReceiveBuffer;
    int32_t nRack = -1;
    int32_t AYTQFCount = 0;
    int32_t AYTFailCount = 0;
    int32_t AYTFailMax = 5;
    int32_t ClearToSendFailCount = 0;
    int32_t SRCTimerCount = 0;
    tMADITransmitMode MADITransmitMode = madi48k;
    mcu::tTivaUpdateEvent CodeUpdateFinishedEvent;
    mcu::tTivaUpdateEvent FPGAUpdateFinishedEvent;
    std::unique_ptr<tDante64DataRec> Dante64Data;

    std::function<void(int nRack, uint8_t NetworkID)> OnNetworkIDReceived;
    std::function<void(int nRack)> OnOstracardOnLine;
    std::function<void(int nRack, int nOstraSlot, const std::string& MADIMessage)> OnMADIMessageReceived;
    std::function<void(int nRack, const tIODeviceData& DeviceData)> OnRackDeviceDataReceived;
    std::function<void(int nRack, int nSocket, int ShareValue)> OnAMMShareMeterReceived;
    std::function<void(int nRack, int DuzodMessageType, int AckCode)> OnDuzodMessageReceived;
    std::function<void(int OstraSlotNumber, int SocketNumber, const tDante64SocketDataRec& socketData,
                       bool FirstMessage, bool fullControl)>
        OnOstraDante64SocketDataReceived;

private:
    void ResetLink();
    void ApplyCardStatus(const std::string& data);
    void ReceiveRackData(uint8_t header, const std::string& data);
    void ClearIODeviceData();
    void ClearDeviceRecords();
    void ParseReceived(std::string_view bytes);
    void ServiceAYT();
    void SendInputSRC(uint8_t value);
    void SendMADIMode(tMADITransmitMode mode);
    void SendMADISmux(bool on);
    void ReceiveDuzod(uint8_t header, const std::string& data);
    void ReceiveDante(const std::string& aMessage);
    uint8_t* rackRecord(int n) const;
    void CreateCodeUpdater();
    // CodeUpdaterFinished and FPGAUpdaterFinished: run once the updater's own
    // call has returned, never from inside it.
    void CodeUpdaterEnded();
    void ReleaseFPGAUpdater();
    void ReleaseCodeUpdater();
    platform::Clock& clock() const;

    OstraSlotServices services_;
    std::vector<uint8_t> pendingImage_;   // the image while the card restarts
    mcu::tTivaUpdateEvent codeProgress_;
    mcu::DisplayFn codeDisplay_;
    bool codeAck_ = false;                // the boot loader acknowledged the reset
};

using tOstraSlots = std::array<std::unique_ptr<tOstraSlot>, 2>;

// Create(aSlot) with the program's services: the main window's factory.
std::unique_ptr<tOstraSlot> NewOstraSlot(int aSlot, const OstraSlotServices& services);
void CreateOstraSlots(tOstraSlots& OstraSlots, const OstraSlotServices& services);
void FreeOstraSlots(tOstraSlots& OstraSlots);
void ServiceOstraSlots(tOstraSlots& OstraSlots);

} // namespace ravelin::cards
