#pragma once
// The fuzz input as a file on disk, for the readers that take a path. One
// file per process, written again for every input.
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <unistd.h>

namespace ravelin::fuzz {

inline const std::string& FuzzFolder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/ravelin-fuzz-XXXXXX";
        const char* made = mkdtemp(pattern);
        return std::string(made ? made : "/tmp");
    }();
    return folder;
}

inline std::string WriteFuzzFile(const std::string& name, const uint8_t* data, size_t size) {
    const std::string path = FuzzFolder() + "/" + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                 static_cast<std::streamsize>(size));
    return path;
}

} // namespace ravelin::fuzz
