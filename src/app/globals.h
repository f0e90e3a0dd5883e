#pragma once
#include <cstdint>
#include <functional>
#include <string>

// The configuration every part reads after start-up, the two message
// procedures through which every part speaks to the user, and the program's
// own version.
namespace ravelin::app {

struct ConsoleModelRow {
    uint8_t code;
    const char* program;   // the console program whose presence identifies the model
    const char* settings;  // its settings file
    const char* section;   // section in that file, display name, first word of a new log
};
// The current models, codes 14 to 25. Older codes are not known here: a
// folder of an older console is treated like one without any console.
const ConsoleModelRow* FindConsoleModel(uint8_t code);

struct Globals {
    std::string ProgramFolder;   // lower case, no trailing separator (as texts show it)
    std::string FolderOnDisk;    // the same folder as it stands on disk: files are opened through it
    uint8_t ConsoleModel = 0;    // 0: no console found
    std::string ConsoleIniFile;
    std::string ConsoleSection;
    std::string ConsoleName;
    std::string EngineIPAddress; // empty: no engine link
    int32_t EngineComPort = 0;   // 0: no host board link
};

inline constexpr const char* ConsoleNotFoundText =
    "Cannot find Marrowen or Tarvola console.\r\n\r\n"
    "Please ensure this program is run from\r\nthe console's program folder.";
inline constexpr const char* ApplicationTitle = "KR60 Ravelin Utility";

// Looks for the console programs in `folder` (codes in increasing order, the
// first present wins) and fills the model fields of `g`. ProgramFolder is set
// from `folder`, lower-cased, without a trailing separator.
// Returns false when no console was found.
bool DetectConsole(const std::string& folder, Globals& g);
// Reads "EngineIPAddress" (cut to 31 characters) and "EngineComPort" from the
// console's settings file; a missing file or section gives the defaults.
void LoadINIFile(Globals& g);

// Section "DevicePaths" of "Serial.ini": the device path of port number n
// under key "COM<n>". Ports without an entry are "/dev/ttyS<n-1>".
std::string DevicePathFor(const std::string& programFolder, int com);

// The program's own version record, built in.
struct FileVersion {
    int major, minor, release, build;
};
FileVersion ProgramFileVersion();
// "%d.%d.%d" of major, minor, build when build is not 0, else "%d.%d".
std::string FileVersionText(const FileVersion& v);
// The text without its last dot and what follows ("5.4.64" -> "5.4").
std::string ShortVersionText(const std::string& versionText);

// The message procedures. Until the main window installs its own, a text goes
// to the standard error stream, as the warning box titled "Attention" would.
using TextProc = std::function<void(const std::string&)>;
void InstallMessageProcs(TextProc displayMessage, TextProc displayStatus, TextProc displayLinkError = nullptr);
void DisplayMessage(const std::string& text);
void DisplayStatus(const std::string& text);
// A link's own error line ("COM6 Tx error: (5)" from a serial port's worker):
// shown on the message line like any message, but never taken as a sign that
// a running update is making progress. A dead port repeats its error every
// second and would otherwise keep an update alive for ever.
void DisplayLinkError(const std::string& text);

// Texts are short texts of up to 255 characters, names of up to 31.
std::string CutText(const std::string& s, size_t max);

} // namespace ravelin::app
