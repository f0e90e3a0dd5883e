#pragma once
#include <cstdint>
#include <string>

// The card protocol's message headers, its single bytes outside frames, and
// the names the traces show.
namespace ravelin::cards {

enum CardHeader : uint8_t {
    cm_MessageError = 2,
    cm_Restart = 4,          // data 0: the card restarts into its boot loader
    cm_ResetDefaults = 6,
    cm_OstraStatus = 30,     // data 0: the poll; the card answers with its status
    cm_TarvolaControl = 31,  // data 0, then a MADI control message
    cm_SyncSource = 33,
    cm_MADIMode = 35,
    cm_MADIConnection = 36,
    cm_InputSR = 37,
    cm_CardStatus = 38,
    cm_UpdateFPGA = 39,      // file-update packets
    cm_RackType = 40,
    cm_RackSlot = 41,
    cm_RackCode = 42,
    cm_RackVoltage = 43,
    cm_ControlViaAudio = 44,
    cm_InputSRC = 45,
    cm_ClearToSend = 50,
    cm_MADISmux = 55,
    cm_DanteMessage = 65,
    cm_AMMMeter = 72,
    cm_DuzodIPAddress = 96,
    cm_DuzodSerialNumber = 97,
    cm_DuzodDeviceName = 98,
    cm_DuzodVersion = 99,
    cm_DuzodWriteLog = 100,
    cm_DuzodExternalControlPort = 101,
};

// Single bytes the card sends outside any frame.
constexpr uint8_t kCardFirmwareRunning = 0xAA;
constexpr uint8_t kCardBootLoaderAck = 0xCC;
// Towards the card: the boot loader's synchronisation, twice, unframed.
constexpr uint8_t kAutoBaudByte = 0x55;

// The trace name of a header; a header without one is its number and "?".
std::string CardMessageName(uint8_t Header);

} // namespace ravelin::cards
