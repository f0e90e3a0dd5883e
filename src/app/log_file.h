#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "platform/local_time.h"

// "Log.txt" in the program folder: one line per event, opened and closed for
// every line so that nothing is held open and a deleted log comes back.
namespace ravelin::app {

class LogFile {
public:
    struct Source {
        std::function<std::string()> folder;        // ProgramFolder
        std::function<std::string()> header;        // ConsoleSection + " Log"
        std::function<uint32_t()> tick;             // SurfaceTickCount
        std::function<platform::LocalDateTime()> now;
    };
    explicit LogFile(Source source);

    // "dd/mm/yyyy hh:mm:ss", the tick as ten digits, the text.
    void WriteLog(const std::string& text);
    // Appends the line; a missing log is created with its header line first.
    // A line that cannot be written is dropped; the next call tries again.
    void AppendLogLine(const std::string& text);

    static std::string TimeStamp(const platform::LocalDateTime& t);

private:
    Source source_;
};

// The log every part writes to; installed by the main window.
void InstallLog(LogFile* log);
void WriteLog(const std::string& text);

} // namespace ravelin::app
