#include "cards/card_update_file.h"

#include "platform/files.h"

namespace ravelin::cards {

std::optional<std::vector<uint8_t>> ReadCardUpdateFile(platform::UpdateControl& control,
                                                       const std::string& programFolder,
                                                       const std::string& fileName, const std::string& what)
{
    const std::string path = platform::files::join(programFolder, fileName);
    auto file = platform::files::readAll(path);
    if (!file) {
        control.DisplayMessage("Cannot Update " + what + ": file " + path + " not found");
        return std::nullopt;
    }
    // A card told to expect an empty image would be erased and given nothing.
    if (file->empty()) {
        control.DisplayMessage("Cannot Update " + what + ": file " + path + " is empty");
        return std::nullopt;
    }
    return file;
}

} // namespace ravelin::cards
