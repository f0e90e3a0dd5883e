#include "app/globals.h"

#include <cctype>
#include <cstdio>
#include <iostream>
#include <mutex>

#include "platform/files.h"
#include "platform/ini.h"

namespace ravelin::app {

namespace {
const ConsoleModelRow kModels[] = {
    {14, "KR50.EXE", "KR50.INI", "KR50"},          {15, "KR20.EXE", "KR20.INI", "KR20"},
    {16, "KR30.EXE", "KR30.INI", "KR30"},          {17, "KR40.EXE", "KR40.INI", "KR40"},
    {18, "KR10.EXE", "KR10.INI", "KR10"},          {19, "KR70.EXE", "KR70.INI", "KR70"},
    {20, "KR70-CS.EXE", "KR70-CS.INI", "KR70-CS"}, {21, "KR50X.EXE", "KR50X.INI", "KR50X"},
    {22, "KR60.EXE", "KR60.INI", "KR60"},          {23, "Merid7.exe", "Merid7.ini", "Merid7"},
    {24, "Merid8.exe", "Merid8.ini", "Merid8"},    {25, "Merid6.exe", "Merid6.ini", "Merid6"},
};

std::mutex procLock;
TextProc messageProc;
TextProc statusProc;
TextProc linkErrorProc;
} // namespace

const ConsoleModelRow* FindConsoleModel(uint8_t code) {
    for (const auto& m : kModels)
        if (m.code == code) return &m;
    return nullptr;
}

std::string CutText(const std::string& s, size_t max) { return s.size() > max ? s.substr(0, max) : s; }

bool DetectConsole(const std::string& folder, Globals& g) {
    std::string f = folder;
    for (auto& c : f) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    while (f.size() > 1 && (f.back() == '/' || f.back() == '\\')) f.pop_back();
    g.ProgramFolder = CutText(f, 255);
    g.FolderOnDisk = platform::files::resolve(folder).value_or(folder);
    g.ConsoleModel = 0;
    for (uint8_t code = 2; code <= 25; ++code) {
        const ConsoleModelRow* m = FindConsoleModel(code);
        if (!m) continue;
        if (platform::files::exists(platform::files::join(folder, m->program))) {
            g.ConsoleModel = code;
            g.ConsoleIniFile = platform::files::join(g.FolderOnDisk, m->settings);
            g.ConsoleSection = m->section;
            g.ConsoleName = CutText(m->section, 15);
            return true;
        }
    }
    return false;
}

void LoadINIFile(Globals& g) {
    platform::IniFile ini(g.ConsoleIniFile);
    g.EngineIPAddress = CutText(ini.readString(g.ConsoleSection, "EngineIPAddress", ""), 31);
    g.EngineComPort = static_cast<int32_t>(ini.readInteger(g.ConsoleSection, "EngineComPort", 0));
}

std::string DevicePathFor(const std::string& programFolder, int com) {
    platform::IniFile ini(platform::files::join(programFolder, "Serial.ini"));
    std::string path = ini.readString("DevicePaths", "COM" + std::to_string(com), "");
    return path.empty() ? "/dev/ttyS" + std::to_string(com - 1) : path;
}

FileVersion ProgramFileVersion() {
    return {RAVELIN_VERSION_MAJOR, RAVELIN_VERSION_MINOR, RAVELIN_VERSION_RELEASE, RAVELIN_VERSION_BUILD};
}

std::string FileVersionText(const FileVersion& v) {
    char buf[64];
    if (v.build != 0)
        std::snprintf(buf, sizeof buf, "%d.%d.%d", v.major, v.minor, v.build);
    else
        std::snprintf(buf, sizeof buf, "%d.%d", v.major, v.minor);
    return buf;
}

std::string ShortVersionText(const std::string& versionText) {
    auto dot = versionText.rfind('.');
    return CutText(dot == std::string::npos ? versionText : versionText.substr(0, dot), 31);
}

void InstallMessageProcs(TextProc displayMessage, TextProc displayStatus, TextProc displayLinkError) {
    std::lock_guard<std::mutex> g(procLock);
    messageProc = std::move(displayMessage);
    statusProc = std::move(displayStatus);
    linkErrorProc = std::move(displayLinkError);
}

void DisplayMessage(const std::string& text) {
    TextProc p;
    {
        std::lock_guard<std::mutex> g(procLock);
        p = messageProc;
    }
    if (p) p(CutText(text, 255));
    else std::cerr << "Attention: " << CutText(text, 255) << std::endl;
}

void DisplayLinkError(const std::string& text) {
    TextProc p;
    {
        std::lock_guard<std::mutex> g(procLock);
        p = linkErrorProc;
    }
    if (p) p(CutText(text, 255));
    else DisplayMessage(text);
}

void DisplayStatus(const std::string& text) {
    TextProc p;
    {
        std::lock_guard<std::mutex> g(procLock);
        p = statusProc;
    }
    if (p) p(CutText(text, 255));
    else std::cerr << "Attention: " << CutText(text, 255) << std::endl;
}

} // namespace ravelin::app
