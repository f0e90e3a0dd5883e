#include "host_board_options.h"

namespace ravelin::sim {

namespace {

// "PACKET:CODE" with PACKET a number from 0, "erase" or "finish".
bool applyError(const std::string& arg, FileUpdateBehaviour& update)
{
    const auto colon = arg.find(':');
    if (colon == std::string::npos) return false;
    const std::string where = arg.substr(0, colon);
    int code = 0, packet = -1;
    try {
        std::size_t used = 0;
        const std::string c = arg.substr(colon + 1);
        code = std::stoi(c, &used);
        if (used != c.size() || code < 1 || code > 255) return false;
        if (where != "erase" && where != "finish") {
            packet = std::stoi(where, &used);
            if (used != where.size() || packet < 0 || packet > 65535) return false;
        }
    } catch (...) {
        return false;
    }
    if (where == "erase") update.eraseError = code;
    else if (where == "finish") update.finishError = uint8_t(code);
    else update.errorPacket = packet, update.errorCode = uint8_t(code);
    return true;
}

} // namespace

std::string applyHostBoardOptions(const HostBoardOptionArgs& args, HostBoardConfig& board)
{
    for (const auto& arg : args.fpgaErrors)
        if (!applyError(arg, board.fpgaUpdate)) return "--host-fpga-error " + arg + ": expected PACKET:CODE (PACKET a number, erase or finish)";
    for (const auto& arg : args.usbAudioErrors)
        if (!applyError(arg, board.usbAudioUpdate)) return "--usb-audio-error " + arg + ": expected PACKET:CODE (PACKET a number, erase or finish)";
    for (int n : args.fpgaSilentAfter) board.fpgaUpdate.silentAfterPackets = n;
    for (int n : args.usbAudioSilentAfter) board.usbAudioUpdate.silentAfterPackets = n;
    for (int n : args.fpgaDrops) board.fpgaUpdate.dropAfterPackets = n;
    for (int n : args.usbAudioDrops) board.usbAudioUpdate.dropAfterPackets = n;
    board.bootLoaderAbsent = args.dfuAbsent;
    board.dfu.silentAtBlock = args.dfuSilentAt;
    board.dfu.goneAtBlock = args.dfuGoneAt;
    board.dfu.lastBlockStatus = uint8_t(args.dfuLastStatus);
    board.dfu.flipOffset = args.dfuFlip;
    return {};
}

} // namespace ravelin::sim
