#include "platform/usb_control.h"

#ifdef RAVELIN_HAVE_LIBUSB
#include <libusb.h>

namespace ravelin::platform {

namespace {

UsbOutcome outcomeOf(int rc) {
    switch (rc) {
    case LIBUSB_ERROR_PIPE: return UsbOutcome::Stall;
    case LIBUSB_ERROR_TIMEOUT: return UsbOutcome::Timeout;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND: return UsbOutcome::Gone;
    case LIBUSB_ERROR_ACCESS: return UsbOutcome::Access;
    default: return rc >= 0 ? UsbOutcome::Done : UsbOutcome::Error;
    }
}

std::string locationOf(libusb_device* d) {
    uint8_t ports[8];
    int n = libusb_get_port_numbers(d, ports, sizeof ports);
    std::string s = std::to_string(libusb_get_bus_number(d)) + "-";
    for (int i = 0; i < n; ++i) s += (i ? "." : "") + std::to_string(ports[i]);
    return s;
}

class LibusbPipe final : public ControlPipe {
public:
    LibusbPipe(libusb_device_handle* h, int interface) : h_(h), interface_(interface) {}
    ~LibusbPipe() override {
        libusb_release_interface(h_, interface_);
        libusb_close(h_);
    }
    UsbResult control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
                      uint16_t length, unsigned timeoutMs) override {
        int rc = libusb_control_transfer(h_, requestType, request, value, index, data, length, timeoutMs);
        if (rc < 0) return {outcomeOf(rc), 0};
        return {UsbOutcome::Done, rc};
    }

private:
    libusb_device_handle* h_;
    int interface_;
};

// The machine's USB through libusb. Only the library's worker thread calls it.
class LibusbBus final : public UsbBus {
public:
    explicit LibusbBus(libusb_context* ctx) : ctx_(ctx) {}
    ~LibusbBus() override { libusb_exit(ctx_); }

    UsbOutcome list(std::vector<UsbDfuEntry>& out) override {
        libusb_device** devices = nullptr;
        ssize_t n = libusb_get_device_list(ctx_, &devices);
        if (n < 0) return outcomeOf(int(n));
        for (ssize_t i = 0; i < n; ++i) add(devices[i], out);
        libusb_free_device_list(devices, 1);
        return UsbOutcome::Done;
    }

    std::unique_ptr<ControlPipe> open(const UsbDfuEntry& entry, UsbOutcome& outcome) override {
        outcome = UsbOutcome::Gone;
        libusb_device** devices = nullptr;
        ssize_t n = libusb_get_device_list(ctx_, &devices);
        if (n < 0) {
            outcome = outcomeOf(int(n));
            return nullptr;
        }
        std::unique_ptr<ControlPipe> pipe;
        for (ssize_t i = 0; i < n && !pipe; ++i) {
            if (locationOf(devices[i]) != entry.location) continue;
            libusb_device_handle* h = nullptr;
            int rc = libusb_open(devices[i], &h);
            if (rc != 0) {
                outcome = outcomeOf(rc);
                break;
            }
            libusb_set_auto_detach_kernel_driver(h, 1);
            rc = libusb_claim_interface(h, entry.interfaceNumber);
            if (rc != 0) {
                outcome = outcomeOf(rc);
                libusb_close(h);
                break;
            }
            outcome = UsbOutcome::Done;
            pipe = std::make_unique<LibusbPipe>(h, entry.interfaceNumber);
        }
        libusb_free_device_list(devices, 1);
        return pipe;
    }

private:
    static void add(libusb_device* d, std::vector<UsbDfuEntry>& out) {
        libusb_device_descriptor dd{};
        if (libusb_get_device_descriptor(d, &dd) != 0) return;
        libusb_config_descriptor* cfg = nullptr;
        if (libusb_get_active_config_descriptor(d, &cfg) != 0 && libusb_get_config_descriptor(d, 0, &cfg) != 0) return;
        for (int i = 0; i < cfg->bNumInterfaces; ++i) {
            const libusb_interface& itf = cfg->interface[i];
            for (int a = 0; a < itf.num_altsetting; ++a) {
                const libusb_interface_descriptor& id = itf.altsetting[a];
                if (id.bInterfaceClass != 0xFE || id.bInterfaceSubClass != 1) continue;
                UsbDfuEntry e;
                // Some devices hang the functional descriptor on the
                // configuration instead of the interface.
                if (!ParseDfuFunctional(id.extra, size_t(id.extra_length), e.functional) &&
                    !ParseDfuFunctional(cfg->extra, size_t(cfg->extra_length), e.functional))
                    continue;
                e.idVendor = dd.idVendor;
                e.idProduct = dd.idProduct;
                e.bcdDevice = dd.bcdDevice;
                e.iManufacturer = dd.iManufacturer;
                e.iProduct = dd.iProduct;
                e.iSerialNumber = dd.iSerialNumber;
                e.interfaceNumber = id.bInterfaceNumber;
                e.interfaceProtocol = id.bInterfaceProtocol;
                e.location = locationOf(d);
                out.push_back(e);
            }
        }
        libusb_free_config_descriptor(cfg);
    }

    libusb_context* ctx_;
};

} // namespace

std::unique_ptr<UsbBus> OpenLibusbBus(std::string& why) {
    libusb_context* ctx = nullptr;
    int rc = libusb_init(&ctx);
    if (rc != 0) {
        why = std::string("libusb cannot start: ") + libusb_error_name(rc);
        return nullptr;
    }
    return std::make_unique<LibusbBus>(ctx);
}

} // namespace ravelin::platform

#else

namespace ravelin::platform {

std::unique_ptr<UsbBus> OpenLibusbBus(std::string& why) {
    why = "built without libusb-1.0";
    return nullptr;
}

} // namespace ravelin::platform

#endif
