#pragma once
#include <optional>
#include <string>

namespace ravelin::platform {

// True when standard output is a terminal, where a progress line can be
// redrawn in place; false for pipes and files, which get plain lines.
bool StdoutIsTerminal();
// Columns of the terminal on standard output; 80 when it does not say.
int TerminalColumns();
// A new, empty folder under the system's temporary folder, named from
// `prefix` and a unique suffix; nullopt when none can be made.
std::optional<std::string> MakeTemporaryFolder(const std::string& prefix);

} // namespace ravelin::platform
