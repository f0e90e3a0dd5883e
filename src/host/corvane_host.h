#pragma once
#include <cstdint>
#include <string>

// The engine host board as the inventory sees it: the versions it reports
// over its serial link. There is no host object while no link is open.
namespace ravelin::host {

class CorvaneHost {
public:
    virtual ~CorvaneHost() = default;
    uint8_t FirmwareVersion = 0;   // 0: not reported
    std::string FPGAVersion;       // a date text once reported
    virtual void Service() {}
    virtual void Start_HostDFU() {}
    virtual void Start_HostUpdateFPGA() {}
    virtual void Start_HostUpdateUSBAudio() {}
};

} // namespace ravelin::host
