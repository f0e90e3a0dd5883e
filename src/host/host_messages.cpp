#include "host/host_messages.h"

namespace ravelin::host {

std::string MessageName(uint8_t header) {
    switch (header) {
    case kHostAYT: return "AYT";
    case kHostRestart: return "Restart";
    case kHostError: return "Error";
    case kHostBoot: return "Boot";
    case kHostEcho: return "Echo";
    case kHostUpdateHostFPGA: return "UpdateHostFPGA";
    case kHostUpdateUSBAudio: return "UpdateUSBAudio";
    case kHostUpdateXMOS: return "UpdateXMOS";
    case kHostStatus: return "Status";
    case kHostSampleRate: return "SampleRate";
    case kHostResetEngine: return "ResetEngine";
    case kHostUpdateEngineFPGA: return "UpdateEngineFPGA";
    case kHostTemperature: return "Temperature";
    case kHostVoltages: return "Voltages";
    case kHostIPAddress: return "IPAddress";
    case kHostSubnetMask: return "SubnetMask";
    case kHostUDPorTCP: return "UDP/TCP";
    case kHostSetDateTime: return "SetDateTime";
    case kHostRecoveryState: return "RecoveryState";
    default: return std::to_string(header) + "?";
    }
}

} // namespace ravelin::host
