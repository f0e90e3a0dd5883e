#include "platform/terminal.h"

#include <filesystem>
#include <sys/ioctl.h>
#include <unistd.h>

namespace ravelin::platform {

bool StdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

int TerminalColumns() {
    winsize ws{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

std::optional<std::string> MakeTemporaryFolder(const std::string& prefix) {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string pattern = (base / (prefix + "XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) return std::nullopt;
    return pattern;
}

} // namespace ravelin::platform
