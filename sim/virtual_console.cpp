#include "virtual_console.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace ravelin::sim {

namespace {

struct ModelFiles {
    const char* model;
    const char* program;
    const char* settings;
};

// The current console models and the files that identify them.
constexpr ModelFiles kModels[] = {
    {"KR50", "KR50.EXE", "KR50.INI"},       {"KR20", "KR20.EXE", "KR20.INI"},
    {"KR30", "KR30.EXE", "KR30.INI"},       {"KR40", "KR40.EXE", "KR40.INI"},
    {"KR10", "KR10.EXE", "KR10.INI"},       {"KR70", "KR70.EXE", "KR70.INI"},
    {"KR70-CS", "KR70-CS.EXE", "KR70-CS.INI"}, {"KR50X", "KR50X.EXE", "KR50X.INI"},
    {"KR60", "KR60.EXE", "KR60.INI"},       {"Merid7", "Merid7.exe", "Merid7.ini"},
    {"Merid8", "Merid8.exe", "Merid8.ini"}, {"Merid6", "Merid6.exe", "Merid6.ini"},
};

const ModelFiles* findModel(const std::string& model)
{
    for (const auto& m : kModels)
        if (model == m.model) return &m;
    return nullptr;
}

std::string timeStamp()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    std::tm tm{};
    localtime_r(&t, &tm);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec, int(ms));
    return buf;
}

std::vector<uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

// 127.x.y.z from the process id (up to 22 bits) and the count of consoles
// made in the process, so that no two live consoles share one.
std::string ownLoopbackAddress()
{
    static std::atomic<unsigned> made{0};
    const unsigned n = made++;
    const unsigned pid = unsigned(::getpid());
    const unsigned x = 1 + ((pid >> 16) & 63) + 64 * (n % 3);
    return "127." + std::to_string(x) + "." + std::to_string((pid >> 8) & 255) + "." + std::to_string(pid & 255);
}

} // namespace

std::string consoleProgramName(const std::string& model)
{
    const ModelFiles* m = findModel(model);
    return m ? m->program : model + ".EXE";
}

std::string consoleSettingsName(const std::string& model)
{
    const ModelFiles* m = findModel(model);
    return m ? m->settings : model + ".INI";
}

std::vector<PanelConfig> ConsoleConfig::defaultPanels()
{
    PanelConfig right;
    right.slot = 1;
    right.type = 64;
    right.version1 = 7;
    right.bootLoader.capable = true;

    PanelConfig left;
    left.slot = 2;
    left.type = 65;
    left.version1 = 7;
    left.bootLoader.capable = true;

    PanelConfig localIO;
    localIO.slot = 3;
    localIO.type = 150;
    localIO.version1 = 120; // above 100: the microcontroller variant
    localIO.fpgaDate = "14052019";
    localIO.bootLoader.capable = true;
    localIO.fileUpdate.enabled = true;

    PanelConfig gpio;
    gpio.slot = 4;
    gpio.type = 134;
    gpio.version1 = 11;

    return {right, left, localIO, gpio};
}

std::vector<CardConfig> ConsoleConfig::defaultCards()
{
    CardConfig madi;
    madi.slot = 0;
    madi.type = 20;
    madi.version = 5;
    madi.fpgaText = "22/04/2021";

    CardConfig adc;
    adc.slot = 1;
    adc.type = 21;
    adc.version = 5;
    adc.fpgaText = "03/11/2020";
    return {madi, adc};
}

PanelConfig* ConsoleConfig::panelOnSlot(int slot)
{
    for (auto& p : panels)
        if (p.slot == slot) return &p;
    return nullptr;
}

VirtualConsole::VirtualConsole(ConsoleConfig config) : config_(std::move(config))
{
    std::sort(config_.panels.begin(), config_.panels.end(),
              [](const PanelConfig& a, const PanelConfig& b) { return a.slot < b.slot; });
    for (const auto& pc : config_.panels) {
        const std::string prefix =
            "COM" + std::to_string(panelComNumber(pc)) + " slot " + std::to_string(pc.slot) + ": ";
        panels_.push_back(std::make_unique<SurfacePanel>(
            pc, [this, prefix](const std::string& text) { log(prefix + text); }));
    }
    // The cards listen on the engine's address; the engine takes one of its own now.
    if (!bindEngine()) throw std::runtime_error("no loopback address free for the engine port");
    cardAddress_ = config_.engineIPAddress.empty() ? ownLoopbackAddress() : config_.engineIPAddress;
    for (const auto& cc : config_.cards) {
        const std::string prefix = "card slot " + std::to_string(cc.slot) + ": ";
        cards_.push_back(std::make_unique<VirtualCard>(
            cc, cardAddress_, [this, prefix](const std::string& text) { log(prefix + text); }));
    }
    if (config_.hostBoard) {
        config_.engineComPort = config_.hostBoard->comPort;
        hostBoard_ = std::make_unique<HostBoard>(*config_.hostBoard, [this](const std::string& text) { log(text); });
        // ResetEngine reaches the engine, which numbers its messages afresh.
        if (engine_)
            hostBoard_->setEngineReset([engine = engine_.get()] {
                engine->reset();
                return uint8_t(1);
            });
    }
}

VirtualCard* VirtualConsole::card(int slot)
{
    for (auto& c : cards_)
        if (c->slot() == slot) return c.get();
    return nullptr;
}

VirtualConsole::~VirtualConsole()
{
    stop();
}

bool VirtualConsole::bindEngine()
{
    if (!config_.engine) return true;
    if (!engine_) {
        // A programmed download reports the date of the file it came from.
        VirtualEngineConfig ec = config_.engineConfig;
        ec.newCodeDates = {{2, config_.files.engineHostDate}, {3, config_.files.effectsDate},
                           {5, config_.files.engineFpgaDate}};
        engine_ = std::make_unique<VirtualEngine>(ec);
    }
    if (engine_->address().empty() && !engine_->bindLoopback()) return false;
    config_.engineIPAddress = engine_->address();
    return true;
}

SurfacePanel* VirtualConsole::panel(int slot)
{
    for (auto& p : panels_)
        if (p->slot() == slot) return p.get();
    return nullptr;
}

std::string VirtualConsole::devicePath(int slot) const
{
    for (const auto& p : panels_)
        if (p->slot() == slot) return p->devicePath();
    return {};
}

void VirtualConsole::log(const std::string& text)
{
    std::lock_guard lock(logMutex_);
    if (!config_.writeSimLog || folder_.empty()) return;
    std::ofstream out(folder_ / "Sim.log", std::ios::binary | std::ios::app);
    out << timeStamp() << ' ' << text << "\r\n";
}

bool VirtualConsole::fail(const std::string& text)
{
    lastError_ = text;
    return false;
}

void VirtualConsole::start()
{
    if (running_) return;
    if (!bindEngine()) throw std::runtime_error("no loopback address free for the engine port");
    try {
        for (auto& p : panels_) p->start();
        for (auto& c : cards_) c->start();
        if (hostBoard_) hostBoard_->start();
        if (engine_) engine_->start();
    } catch (...) {
        for (auto& p : panels_) p->stop();
        for (auto& c : cards_) c->stop();
        if (hostBoard_) hostBoard_->stop();
        throw;
    }
    running_ = true;
    std::filesystem::path folder;
    {
        std::lock_guard lock(logMutex_);
        folder = folder_;
    }
    if (!folder.empty()) {
        writeSerialIni(folder);
        for (auto& p : panels_)
            log("COM" + std::to_string(p->comNumber()) + " slot " + std::to_string(p->slot()) +
                ": serving on " + p->devicePath());
        for (auto& c : cards_)
            log("card slot " + std::to_string(c->slot()) + ": listening on " + c->address() + ":" +
                std::to_string(c->port()));
    }
}

void VirtualConsole::stop()
{
    for (auto& p : panels_) p->stop();
    for (auto& c : cards_) c->stop();
    if (hostBoard_) hostBoard_->stop();
    if (engine_) engine_->stop();
    running_ = false;
}

bool VirtualConsole::writeSerialIni(const std::filesystem::path& dir)
{
    std::vector<std::string> lines{"[SerialPorts]"};
    for (const auto& p : panels_) {
        const std::string s = std::to_string(p->slot());
        lines.push_back("ComPort" + s + "=" + std::to_string(p->comNumber()));
        lines.push_back("BaudRate" + s + "=115200");
    }
    // The program finds the device behind a COM number here; a folder written
    // without running panels has none, and its ports stay closed.
    std::vector<std::string> paths;
    for (const auto& p : panels_) {
        const std::string path = p->devicePath();
        if (!path.empty()) paths.push_back("COM" + std::to_string(p->comNumber()) + "=" + path);
    }
    // The host board's line, and the socket its USB boot loader answers on.
    if (hostBoard_ && !hostBoard_->devicePath().empty()) {
        paths.push_back("COM" + std::to_string(hostBoard_->comNumber()) + "=" + hostBoard_->devicePath());
        paths.push_back("DFU=" + hostBoard_->dfuSocketPath());
    }
    if (!paths.empty()) {
        lines.push_back("");
        lines.push_back("[DevicePaths]");
        lines.insert(lines.end(), paths.begin(), paths.end());
    }
    if (!writeTextLines(dir / "Serial.ini", lines)) return fail("cannot write " + (dir / "Serial.ini").string());
    return true;
}

bool VirtualConsole::writeFolder(const std::filesystem::path& dir)
{
    std::error_code ec;
    std::filesystem::create_directories(dir / "Ostra", ec);
    if (!ec && config_.writeRacks) std::filesystem::create_directories(dir / "Racks", ec);
    if (ec) return fail("cannot create " + dir.string() + ": " + ec.message());

    if (!bindEngine()) return fail("no loopback address free for the engine port");
    const FileVersions& v = config_.files;
    const std::string& model = config_.model;

    // The console software's own files.
    const std::string program = "virtual " + model + " console program\r\n";
    if (!writeBinaryFile(dir / consoleProgramName(model), bytesOf(program)))
        return fail("cannot write " + consoleProgramName(model));
    if (!writeTextLines(dir / consoleSettingsName(model),
                        {"[" + model + "]", "EngineIPAddress=" + config_.engineIPAddress,
                         "EngineComPort=" + std::to_string(config_.engineComPort)}))
        return fail("cannot write " + consoleSettingsName(model));

    struct Binary {
        std::string name;
        std::vector<uint8_t> bytes;
        const Date* fileDate;
    };
    const std::vector<Binary> binaries = {
        // Engine code: the program compares the files' own dates.
        {"SP6v.bin", markerImage(96 * 1024, {}, "SP6 host", 0x5106), &v.engineHostDate},
        {"SP6e.bit", bitFileImage("sp6_engine", v.engineFpgaDate, 64 * 1024, 0x5e6e), &v.engineFpgaDate},
        {"FX1.bin", markerImage(48 * 1024, {}, "FX1 effects", 0xf1f1), &v.effectsDate},
        // Engine host board.
        {"CorvaneTiva.dfu",
         dfuFileImage(markerImage(40 * 1024, {v.hostFirmware}, "Corvane host interface", 0xc0de),
                      DfuDeviceConfig{}.appStart, 0x1CBE, 0x00FF),
         nullptr},
        {"Corvane_Interface_FPGA.bit", bitFileImage("corvane_interface", v.hostFpgaDate, 48 * 1024, 0xcf9a), nullptr},
        {"xmos.bin", markerImage(32 * 1024, {}, "USB audio", 0x0a0d), nullptr},
        // Surface.
        {"KR60worksurface.bin", markerImage(24 * 1024, {v.worksurface}, "KR60 work surface", 0x6060), nullptr},
        {"tarvola_local_io_mk2.bin", markerImage(20 * 1024, {v.localIOTiva}, "Local IO mk2", 0x1012), nullptr},
        {"tarvola_local_io_mk2_FPGA.bit", bitFileImage("local_io_mk2", v.localIOFpgaDate, 32 * 1024, 0x10f9), nullptr},
        // Interface cards.
        {"Ostra/tarvola_ostra.bin", markerImage(24 * 1024, {v.cardFirmware}, "Ostra card", 0x0577), nullptr},
        {"Ostra/tarvola_ostra_madi.bin", markerImage(24 * 1024, {v.cardMadiFirmware}, "Ostra MADI card", 0x05ad), nullptr},
        {"Ostra/tarvola_ostra_MADI_fpga.bit", bitFileImage("ostra_madi", v.cardMadiFpgaDate, 32 * 1024, 0x05f9), nullptr},
    };
    for (const auto& b : binaries) {
        if (!writeBinaryFile(dir / b.name, b.bytes)) return fail("cannot write " + b.name);
        if (b.fileDate && !setFileDate(dir / b.name, *b.fileDate)) return fail("cannot date " + b.name);
    }
    if (config_.writeRacks) {
        const std::vector<Binary> racks = {
            {"Racks/Rack.bin", rackCodeImage(v.rackCodeDate, 64 * 1024, 0x7ac0), nullptr},
            {"Racks/Rack.bit", bitFileImage("rack", v.rackFpgaDate, 32 * 1024, 0x7ab1), nullptr},
            {"Racks/NRack.bin", markerImage(64 * 1024, {v.nRackMajor, v.nRackMinor}, "N rack", 0x2a2a), nullptr},
        };
        for (const auto& b : racks)
            if (!writeBinaryFile(dir / b.name, b.bytes)) return fail("cannot write " + b.name);
    }

    // Panel code in Intel-HEX text.
    if (!writeTextLines(dir / "KR60LocalIO.hex", panelHexLines(config_.hexLines, v.localIOHex, 0x150)))
        return fail("cannot write KR60LocalIO.hex");
    if (!writeTextLines(dir / "KR60GPIO.hex", panelHexLines(config_.hexLines, v.gpioHex, 0x134)))
        return fail("cannot write KR60GPIO.hex");

    if (!writeSerialIni(dir)) return false;
    {
        std::lock_guard lock(logMutex_);
        folder_ = dir;
    }
    log("folder written for " + model + " with " + std::to_string(panels_.size()) + " panels");
    return true;
}

} // namespace ravelin::sim
