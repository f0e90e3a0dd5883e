#pragma once
// The fuzz input as a file, for the readers that take a path. One file per
// process, written again for every input, in memory (/dev/shm) where there is
// one: a disk write per input would cost more than the reading.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace ravelin::fuzz {

// Made on first use, removed with everything in it when the process ends.
class ScratchFolder {
public:
    ScratchFolder() {
        for (std::string base : {"/dev/shm", "/tmp"}) {
            std::string pattern = base + "/ravelin-fuzz-XXXXXX";
            if (mkdtemp(pattern.data())) {
                path = pattern;
                return;
            }
        }
        path = "/tmp";
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (path != "/tmp") std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

inline const std::string& FuzzFolder() {
    static const ScratchFolder folder;
    return folder.path;
}

inline std::string WriteFuzzFile(const std::string& name, const uint8_t* data, size_t size) {
    const std::string path = FuzzFolder() + "/" + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                 static_cast<std::streamsize>(size));
    return path;
}

} // namespace ravelin::fuzz
