// ravelin-sim: a virtual console for demonstrations, rehearsals, training and
// the integration tests. It writes a program folder and serves the console's
// surface panels on pseudo-terminals until it is interrupted.

#include "boot_loader_options.h"
#include "card_options.h"
#include "host_board_options.h"
#include "rack_options.h"
#include "virtual_console.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

using namespace ravelin::sim;

namespace {

std::vector<std::string> splitFields(const std::string& text, char sep)
{
    std::vector<std::string> out;
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, sep)) out.push_back(item);
    if (!text.empty() && text.back() == sep) out.push_back("");
    return out;
}

bool toInt(const std::string& s, int lo, int hi, int& value)
{
    if (s.empty()) return false;
    try {
        std::size_t used = 0;
        long v = std::stol(s, &used, 10);
        if (used != s.size() || v < lo || v > hi) return false;
        value = int(v);
        return true;
    } catch (...) {
        return false;
    }
}

[[noreturn]] void usageError(const std::string& text)
{
    std::cerr << "ravelin-sim: " << text << "\n";
    std::exit(2);
}

// SLOT:TYPE:VERSION[:FPGADATE], VERSION is "7" or "1.2" for two version bytes.
PanelConfig parsePanel(const std::string& arg)
{
    const auto f = splitFields(arg, ':');
    PanelConfig p;
    int slot, type, v1, v2 = 0;
    if (f.size() < 3 || f.size() > 4 || !toInt(f[0], 0, 7, slot) || !toInt(f[1], 0, 255, type))
        usageError("--panel " + arg + ": expected SLOT:TYPE:VERSION[:DDMMYYYY]");
    const auto v = splitFields(f[2], '.');
    if (v.empty() || v.size() > 2 || !toInt(v[0], 0, 255, v1) || (v.size() == 2 && !toInt(v[1], 0, 255, v2)))
        usageError("--panel " + arg + ": VERSION is 0..255 or two of them as V1.V2");
    p.slot = slot;
    p.type = uint8_t(type);
    p.version1 = uint8_t(v1);
    p.version2 = uint8_t(v2);
    if (f.size() == 4) {
        if (f[3].size() != 8 || f[3].find_first_not_of("0123456789") != std::string::npos)
            usageError("--panel " + arg + ": the FPGA date is 8 digits, ddmmyyyy");
        p.fpgaDate = f[3];
    } else if (isLocalIOType(p.type)) {
        p.fpgaDate = "14052019";
    }
    return p;
}

// SLOT:TYPE:VERSION[:FPGATEXT] for an interface card.
CardConfig parseCard(const std::string& arg)
{
    const auto f = splitFields(arg, ':');
    int slot, type, version;
    if (f.size() < 3 || f.size() > 4 || !toInt(f[0], 0, 1, slot) || !toInt(f[1], 0, 255, type) ||
        !toInt(f[2], 0, 255, version))
        usageError("--card " + arg + ": expected SLOT:TYPE:VERSION[:FPGATEXT], SLOT 0 or 1");
    CardConfig c;
    c.slot = slot;
    c.type = uint8_t(type);
    c.version = uint8_t(version);
    if (f.size() == 4) {
        if (f[3].size() > 10) usageError("--card " + arg + ": the FPGA text has at most ten characters");
        c.fpgaText = f[3];
    }
    return c;
}

CardConfig* cardOnSlot(ConsoleConfig& config, int slot, const std::string& option)
{
    for (auto& c : config.cards)
        if (c.slot == slot) return &c;
    usageError(option + " " + std::to_string(slot) + ": no card in that slot");
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{
        "ravelin-sim: a virtual console for the Ravelin update utility.\n"
        "Writes a ready program folder (console program, settings file, Serial.ini and\n"
        "update files with known versions) and serves the surface panels on\n"
        "pseudo-terminals listed in Serial.ini under [DevicePaths]. Prints \"ready\" when\n"
        "the panels answer and serves until SIGINT or SIGTERM. Default surface: slot 1\n"
        "type 64 v7, slot 2 type 65 v7, slot 3 type 150 v120 (FPGA 14052019), slot 4 type\n"
        "134 v11; see sim/README.md for the file versions."};

    std::string folder;
    int hexLines = 400;
    std::vector<std::string> panelArgs, rejectArgs;
    std::vector<int> silentSlots;
    bool writeOnly = false, noDefaultPanels = false, noLog = false;
    std::string model = "KR60", engineIp;
    int engineCom = 0;
    std::vector<std::string> cardArgs, cardDropArgs;
    std::vector<int> cardBootSlots, cardSilentSlots, cardNoCtsSlots;
    bool noCards = false;
    int hostBoardCom = 6;
    bool noHostBoard = false;
    int hostFirmware = 13;

    app.add_option("--folder", folder, "Program folder to write (created if needed)")->required();
    app.add_option("--hex-lines", hexLines, "Lines of each .hex panel code file")
        ->check(CLI::Range(3, 1000000))->capture_default_str();
    app.add_option("--panel", panelArgs,
                   "SLOT:TYPE:VERSION[:DDMMYYYY] puts a panel on a slot (replacing the default one);\n"
                   "VERSION is a byte or V1.V2; the date is a local I/O unit's FPGA date")
        ->take_all();
    app.add_flag("--no-default-panels", noDefaultPanels, "Start from no panels; only --panel ones serve");
    app.add_option("--reject", rejectArgs,
                   "SLOT:LINE:TIMES:CODE the panel rejects hex line LINE (1-based) TIMES times with CODE, then takes it")
        ->take_all();
    app.add_option("--silent", silentSlots, "SLOT the panel never answers hex lines")->take_all();
    app.add_option("--model", model, "Console model (console program and settings file names)")
        ->capture_default_str();
    app.add_option("--engine-ip", engineIp, "EngineIPAddress in the settings file, for an engine elsewhere (no virtual engine then)");
    app.add_option("--engine-com", engineCom, "EngineComPort in the settings file (default 0)");
    app.add_option("--card", cardArgs,
                   "SLOT:TYPE:VERSION[:FPGATEXT] puts an interface card in engine slot 0 or 1 (replacing\n"
                   "the default one); FPGATEXT is the ten-character FPGA text it reports")
        ->take_all();
    app.add_flag("--no-cards", noCards, "Start from empty card slots; only --card ones serve");
    app.add_option("--card-bootloader", cardBootSlots, "SLOT the card waits in its boot loader from the start")
        ->take_all();
    app.add_option("--card-silent", cardSilentSlots, "SLOT the card accepts the connection but answers nothing")
        ->take_all();
    app.add_option("--card-drop", cardDropArgs, "SLOT:POLLS the card closes the connection at poll POLLS")
        ->take_all();
    app.add_option("--card-no-cts", cardNoCtsSlots, "SLOT the card never sends ClearToSend")->take_all();
    app.add_option("--host-board", hostBoardCom,
                   "COM serve the engine host board on this port number (EngineComPort) with its USB\n"
                   "boot loader on a Unix socket (Serial.ini [DevicePaths] DFU=)")
        ->check(CLI::Range(1, 255))->capture_default_str();
    app.add_flag("--no-host-board", noHostBoard, "Serve no engine host board (EngineComPort stays --engine-com)");
    app.add_option("--host-firmware", hostFirmware, "Firmware version the host board runs at first")
        ->check(CLI::Range(1, 255))->capture_default_str();
    app.add_flag("--no-log", noLog, "Do not write Sim.log in the folder");
    BootLoaderOptionArgs bootLoaderArgs;
    app.add_option("--boot-loader", bootLoaderArgs.capable, "SLOT the panel has a boot loader (0x03 enters it)")->take_all();
    app.add_option("--no-boot-loader", bootLoaderArgs.none, "SLOT the panel has no boot loader")->take_all();
    app.add_option("--in-boot-loader", bootLoaderArgs.startIn, "SLOT the panel starts in its boot loader")->take_all();
    app.add_option("--bl-nak", bootLoaderArgs.naks, "SLOT:PACKET:TIMES the boot loader NAKs packet PACKET (1-based) TIMES times")
        ->take_all();
    app.add_option("--bl-status", bootLoaderArgs.statuses,
                   "SLOT:DATAPACKET:STATUS the status after data packet DATAPACKET (1-based) is STATUS (0x44 = 68 flash failure)")
        ->take_all();
    app.add_option("--bl-silent", bootLoaderArgs.silent, "SLOT:DATAPACKETS the boot loader falls silent after that many data packets")
        ->take_all();
    app.add_option("--fpga-error", bootLoaderArgs.fpgaErrors,
                   "SLOT:PACKET:CODE the local I/O unit answers FPGA packet PACKET (from 0, or erase) with error CODE")
        ->take_all();
    app.add_option("--fpga-silent", bootLoaderArgs.fpgaSilent, "SLOT the local I/O unit never answers the FPGA update")->take_all();
    app.add_option("--fpga-silent-after", bootLoaderArgs.fpgaSilentAfter,
                   "SLOT:PACKETS the local I/O unit answers nothing more after that many FPGA packets")->take_all();
    app.add_option("--silent-after", bootLoaderArgs.hexSilentAfter,
                   "SLOT:LINES the panel answers no hex line once it has taken LINES of an update")->take_all();
    app.add_option("--panel-drop", bootLoaderArgs.drops,
                   "SLOT:MESSAGES the panel's pseudo-terminal closes after that many update messages\n"
                   "(hex lines, boot-loader data packets, FPGA packets)")->take_all();
    HostBoardOptionArgs hostArgs;
    // The host board's two file updates take the same faults.
    auto fileUpdateFaults = [&](const std::string& prefix, const std::string& what, std::vector<std::string>& errors,
                                std::vector<int>& silent, std::vector<int>& drops) {
        app.add_option(prefix + "-error", errors,
                       "PACKET:CODE the host board answers " + what + " packet PACKET (from 0, erase or finish) with CODE")
            ->take_all();
        app.add_option(prefix + "-silent", silent,
                       "PACKETS the host board answers nothing more of the " + what + " update after that many packets")
            ->take_all();
        app.add_option(prefix + "-drop", drops,
                       "PACKETS the host board's pseudo-terminal closes after that many " + what + " packets")
            ->take_all();
    };
    fileUpdateFaults("--host-fpga", "FPGA", hostArgs.fpgaErrors, hostArgs.fpgaSilentAfter, hostArgs.fpgaDrops);
    fileUpdateFaults("--usb-audio", "USB-audio", hostArgs.usbAudioErrors, hostArgs.usbAudioSilentAfter,
                     hostArgs.usbAudioDrops);
    app.add_flag("--dfu-absent", hostArgs.dfuAbsent, "On Boot the host board goes quiet but its USB boot loader never opens");
    app.add_option("--dfu-silent", hostArgs.dfuSilentAt,
                   "BLOCK the USB boot loader answers nothing from that block of a program download on (from 1)");
    app.add_option("--dfu-flip", hostArgs.dfuFlip,
                   "OFFSET this flash byte (from the application start) reads back changed");
    app.add_option("--dfu-gone", hostArgs.dfuGoneAt, "BLOCK the USB boot loader disappears at that block of a program download");
    app.add_option("--dfu-last-status", hostArgs.dfuLastStatus,
                   "STATUS the last block of a program download ends in dfuERROR with STATUS")
        ->check(CLI::Range(1, 255));

    bool engine = true, refuseDownload = false;
    VirtualEngineConfig ec;
    std::vector<std::string> rackArgs, rackFaultArgs;
    app.add_flag("--engine,!--no-engine", engine,
                 "Serve the audio engine (the default) on port 52000 of a loopback address of its own\n"
                 "(written as EngineIPAddress; replaces --engine-ip); --no-engine serves none");
    app.add_option("--engine-refuse", ec.refuseMs, "MS the engine refuses connections for MS after start");
    app.add_option("--engine-drop", ec.dropAfterMessages, "N the engine drops the first connection after N messages");
    app.add_option("--engine-silent-packet", ec.silentPacket, "N packet N of a download gets no answer (once)");
    app.add_option("--engine-send-again", ec.sendAgainPacket, "N packet N is answered \"send again\"");
    app.add_option("--engine-send-again-times", ec.sendAgainTimes, "TIMES how often (default 1)");
    app.add_option("--engine-checksum-error", ec.checksumErrorPacket, "N packet N is answered \"checksum error\" (once)");
    app.add_option("--engine-flash-error", ec.flashError, "CODE 9..17 the flash programming fails with CODE")
        ->check(CLI::Range(9, 17));
    app.add_flag("--engine-refuse-download", refuseDownload, "The engine refuses every engine code download");
    app.add_flag("--engine-silent-download", ec.silentDownload, "The engine never answers an engine code download start");
    app.add_option("--engine-delay", ec.replyDelayMs, "MS every engine answer leaves MS later");
    app.add_option("--rack", rackArgs, "PORT:TYPE[:KIND] a rack on an engine port (default one rack, 42:1:0)")
        ->take_all();
    app.add_option("--rack-fault", rackFaultArgs,
                   "PORT:refuse-start:N | PORT:refuse-packet:PACKET:TIMES | PORT:wrong-check | PORT:flash:CODE |\n"
                   "PORT:silent-packet:PACKET | PORT:drop-packet:PACKET")
        ->take_all();
    CardOptionArgs cardOptionArgs;
    app.add_option("--card-bl-nak", cardOptionArgs.naks, "SLOT:PACKET:TIMES the card's boot loader NAKs packet PACKET (1-based) TIMES times")
        ->take_all();
    app.add_option("--card-bl-status", cardOptionArgs.statuses, "SLOT:DATAPACKET:STATUS the card's status after that data packet")
        ->take_all();
    app.add_option("--card-bl-silent", cardOptionArgs.silent, "SLOT:DATAPACKETS the card's boot loader falls silent after that many")
        ->take_all();
    app.add_option("--card-bl-drop", cardOptionArgs.drops, "SLOT:DATAPACKETS the card's boot loader closes the connection after that many")
        ->take_all();
    app.add_option("--card-fpga-error", cardOptionArgs.fpgaErrors,
                   "SLOT:PACKET:CODE the card answers FPGA packet PACKET (from 0, or erase) with error CODE")
        ->take_all();
    app.add_option("--card-fpga-silent", cardOptionArgs.fpgaSilent, "SLOT the card never answers the FPGA update")->take_all();
    app.add_option("--card-rack", cardOptionArgs.racks, "SLOT a rack on the card's MADI ports")->take_all();
    app.add_option("--card-rack-fault", cardOptionArgs.rackFaults, "SLOT:FAULT a fault of the card's rack, as --rack-fault")
        ->take_all();
    app.add_option("--card-fpga-silent-after", cardOptionArgs.fpgaSilentAfter,
                   "SLOT:PACKETS the card answers nothing more of its FPGA update after that many packets")->take_all();
    app.add_option("--card-fpga-drop", cardOptionArgs.fpgaDrops,
                   "SLOT:PACKETS the card closes the connection after that many FPGA packets")->take_all();
    app.add_flag("--write-only", writeOnly, "Write the folder (Serial.ini without [DevicePaths]) and exit");

    CLI11_PARSE(app, argc, argv);

    ConsoleConfig config;
    config.model = model;
    config.hexLines = hexLines;
    config.engineIPAddress = engineIp;
    config.engineComPort = engineCom;
    config.writeSimLog = !noLog;
    if (!noHostBoard) {
        HostBoardConfig board;
        board.comPort = hostBoardCom;
        board.firmware = uint8_t(hostFirmware);
        if (const std::string error = applyHostBoardOptions(hostArgs, board); !error.empty()) usageError(error);
        config.hostBoard = board;
    }
    if (noDefaultPanels) config.panels.clear();
    for (const auto& arg : panelArgs) {
        PanelConfig p = parsePanel(arg);
        if (PanelConfig* old = config.panelOnSlot(p.slot))
            *old = p;
        else
            config.panels.push_back(p);
    }
    for (const auto& arg : rejectArgs) {
        const auto f = splitFields(arg, ':');
        int slot, line, times, code;
        if (f.size() != 4 || !toInt(f[0], 0, 7, slot) || !toInt(f[1], 1, 1000000, line) ||
            !toInt(f[2], 0, 1000000, times) || !toInt(f[3], 1, 255, code))
            usageError("--reject " + arg + ": expected SLOT:LINE:TIMES:CODE (LINE from 1, CODE 1..255)");
        PanelConfig* p = config.panelOnSlot(slot);
        if (!p) usageError("--reject " + arg + ": no panel on slot " + f[0]);
        p->hex.rejectLine = line;
        p->hex.rejectTimes = times;
        p->hex.rejectCode = uint8_t(code);
    }
    for (int slot : silentSlots) {
        PanelConfig* p = config.panelOnSlot(slot);
        if (!p) usageError("--silent " + std::to_string(slot) + ": no panel on that slot");
        p->hex.silent = true;
    }

    if (noCards) config.cards.clear();
    for (const auto& arg : cardArgs) {
        CardConfig c = parseCard(arg);
        bool replaced = false;
        for (auto& old : config.cards)
            if (old.slot == c.slot) old = c, replaced = true;
        if (!replaced) config.cards.push_back(c);
    }
    for (int slot : cardBootSlots) cardOnSlot(config, slot, "--card-bootloader")->startInBootLoader = true;
    for (int slot : cardSilentSlots) cardOnSlot(config, slot, "--card-silent")->silent = true;
    for (int slot : cardNoCtsSlots) cardOnSlot(config, slot, "--card-no-cts")->grantClearToSend = false;
    for (const auto& arg : cardDropArgs) {
        const auto f = splitFields(arg, ':');
        int slot, polls;
        if (f.size() != 2 || !toInt(f[0], 0, 1, slot) || !toInt(f[1], 1, 1000000, polls))
            usageError("--card-drop " + arg + ": expected SLOT:POLLS");
        cardOnSlot(config, slot, "--card-drop")->dropAfterPolls = polls;
    }
    if (const std::string error = applyBootLoaderOptions(bootLoaderArgs, config); !error.empty()) usageError(error);
    // An address given names an engine elsewhere: the virtual one stays away.
    config.engine = engine && engineIp.empty();
    ec.refuseDownload = refuseDownload;
    if (!rackArgs.empty()) ec.racks.clear();
    for (const auto& arg : rackArgs) {
        const auto f = splitFields(arg, ':');
        int port, type, kind = 0;
        if (f.size() < 2 || f.size() > 3 || !toInt(f[0], 1, 255, port) || !toInt(f[1], 0, 65535, type) ||
            (f.size() == 3 && !toInt(f[2], 0, 255, kind)))
            usageError("--rack " + arg + ": expected PORT:TYPE[:KIND]");
        VirtualRackConfig r;
        r.port = port;
        r.rackType = uint16_t(type);
        r.kind = uint8_t(kind);
        ec.racks.push_back(r);
    }
    for (const auto& arg : rackFaultArgs) {
        const auto f = splitFields(arg, ':');
        int port;
        VirtualRackConfig* r = nullptr;
        if (f.size() >= 2 && toInt(f[0], 1, 255, port))
            for (auto& x : ec.racks)
                if (x.port == port) r = &x;
        if (!r) usageError("--rack-fault " + arg + ": no rack on that port");
        if (!applyRackFault(arg.substr(arg.find(':') + 1), *r)) usageError("--rack-fault " + arg + ": unknown fault");
    }
    config.engineConfig = ec;
    if (const std::string error = applyCardOptions(cardOptionArgs, config); !error.empty()) usageError(error);

    VirtualConsole console(config);
    if (writeOnly) {
        if (!console.writeFolder(folder)) {
            std::cerr << "ravelin-sim: " << console.lastError() << "\n";
            return 1;
        }
        std::cout << "wrote " << folder << std::endl;
        return 0;
    }

    // The panels' threads must not take the stop signals: the main thread
    // waits for them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    if (!console.writeFolder(folder)) {
        std::cerr << "ravelin-sim: " << console.lastError() << "\n";
        return 1;
    }
    // Starting rewrites Serial.ini with the panels' device paths.
    try {
        console.start();
    } catch (const std::exception& e) {
        std::cerr << "ravelin-sim: cannot open a pseudo-terminal or a card port: " << e.what() << "\n";
        return 1;
    }
    for (const auto& p : console.panels())
        std::cerr << "slot " << p->slot() << " COM" << p->comNumber() << " type "
                  << int(p->config().type) << " version " << int(p->version1()) << " on "
                  << p->devicePath() << "\n";
    for (const auto& c : config.cards)
        std::cerr << "card slot " << c.slot << " type " << int(c.type) << " version " << int(c.version)
                  << " on " << console.cardAddress() << ":" << (kCardBasePort + c.slot) << "\n";
    if (HostBoard* board = console.hostBoard())
        std::cerr << "host board COM" << board->comNumber() << " firmware " << int(board->firmware()) << " on "
                  << board->devicePath() << ", boot loader on " << board->dfuSocketPath() << "\n";
    if (console.engine())
        std::cerr << "engine on " << console.engineAddress() << ":" << kEngineTcpPort << "\n";
    std::cout << "ready" << std::endl;

    int sig = 0;
    sigwait(&stopSignals, &sig);
    console.stop();
    return 0;
}
