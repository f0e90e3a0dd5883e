#include "app/log_file.h"

#include <atomic>
#include <cstdio>

#include "platform/files.h"

namespace ravelin::app {

namespace {
std::atomic<LogFile*> installed{nullptr};
}

LogFile::LogFile(Source source) : source_(std::move(source)) {
    if (!source_.now) source_.now = platform::localNow;
}

std::string LogFile::TimeStamp(const platform::LocalDateTime& t) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", t.day, t.month, t.year, t.hour,
                  t.minute, t.second);
    return buf;
}

void LogFile::WriteLog(const std::string& text) {
    char tick[16];
    std::snprintf(tick, sizeof tick, "%.10u", source_.tick ? source_.tick() : 0u);
    AppendLogLine(TimeStamp(source_.now()) + " " + tick + " " + text);
}

void LogFile::AppendLogLine(const std::string& text) {
    std::string path = platform::files::join(source_.folder ? source_.folder() : ".", "Log.txt");
    if (platform::files::appendLine(path, text)) return;
    if (platform::files::exists(path)) return;  // there but not writable: drop the line
    platform::files::createWithLines(path, {source_.header ? source_.header() : " Log", text});
}

void InstallLog(LogFile* log) { installed = log; }

void WriteLog(const std::string& text) {
    if (LogFile* l = installed.load()) l->WriteLog(text);
}

} // namespace ravelin::app
