#include "card_options.h"
#include "rack_options.h"

#include <sstream>

namespace ravelin::sim {

namespace {

// SLOT (0 or 1) and `count` further numbers, or false. A field may be the
// word `word`, which gives -1.
bool parse(const std::string& text, std::size_t count, std::vector<int>& out, const std::string& word = "")
{
    out.clear();
    std::stringstream in(text);
    std::string f;
    while (std::getline(in, f, ':')) {
        if (!word.empty() && f == word) {
            out.push_back(-1);
            continue;
        }
        try {
            std::size_t used = 0;
            const int v = std::stoi(f, &used);
            if (used != f.size() || v < 0) return false;
            out.push_back(v);
        } catch (...) {
            return false;
        }
    }
    return out.size() == count + 1 && out[0] <= 1;
}

} // namespace

std::string applyCardOptions(const CardOptionArgs& args, ConsoleConfig& config)
{
    auto card = [&](int slot, const std::string& option) -> CardConfig* {
        for (auto& c : config.cards)
            if (c.slot == slot) return &c;
        throw std::string(option + ": no card in slot " + std::to_string(slot));
    };
    std::vector<int> v;
    try {
        for (const auto& arg : args.naks) {
            if (!parse(arg, 2, v)) return "--card-bl-nak " + arg + ": expected SLOT:PACKET:TIMES";
            card(v[0], "--card-bl-nak")->bootLoader.nakPacket = v[1];
            card(v[0], "--card-bl-nak")->bootLoader.nakTimes = v[2];
        }
        for (const auto& arg : args.statuses) {
            if (!parse(arg, 2, v) || v[2] > 255) return "--card-bl-status " + arg + ": expected SLOT:DATAPACKET:STATUS";
            card(v[0], "--card-bl-status")->bootLoader.badStatusData = v[1];
            card(v[0], "--card-bl-status")->bootLoader.badStatus = uint8_t(v[2]);
        }
        for (const auto& arg : args.silent) {
            if (!parse(arg, 1, v)) return "--card-bl-silent " + arg + ": expected SLOT:DATAPACKETS";
            card(v[0], "--card-bl-silent")->bootLoader.silentAfterData = v[1];
        }
        for (const auto& arg : args.drops) {
            if (!parse(arg, 1, v)) return "--card-bl-drop " + arg + ": expected SLOT:DATAPACKETS";
            card(v[0], "--card-bl-drop")->dropAfterDataPackets = v[1];
        }
        for (const auto& arg : args.fpgaErrors) {
            if (!parse(arg, 2, v, "erase") || v[0] < 0 || v[2] < 1 || v[2] > 255)
                return "--card-fpga-error " + arg + ": expected SLOT:PACKET:CODE (PACKET a number or erase)";
            FileUpdateBehaviour& f = card(v[0], "--card-fpga-error")->fpga;
            if (v[1] < 0)
                f.eraseError = v[2];
            else
                f.errorPacket = v[1];
            f.errorCode = uint8_t(v[2]);
        }
        for (int s : args.fpgaSilent) card(s, "--card-fpga-silent")->fpga.silent = true;
        for (int s : args.racks) card(s, "--card-rack")->madiRack = VirtualRackConfig{};
        for (const auto& arg : args.fpgaSilentAfter) {
            if (!parse(arg, 1, v)) return "--card-fpga-silent-after " + arg + ": expected SLOT:PACKETS";
            card(v[0], "--card-fpga-silent-after")->fpga.silentAfterPackets = v[1];
        }
        for (const auto& arg : args.fpgaDrops) {
            if (!parse(arg, 1, v) || v[1] < 1) return "--card-fpga-drop " + arg + ": expected SLOT:PACKETS";
            card(v[0], "--card-fpga-drop")->fpga.dropAfterPackets = v[1];
        }
        for (const auto& arg : args.rackFaults) {
            const auto colon = arg.find(':');
            std::vector<int> s;
            if (colon == std::string::npos || !parse(arg.substr(0, colon), 0, s))
                return "--card-rack-fault " + arg + ": expected SLOT:FAULT";
            CardConfig* c = card(s[0], "--card-rack-fault");
            if (!c->madiRack) return "--card-rack-fault " + arg + ": no rack on that card (--card-rack)";
            if (!applyRackFault(arg.substr(colon + 1), *c->madiRack)) return "--card-rack-fault " + arg + ": unknown fault";
        }
    } catch (const std::string& error) {
        return error;
    }
    return {};
}

} // namespace ravelin::sim
