// Any file as a settings file.
#include <cstddef>
#include <cstdint>

#include "fuzz_file.h"
#include "platform/ini.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using ravelin::platform::IniFile;
    IniFile ini(ravelin::fuzz::WriteFuzzFile("Serial.ini", data, size));
    ini.readString("SerialPorts", "ComPort1", "");
    ini.readInteger("SerialPorts", "EnabledMask", 255);
    for (const auto& [key, value] : ini.section("SerialPorts")) {
        long long n = 0;
        IniFile::parseInteger(value, n);
        ini.hasKey("serialports", key);
    }
    return 0;
}
