#include "boot_loader_options.h"

#include <sstream>

namespace ravelin::sim {

namespace {

bool fields(const std::string& text, std::size_t count, std::vector<std::string>& out)
{
    out.clear();
    std::stringstream in(text);
    std::string f;
    while (std::getline(in, f, ':')) out.push_back(f);
    return out.size() == count;
}

bool number(const std::string& text, int lo, int hi, int& value)
{
    try {
        std::size_t used = 0;
        value = std::stoi(text, &used);
        return used == text.size() && value >= lo && value <= hi;
    } catch (...) {
        return false;
    }
}

} // namespace

std::string applyBootLoaderOptions(const BootLoaderOptionArgs& args, ConsoleConfig& config)
{
    auto panel = [&](int slot, const std::string& option) -> PanelConfig* {
        PanelConfig* p = config.panelOnSlot(slot);
        if (!p) throw std::string(option + ": no panel on slot " + std::to_string(slot));
        return p;
    };
    try {
        for (int s : args.capable) panel(s, "--boot-loader")->bootLoader.capable = true;
        for (int s : args.none) panel(s, "--no-boot-loader")->bootLoader.capable = false;
        for (int s : args.startIn) {
            PanelConfig* p = panel(s, "--in-boot-loader");
            p->bootLoader.capable = true;
            p->bootLoader.startInBootLoader = true;
        }
        std::vector<std::string> f;
        int slot = 0, a = 0, b = 0;
        for (const auto& arg : args.naks) {
            if (!fields(arg, 3, f) || !number(f[0], 0, 7, slot) || !number(f[1], 1, 1000000, a) ||
                !number(f[2], 0, 1000000, b))
                return "--bl-nak " + arg + ": expected SLOT:PACKET:TIMES";
            panel(slot, "--bl-nak")->bootLoader.nakPacket = a;
            panel(slot, "--bl-nak")->bootLoader.nakTimes = b;
        }
        for (const auto& arg : args.statuses) {
            if (!fields(arg, 3, f) || !number(f[0], 0, 7, slot) || !number(f[1], 1, 1000000, a) ||
                !number(f[2], 0, 255, b))
                return "--bl-status " + arg + ": expected SLOT:DATAPACKET:STATUS";
            panel(slot, "--bl-status")->bootLoader.badStatusData = a;
            panel(slot, "--bl-status")->bootLoader.badStatus = uint8_t(b);
        }
        for (const auto& arg : args.silent) {
            if (!fields(arg, 2, f) || !number(f[0], 0, 7, slot) || !number(f[1], 0, 1000000, a))
                return "--bl-silent " + arg + ": expected SLOT:DATAPACKETS";
            // None at all: the boot loader does not even answer the synchronisation.
            panel(slot, "--bl-silent")->bootLoader.silentAfterData = a;
            panel(slot, "--bl-silent")->bootLoader.silentFromStart = a == 0;
        }
        for (const auto& arg : args.fpgaErrors) {
            const bool erase = fields(arg, 3, f) && f[1] == "erase";
            if (f.size() != 3 || !number(f[0], 0, 7, slot) || (!erase && !number(f[1], 0, 65535, a)) ||
                !number(f[2], 1, 255, b))
                return "--fpga-error " + arg + ": expected SLOT:PACKET:CODE (PACKET a number or erase)";
            PanelConfig* p = panel(slot, "--fpga-error");
            if (erase)
                p->fileUpdate.eraseError = b;
            else
                p->fileUpdate.errorPacket = a;
            p->fileUpdate.errorCode = uint8_t(b);
        }
        for (int s : args.fpgaSilent) panel(s, "--fpga-silent")->fileUpdate.silent = true;
        for (const auto& arg : args.hexSilentAfter) {
            if (!fields(arg, 2, f) || !number(f[0], 0, 7, slot) || !number(f[1], 1, 1000000, a))
                return "--silent-after " + arg + ": expected SLOT:LINES";
            panel(slot, "--silent-after")->hex.silentAfterLines = a;
        }
        for (const auto& arg : args.fpgaSilentAfter) {
            if (!fields(arg, 2, f) || !number(f[0], 0, 7, slot) || !number(f[1], 0, 1000000, a))
                return "--fpga-silent-after " + arg + ": expected SLOT:PACKETS";
            panel(slot, "--fpga-silent-after")->fileUpdate.silentAfterPackets = a;
        }
        for (const auto& arg : args.drops) {
            if (!fields(arg, 2, f) || !number(f[0], 0, 7, slot) || !number(f[1], 1, 1000000, a))
                return "--panel-drop " + arg + ": expected SLOT:MESSAGES";
            panel(slot, "--panel-drop")->dropAfterUpdateMessages = a;
        }
    } catch (const std::string& error) {
        return error;
    }
    return {};
}

} // namespace ravelin::sim
