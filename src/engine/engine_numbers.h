#pragma once
#include <cstdint>

// Every number of the engine link in one place: the port, the modules,
// system and i/o device parameters, and the status codes of the message
// protocol.
namespace ravelin::engine {

inline constexpr int kEnginePort = 52000;

// Modules (byte 1 of a header).
inline constexpr uint8_t modSystem = 0;
inline constexpr uint8_t modIODevice = 11;
inline constexpr uint8_t modFxControl = 18;

// System parameters (module 0).
inline constexpr uint8_t sysVersionDates = 2;
inline constexpr uint8_t sysStartDownload = 3;
inline constexpr uint8_t sysPacket = 4;
inline constexpr uint8_t sysEndDownload = 5;
inline constexpr uint8_t sysProgramFlash = 6;
inline constexpr uint8_t sysEngineReset = 7;
inline constexpr uint8_t sysSampleRates = 9;
inline constexpr uint8_t sysRecover = 18;
inline constexpr uint8_t sysLostMessages = 21;  // from the engine; to it: the restart of numbering
inline constexpr uint8_t sysRestartNumbering = 21;
inline constexpr uint8_t sysClosing = 22;
inline constexpr uint8_t sysStatusReport = 28;
inline constexpr uint8_t sysFileSet = 38;
inline constexpr uint8_t sysSerialNumber = 39;

// I/O device parameters (module 11); the engine port goes in the band.
inline constexpr uint8_t devOptocore = 0;
inline constexpr uint8_t devDeviceData = 21;
inline constexpr uint8_t devLocalRackStart = 37;
inline constexpr uint8_t devRackAck = 192;
inline constexpr uint8_t devRackStart = 193;
inline constexpr uint8_t devRackPacket = 194;
inline constexpr uint8_t devRackEnd = 195;
inline constexpr uint8_t devRackProgram = 196;
inline constexpr uint8_t devRackFlashResult = 197;
inline constexpr uint8_t devRackBoot = 199;
inline constexpr uint8_t devVersionRequest = 200;
inline constexpr uint8_t devVersionReport = 201;
inline constexpr uint8_t devTransferCheck = 202;

// The 16-bit IDlo of a header: parameter + 256 x module.
constexpr uint16_t IdLo(uint8_t module, uint8_t parameter) { return uint16_t(parameter | (module << 8)); }

inline constexpr uint16_t idStartDownload = IdLo(modSystem, sysStartDownload);     // 0x0003
inline constexpr uint16_t idPacket = IdLo(modSystem, sysPacket);                   // 0x0004
inline constexpr uint16_t idEndDownload = IdLo(modSystem, sysEndDownload);         // 0x0005
inline constexpr uint16_t idProgramFlash = IdLo(modSystem, sysProgramFlash);       // 0x0006
inline constexpr uint16_t idEngineReset = IdLo(modSystem, sysEngineReset);         // 0x0007
inline constexpr uint16_t idRecover = IdLo(modSystem, sysRecover);                 // 0x0012
inline constexpr uint16_t idRestartNumbering = IdLo(modSystem, sysRestartNumbering); // 0x0015
inline constexpr uint16_t idClosing = IdLo(modSystem, sysClosing);                 // 0x0016
inline constexpr uint16_t idFileSet = IdLo(modSystem, sysFileSet);                 // 0x0026
inline constexpr uint16_t idSerialNumber = IdLo(modSystem, sysSerialNumber);       // 0x0027
inline constexpr uint16_t idVersionDates = IdLo(modSystem, sysVersionDates);       // 0x0002
inline constexpr uint16_t idDeviceData = IdLo(modIODevice, devDeviceData);         // 0x0B15
inline constexpr uint16_t idLocalRackStart = IdLo(modIODevice, devLocalRackStart); // 0x0B25
inline constexpr uint16_t idRackAck = IdLo(modIODevice, devRackAck);               // 0x0BC0
inline constexpr uint16_t idRackStart = IdLo(modIODevice, devRackStart);           // 0x0BC1
inline constexpr uint16_t idRackPacket = IdLo(modIODevice, devRackPacket);         // 0x0BC2
inline constexpr uint16_t idRackEnd = IdLo(modIODevice, devRackEnd);               // 0x0BC3
inline constexpr uint16_t idRackProgram = IdLo(modIODevice, devRackProgram);       // 0x0BC4
inline constexpr uint16_t idRackFlashResult = IdLo(modIODevice, devRackFlashResult); // 0x0BC5
inline constexpr uint16_t idRackBoot = IdLo(modIODevice, devRackBoot);             // 0x0BC7
inline constexpr uint16_t idVersionRequest = IdLo(modIODevice, devVersionRequest); // 0x0BC8
inline constexpr uint16_t idVersionReport = IdLo(modIODevice, devVersionReport);   // 0x0BC9
inline constexpr uint16_t idTransferCheck = IdLo(modIODevice, devTransferCheck);   // 0x0BCA
inline constexpr uint32_t hdrOptocore = 0x000E0B00;  // i/o device 0, band 14

// Status codes (byte 1 of a message).
inline constexpr uint8_t stPlain = 0;
inline constexpr uint8_t stAckRequest = 1;
inline constexpr uint8_t stAckOK = 2;
inline constexpr uint8_t stRequest = 3;
inline constexpr uint8_t stRequestOK = 4;
inline constexpr uint8_t stChecksumError = 5;
inline constexpr uint8_t stFlashFirstError = 9;
inline constexpr uint8_t stFlashLastError = 17;
inline constexpr uint8_t stFlashSuccess = 18;
inline constexpr uint8_t stFlashFileChecksum = 20;
inline constexpr uint8_t stFlashEraseBlock = 21;
inline constexpr uint8_t stFlashProgramBlock = 22;
inline constexpr uint8_t stInsufficientFx = 23;
inline constexpr uint8_t stFxOK = 25;

// Engine ports of the racks behind the two interface-card slots.
inline constexpr uint8_t kCardSlotPort0 = 16;
inline constexpr uint8_t kCardSlotPort1 = 17;

} // namespace ravelin::engine
