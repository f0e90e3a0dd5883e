#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the DFU protocol needs of USB: the DFU interfaces on the bus, and
// control transfers on an opened one. libusb serves real devices; a Unix
// socket serves the virtual console's device.
namespace ravelin::platform {

enum class UsbOutcome : uint8_t {
    Done = 0,     // the transfer completed; length holds the bytes moved
    Stall = 1,    // the device refused the request
    Timeout = 2,  // no answer in time
    Gone = 3,     // the device is no longer there
    Access = 4,   // the system refused us the device (permissions)
    Error = 5,    // any other failure
};

struct UsbResult {
    UsbOutcome outcome = UsbOutcome::Error;
    int length = 0;
};

// The DFU functional descriptor (type 0x21) that follows a DFU interface.
struct DfuFunctional {
    uint8_t bmAttributes = 0;  // bit 0 download, 1 upload, 2 manifestation tolerant, 3 will detach
    uint16_t wDetachTimeOut = 0;
    uint16_t wTransferSize = 0;
    uint16_t bcdDFUVersion = 0;
};

// One DFU interface of a device on the bus.
struct UsbDfuEntry {
    uint16_t idVendor = 0;
    uint16_t idProduct = 0;
    uint16_t bcdDevice = 0;
    uint8_t iManufacturer = 0;
    uint8_t iProduct = 0;
    uint8_t iSerialNumber = 0;
    uint8_t interfaceNumber = 0;
    uint8_t interfaceProtocol = 0;  // 1 run-time, 2 DFU mode
    DfuFunctional functional;
    std::string location;           // the bus's own name for the device
};

// A device's descriptors as they come over the wire: the device descriptor,
// then the whole configuration descriptor. Every interface of class 0xFE,
// subclass 1 that is followed by a functional descriptor is added to `out`.
void ParseDfuInterfaces(const std::vector<uint8_t>& device, const std::vector<uint8_t>& configuration,
                        std::vector<UsbDfuEntry>& out);
// The functional descriptor among an interface's extra bytes.
bool ParseDfuFunctional(const uint8_t* extra, size_t length, DfuFunctional& out);

// Control transfers on one opened DFU interface. Requests with bit 7 of
// requestType set read up to `length` bytes into data; others write them.
class ControlPipe {
public:
    virtual ~ControlPipe() = default;
    virtual UsbResult control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                              uint8_t* data, uint16_t length, unsigned timeoutMs) = 0;
};

class UsbBus {
public:
    virtual ~UsbBus() = default;
    // Every DFU interface present; an outcome other than Done when the bus
    // itself cannot be read.
    virtual UsbOutcome list(std::vector<UsbDfuEntry>& out) = 0;
    // Opens and claims the interface; null with the reason in `outcome`.
    virtual std::unique_ptr<ControlPipe> open(const UsbDfuEntry& entry, UsbOutcome& outcome) = 0;
};

// The bus of the machine through libusb-1.0; null with `why` when the
// program was built without it or it cannot start.
std::unique_ptr<UsbBus> OpenLibusbBus(std::string& why);
// The virtual console's DFU device behind a Unix socket.
std::unique_ptr<UsbBus> OpenSocketBus(const std::string& socketPath);

} // namespace ravelin::platform
