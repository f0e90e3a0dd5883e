#include "rack_options.h"

#include <sstream>
#include <vector>

namespace ravelin::sim {

bool applyRackFault(const std::string& fault, VirtualRackConfig& rack)
{
    std::vector<std::string> f;
    std::stringstream in(fault);
    for (std::string item; std::getline(in, item, ':');) f.push_back(item);
    std::vector<int> n;
    for (size_t i = 1; i < f.size(); ++i) {
        try {
            std::size_t used = 0;
            n.push_back(std::stoi(f[i], &used));
            if (used != f[i].size() || n.back() < 0 || n.back() > 1000000) return false;
        } catch (...) {
            return false;
        }
    }
    if (f.empty()) return false;
    const std::string& kind = f[0];
    if (kind == "refuse-start" && n.size() == 1) rack.refuseStart = n[0];
    else if (kind == "refuse-packet" && n.size() == 2) rack.refusePacket = n[0], rack.refusePacketTimes = n[1];
    else if (kind == "wrong-check" && n.empty()) rack.wrongCheck = true;
    else if (kind == "flash" && n.size() == 1 && n[0] <= 255) rack.flashResult = uint32_t(n[0]);
    else if (kind == "silent-packet" && n.size() == 1) rack.silentPacket = n[0];
    else if (kind == "drop-packet" && n.size() == 1) rack.dropAtPacket = n[0];
    else return false;
    return true;
}

} // namespace ravelin::sim
