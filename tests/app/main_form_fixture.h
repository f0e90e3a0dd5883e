#pragma once
// A main window in virtual time over a folder of its own, with fake serial
// lines and a panel model that answers the way a panel does.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/main_unit.h"
#include "platform/virtual_event_loop.h"
#include "surface/fake_com.h"
#include "surface/isa_serial.h"

namespace ravelin::app::testing {

namespace fs = std::filesystem;

inline void WriteFile(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

inline std::string ReadFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t e = text.find("\r\n", pos);
        if (e == std::string::npos) e = text.size();
        out.push_back(text.substr(pos, e - pos));
        pos = e + 2;
    }
    return out;
}

// A panel on one fake line: answers polls with its identity and hex lines
// with a scripted result (0 accepted; -1 silent).
struct PanelModel {
    std::shared_ptr<surface::testing::FakeLine> line;
    int type = 134;
    int version = 11;
    std::vector<std::string> hexLines;            // every line received, in order
    // Result for the n-th distinct line (from 1) on its k-th sending (from 0).
    std::function<int(int lineNumber, int attempt)> hexResult = [](int, int) { return 0; };
    int lineNumber = 0;
    int attempt = 0;
    int polls = 0;
    std::string pending;

    static std::string Frame(const std::string& body) {
        std::string f(1, static_cast<char>(body.size() + 1));
        f += body;
        unsigned sum = 0;
        for (unsigned char c : f) sum += c;
        f += static_cast<char>(sum & 0xFF);
        return f;
    }

    void Serve() {
        pending += line->takeWritten();
        for (;;) {
            while (!pending.empty() && (pending[0] == 0 || pending[0] == 0x55)) pending.erase(0, 1);
            if (pending.empty()) return;
            size_t len = static_cast<unsigned char>(pending[0]);
            if (pending.size() < len + 1) return;
            std::string body = pending.substr(1, len - 1);
            pending.erase(0, len + 1);
            if (body.empty()) continue;
            if (body[0] == 0x04) {
                ++polls;
                line->feed(Frame(std::string{0x04, 0x00, static_cast<char>(type), static_cast<char>(version), 0}));
            } else if (body[0] == 0x09) {
                std::string text = body.substr(1);
                if (hexLines.empty() || hexLines.back() != text) {
                    ++lineNumber;
                    attempt = 0;
                } else {
                    ++attempt;
                }
                hexLines.push_back(text);
                int result = hexResult(lineNumber, attempt);
                if (result >= 0) line->feed(Frame(std::string{0x09, static_cast<char>(result)}));
            }
        }
    }
};

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int n = 0;
        folder = fs::temp_directory_path() / ("Ravelin-Form-" + std::to_string(::getpid()) + "-" + std::to_string(n++));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override {
        form.reset();
        fs::remove_all(folder);
    }

    void Kr60(const std::string& ini = "[KR60]\r\nEngineIPAddress=\r\nEngineComPort=0\r\n") {
        WriteFile(folder / "KR60.EXE", "");
        WriteFile(folder / "KR60.INI", ini);
    }
    void SerialPorts(const std::map<int, int>& slotToCom) {
        std::string ini = "[SerialPorts]\r\n";
        for (auto [slot, com] : slotToCom) {
            ini += "ComPort" + std::to_string(slot) + "=" + std::to_string(com) + "\r\n";
            ports.add(com);
        }
        WriteFile(folder / "Serial.ini", ini);
    }
    PanelModel& Panel(int com, int type, int version) {
        PanelModel& p = panels[com];
        p.line = ports.lines.at(com);
        p.type = type;
        p.version = version;
        return p;
    }

    void Create() {
        MainFormServices s;
        s.loop = &loop;
        s.clock = &loop;
        s.newTimerThread = [this] { return loop.newTimerThread(); };
        s.openComPort = ports.opener();
        s.now = [] { return platform::LocalDateTime{2026, 12, 9, 14, 5, 7}; };
        s.newEngineLink = newEngineLink;
        if (newHost)
            s.newHost = [f = newHost](int com, const std::string&, host::HostServices) { return f(com); };
        if (realHost)
            s.newHost = [](int com, const std::string& name, host::HostServices hs) {
                return host::OpenCorvaneHost(uint32_t(com), name, std::move(hs));
            };
        s.newOstraSlot = newOstraSlot;
        form = std::make_unique<TMainForm>(std::move(s), folder.string());
        form->FormCreate();
        form->StartTimers();
    }

    // Moves virtual time on in 10 ms steps, the panels answering between them.
    void Run(int ms) {
        for (int t = 0; t < ms; t += 10) {
            for (auto& [com, p] : panels)
                if (p.line->open) p.Serve();
            loop.advance(10);
        }
    }

    std::string Cell(int col, int row) const { return form->Grid().Cell(col, row); }
    std::vector<std::string> LogLines() { return Lines(ReadFile(folder / "Log.txt")); }

    fs::path folder;
    platform::VirtualEventLoop loop;
    surface::testing::FakePorts ports;
    std::map<int, PanelModel> panels;
    std::function<std::unique_ptr<engine::EngineLink>(platform::UpdateControl&, engine::EngineWindow&,
                                                      engine::RackTable&)>
        newEngineLink;
    std::function<std::unique_ptr<host::CorvaneHost>(int)> newHost;
    bool realHost = false;  // the host link itself, on the fake ports
    std::function<std::unique_ptr<cards::tOstraSlot>(int, const cards::OstraSlotServices&)> newOstraSlot;
    std::unique_ptr<TMainForm> form;
};

} // namespace ravelin::app::testing
