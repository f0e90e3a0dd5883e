// The program folder the virtual console writes: settings, serial ports and
// update files whose versions sit where the console program reads them.

#include "update_files.h"
#include "virtual_console.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace ravelin::sim {
namespace {

namespace fs = std::filesystem;

struct TempDir {
    TempDir()
    {
        char tmpl[] = "/tmp/ravelin-sim-test-XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
    fs::path path;
};

std::string readFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Lines split at CR LF; fails the test on a bare LF.
std::vector<std::string> crlfLines(const fs::path& p)
{
    const std::string text = readFile(p);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        auto lf = text.find('\n', start);
        EXPECT_NE(lf, std::string::npos) << p << ": last line without line end";
        if (lf == std::string::npos) break;
        EXPECT_TRUE(lf > start && text[lf - 1] == '\r') << p << ": line " << lines.size() + 1 << " not CR LF";
        lines.push_back(text.substr(start, lf - start - 1));
        start = lf + 1;
    }
    return lines;
}

class WrittenFolder : public testing::Test {
protected:
    void write(ConsoleConfig config = {})
    {
        console_ = std::make_unique<VirtualConsole>(std::move(config));
        ASSERT_TRUE(console_->writeFolder(dir_.path)) << console_->lastError();
    }
    fs::path file(const std::string& name) const { return dir_.path / name; }

    TempDir dir_;
    std::unique_ptr<VirtualConsole> console_;
};

TEST_F(WrittenFolder, SettingsFileHasTheModelSectionAndEmptyEngineSettings)
{
    write();
    EXPECT_TRUE(fs::exists(file("KR60.EXE")));
    EXPECT_EQ(crlfLines(file("KR60.INI")),
              (std::vector<std::string>{"[KR60]", "EngineIPAddress=", "EngineComPort=0"}));
}

TEST_F(WrittenFolder, SettingsFileCarriesConfiguredEngine)
{
    ConsoleConfig c;
    c.engineIPAddress = "192.168.1.20";
    c.engineComPort = 5;
    write(c);
    EXPECT_EQ(crlfLines(file("KR60.INI")),
              (std::vector<std::string>{"[KR60]", "EngineIPAddress=192.168.1.20", "EngineComPort=5"}));
}

TEST_F(WrittenFolder, SerialIniListsEveryPanelWithoutDevicesWhenNotServing)
{
    write();
    EXPECT_EQ(crlfLines(file("Serial.ini")),
              (std::vector<std::string>{"[SerialPorts]", "ComPort1=11", "BaudRate1=115200", "ComPort2=12",
                                        "BaudRate2=115200", "ComPort3=13", "BaudRate3=115200",
                                        "ComPort4=14", "BaudRate4=115200"}));
}

TEST_F(WrittenFolder, EngineFilesCarryTheirVersionAsFileDate)
{
    write();
    const FileVersions v;
    for (const auto& [name, date] : std::vector<std::pair<std::string, Date>>{
             {"SP6v.bin", v.engineHostDate}, {"SP6e.bit", v.engineFpgaDate}, {"FX1.bin", v.effectsDate}}) {
        SCOPED_TRACE(name);
        struct stat st{};
        ASSERT_EQ(::stat(file(name).c_str(), &st), 0);
        std::tm tm{};
        localtime_r(&st.st_mtime, &tm);
        EXPECT_EQ((Date{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday}), date);
    }
}

// The byte after "version" and one separator, as the program reads images.
std::vector<uint8_t> bytesAfterMarker(const fs::path& p, std::size_t count)
{
    const std::string text = readFile(p);
    const auto at = text.find("version");
    if (at == std::string::npos || at + 8 + count > text.size()) return {};
    return {text.begin() + std::ptrdiff_t(at + 8), text.begin() + std::ptrdiff_t(at + 8 + count)};
}

TEST_F(WrittenFolder, ImagesCarryTheirVersionAfterTheMarker)
{
    ConsoleConfig c;
    c.files.hostFirmware = 42;
    c.files.worksurface = 9;
    c.files.localIOTiva = 130;
    c.files.cardFirmware = 3;
    c.files.cardMadiFirmware = 4;
    c.files.nRackMajor = 1;
    c.files.nRackMinor = 7;
    write(c);
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> cases = {
        {"CorvaneTiva.dfu", {42}},
        {"KR60worksurface.bin", {9}},
        {"tarvola_local_io_mk2.bin", {130}},
        {"Ostra/tarvola_ostra.bin", {3}},
        {"Ostra/tarvola_ostra_madi.bin", {4}},
        {"Racks/NRack.bin", {1, 7}},
    };
    for (const auto& [name, expect] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(bytesAfterMarker(file(name), expect.size()), expect);
    }
    EXPECT_TRUE(fs::exists(file("xmos.bin")));
}

TEST_F(WrittenFolder, BitFilesHoldTheirDateAroundTheFirstSlash)
{
    write();
    const FileVersions v;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Corvane_Interface_FPGA.bit", "2022/03/08"},
        {"tarvola_local_io_mk2_FPGA.bit", "2020/11/03"},
        {"Ostra/tarvola_ostra_MADI_fpga.bit", "2021/04/22"},
        {"Racks/Rack.bit", "2018/08/15"},
        {"SP6e.bit", "2023/06/12"},
    };
    for (const auto& [name, date] : cases) {
        SCOPED_TRACE(name);
        const std::string head = readFile(file(name)).substr(0, 128);
        const auto slash = head.find('/');
        ASSERT_NE(slash, std::string::npos);
        ASSERT_GE(slash, 4u);
        ASSERT_LE(slash, 124u);
        EXPECT_EQ(head.substr(slash - 4, 10), date);
    }
}

TEST_F(WrittenFolder, RackCodeHasItsBcdDateAt1542)
{
    write();
    const std::string code = readFile(file("Racks/Rack.bin"));
    ASSERT_GE(code.size(), 1546u);
    // 15/08/2018: day, month, year in century, century
    EXPECT_EQ(code.substr(1542, 4), std::string("\x15\x08\x18\x20", 4));
}

// ---- panel code ----

int hexByte(const std::string& s, std::size_t at) { return std::stoi(s.substr(at, 2), nullptr, 16); }

void expectValidRecords(const std::vector<std::string>& lines)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        SCOPED_TRACE("line " + std::to_string(i + 1) + " " + l);
        ASSERT_GE(l.size(), 11u);
        ASSERT_EQ(l[0], ':');
        const int count = hexByte(l, 1);
        ASSERT_EQ(l.size(), std::size_t(11 + 2 * count));
        unsigned sum = 0;
        for (int b = 0; b < count + 5; ++b) sum += unsigned(hexByte(l, 1 + 2 * std::size_t(b)));
        EXPECT_EQ(sum % 256, 0u);
    }
}

struct HexFileCase {
    const char* name;
    const char* file;
    int lines;
    uint8_t version;
};

class PanelHexFile : public testing::TestWithParam<HexFileCase> {};

TEST_P(PanelHexFile, VersionIsTheFifthByteOfThe0800RecordBeforeTheLastLine)
{
    const auto& c = GetParam();
    ConsoleConfig config;
    config.hexLines = c.lines;
    config.files.gpioHex = c.version;
    config.files.localIOHex = c.version;
    TempDir dir;
    VirtualConsole console(config);
    ASSERT_TRUE(console.writeFolder(dir.path));

    const auto lines = crlfLines(dir.path / c.file);
    ASSERT_EQ(int(lines.size()), c.lines);
    expectValidRecords(lines);
    EXPECT_EQ(lines.back(), ":00000001FF");
    // Characters 4 to 7 (from 1) are "0800"; characters 18 and 19 the version.
    std::size_t at = 0;
    while (at < lines.size() && lines[at].substr(3, 4) != "0800") ++at;
    ASSERT_LT(at + 1, lines.size()) << "no 0800 record before the last line";
    EXPECT_EQ(lines[at].substr(7, 2), "00") << "a data record";
    EXPECT_EQ(hexByte(lines[at], 17), c.version);
    // Full 16-byte records throughout.
    EXPECT_EQ(lines[at].substr(1, 2), "10");
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, PanelHexFile,
    testing::Values(HexFileCase{"GpioDefault", "KR60GPIO.hex", 400, 12},
                    HexFileCase{"GpioLong", "KR60GPIO.hex", 2000, 0x17},
                    HexFileCase{"LocalIOShort", "KR60LocalIO.hex", 40, 25},
                    HexFileCase{"Shortest", "KR60GPIO.hex", 3, 0xFF}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PanelHexLines, LongCodeGetsAnExtendedAddressForEach64KiB)
{
    const auto lines = panelHexLines(4200, 12, 1);
    ASSERT_EQ(lines.size(), 4200u);
    expectValidRecords(lines);
    // Address 0x10000 is reached after the first record and 4096 data records.
    EXPECT_EQ(lines[0], ":020000040000FA");
    EXPECT_EQ(lines[4097], ":020000040001F9");
}

TEST(DateTexts, LocalIODateIsDayMonthYearDigits)
{
    EXPECT_EQ(fpgaDateText({2019, 5, 14}), "14052019");
    EXPECT_EQ(dateText({2019, 5, 14}), "14/05/2019");
    EXPECT_FALSE(isValidDate({2019, 2, 29}));
    EXPECT_TRUE(isValidDate({2020, 2, 29}));
}

} // namespace
} // namespace ravelin::sim
