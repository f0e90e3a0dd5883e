#pragma once
// The virtual console: a program folder as the console software leaves it, and
// the console's devices answering on their links from the devices' side. It
// serves demonstrations, rehearsals and training, and is the fixture of the
// integration tests.

#include "card_server.h"
#include "host_board.h"
#include "panel_protocol.h"
#include "surface_panel.h"
#include "update_files.h"
#include "virtual_engine.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ravelin::sim {

// The versions the update files carry. Numbers are the byte the program reads
// after the word "version"; dates of engine files are the files' own dates,
// dates of bit files stand in their headers, the rack code date is BCD.
struct FileVersions {
    Date engineHostDate{2023, 6, 12};   // "SP6v.bin" (file date)
    Date engineFpgaDate{2023, 6, 12};   // "SP6e.bit" (file date)
    Date effectsDate{2022, 2, 3};       // "FX1.bin" (file date)
    uint8_t hostFirmware = 14;          // "CorvaneTiva.dfu"
    Date hostFpgaDate{2022, 3, 8};      // "Corvane_Interface_FPGA.bit"
    uint8_t worksurface = 8;            // "KR60worksurface.bin" (panel types 64, 65)
    uint8_t localIOHex = 25;            // "KR60LocalIO.hex"
    uint8_t localIOTiva = 121;          // "tarvola_local_io_mk2.bin"
    Date localIOFpgaDate{2020, 11, 3};  // "tarvola_local_io_mk2_FPGA.bit"
    uint8_t gpioHex = 12;               // "KR60GPIO.hex"
    uint8_t cardFirmware = 5;           // "Ostra/tarvola_ostra.bin"
    uint8_t cardMadiFirmware = 6;       // "Ostra/tarvola_ostra_madi.bin"
    Date cardMadiFpgaDate{2021, 4, 22}; // "Ostra/tarvola_ostra_MADI_fpga.bit"
    Date rackCodeDate{2018, 8, 15};     // "Racks/Rack.bin" (BCD at 1542)
    Date rackFpgaDate{2018, 8, 15};     // "Racks/Rack.bit"
    uint8_t nRackMajor = 1;          // "Racks/NRack.bin", two bytes: 1.9
    uint8_t nRackMinor = 9;
};

struct ConsoleConfig {
    std::string model = "KR60";         // names the console program and settings file
    std::vector<PanelConfig> panels = defaultPanels();
    FileVersions files;
    int hexLines = 400;                 // lines of each ".hex" panel code file
    std::string engineIPAddress;        // settings file; empty = no engine link
    int engineComPort = 0;              // settings file; 0 = no host board link
    bool writeRacks = true;             // write the "Racks" sub-folder
    bool writeSimLog = true;            // "Sim.log" in the folder: what each panel received
    std::vector<CardConfig> cards = defaultCards(); // interface cards in the engine's slots
    // The engine host board; its port becomes "EngineComPort" of the settings file.
    std::optional<HostBoardConfig> hostBoard;
    // The audio engine on port 52000 of a loopback address of its own, which
    // then goes into the settings file as EngineIPAddress.
    bool engine = false;
    VirtualEngineConfig engineConfig;

    // The KR60 surface: slot 1 type 64 version 7, slot 2 type 65 version 7,
    // slot 3 type 150 (local I/O, microcontroller variant) version 120 with FPGA
    // date "14052019", slot 4 type 134 (GPIO) version 11.
    static std::vector<PanelConfig> defaultPanels();
    // Slot 0: a MADI card (type 20) with firmware 5 and FPGA "22/04/2021";
    // slot 1: an ADC card (type 21) with firmware 5.
    static std::vector<CardConfig> defaultCards();
    // The panel on a slot, or null.
    PanelConfig* panelOnSlot(int slot);
};

// Console program and settings file names of a model ("KR60" -> "KR60.EXE",
// "KR60.INI"; "Merid7" -> "Merid7.exe", "Merid7.ini").
std::string consoleProgramName(const std::string& model);
std::string consoleSettingsName(const std::string& model);

class VirtualConsole {
public:
    explicit VirtualConsole(ConsoleConfig config = {});
    ~VirtualConsole();
    VirtualConsole(const VirtualConsole&) = delete;
    VirtualConsole& operator=(const VirtualConsole&) = delete;

    // Writes a ready program folder (created if needed). Serial.ini lists the
    // pseudo-terminal of every panel under [DevicePaths] when the panels are
    // running; start() after writeFolder() rewrites Serial.ini with them.
    // False, with lastError(), when a file cannot be written.
    bool writeFolder(const std::filesystem::path& dir);
    // Writes only Serial.ini into the folder.
    bool writeSerialIni(const std::filesystem::path& dir);
    const std::string& lastError() const { return lastError_; }

    // Opens a pseudo-terminal per panel and serves them. Throws
    // std::system_error when a pseudo-terminal cannot be opened.
    void start();
    void stop();
    bool running() const { return running_; }

    const ConsoleConfig& config() const { return config_; }
    // The panel on a slot, or null.
    SurfacePanel* panel(int slot);
    const std::vector<std::unique_ptr<SurfacePanel>>& panels() const { return panels_; }
    // The path the program opens for a slot; empty when not serving.
    std::string devicePath(int slot) const;
    // The host board, or null when the console has none.
    HostBoard* hostBoard() { return hostBoard_.get(); }

    // The interface card in an engine slot (0 or 1), or null.
    VirtualCard* card(int slot);
    // Where the cards listen: the settings' engine address when one is set,
    // else a loopback address of this console's own, so that consoles on one
    // machine never share the cards' fixed ports.
    const std::string& cardAddress() const { return cardAddress_; }
    // The engine (null without one) and its address, on which the interface
    // cards also listen (ports 52001, 52002). The address is chosen by
    // writeFolder() or start(), whichever comes first.
    VirtualEngine* engine() { return engine_.get(); }
    std::string engineAddress() const { return engine_ ? engine_->address() : std::string(); }

private:
    void log(const std::string& text);
    bool fail(const std::string& text);

    ConsoleConfig config_;
    std::vector<std::unique_ptr<SurfacePanel>> panels_;
    std::string cardAddress_;
    std::vector<std::unique_ptr<VirtualCard>> cards_;
    std::unique_ptr<HostBoard> hostBoard_;
    std::unique_ptr<VirtualEngine> engine_;
    bool bindEngine();
    std::filesystem::path folder_;
    std::mutex logMutex_;
    std::string lastError_;
    bool running_ = false;
};

} // namespace ravelin::sim
