#include "app/catalogue.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <utime.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace ravelin::app;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// A program folder of its own per test, with "Ostra" and "Racks" beside it.
class CatalogueFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "ravelin-catalogue-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }

    std::string write(const std::string& relative, const Bytes& bytes) {
        fs::path p = folder_ / relative;
        fs::create_directories(p.parent_path());
        std::ofstream out(p, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
    std::string write(const std::string& relative, const std::string& text) {
        return write(relative, bytesOf(text));
    }
    std::string path(const std::string& relative) const { return (folder_ / relative).string(); }
    std::string program() const { return folder_.string(); }

    fs::path folder_;
};

// ---------------------------------------------------------------- names

TEST(CatalogueNames, EngineFilesBySetAndType) {
    struct Case { int type, set; const char* file; };
    const Case cases[] = {
        {0, 0, ""}, {0, 1, ""},
        {1, 0, "Loader.bin"}, {1, 1, "Loader.bin"},
        {2, 0, "KL2Host.bin"}, {2, 1, "SP6v.bin"},
        {3, 0, "FX1.bin"}, {3, 1, "FX1.bin"},
        {4, 0, "FX2.bin"}, {4, 1, "FX2.bin"},
        {5, 0, "KL3a.bit"}, {5, 1, "SP6e.bit"},
        // A set the catalogue does not know leaves the engine rows without files.
        {2, 2, ""}, {5, -1, ""}, {3, 256, ""},
        {6, 1, ""}, {-1, 1, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EngineFileName(c.type, c.set), c.file) << "type " << c.type << " set " << c.set;
}

TEST(CatalogueNames, EngineFileTypeNames) {
    const char* names[] = {"Engine", "Loader", "Host", "Effects", "FX2", "FPGA"};
    for (int t = 0; t < 6; ++t) EXPECT_EQ(EngineFileTypeName(t), names[t]) << t;
    EXPECT_EQ(EngineFileTypeName(6), "");
    EXPECT_EQ(EngineFileTypeName(-1), "");
}

TEST(CatalogueNames, SurfaceFileByPanelType) {
    struct Case { int type; const char* file; };
    const Case cases[] = {
        {0, "KL2worksurface.hex"}, {1, "KL2worksurface.hex"}, {2, "KL2worksurface.hex"},
        {8, "KR20worksurface.hex"}, {9, "KR20worksurface.hex"}, {10, "KR20worksurface.hex"},
        {16, "KR30worksurface.hex"}, {17, "KR30worksurface.hex"},
        {24, "KR40worksurface.hex"}, {25, "KR40worksurface.hex"}, {26, "KR40worksurface.hex"},
        {27, "KR40FaderPod.hex"}, {32, "KR10worksurface.hex"},
        {40, "KR70worksurface.hex"}, {41, "KR70worksurface.hex"},
        {64, "KR60worksurface.bin"}, {65, "KR60worksurface.bin"},
        {128, "Timecode.hex"}, {129, "GPIOandMidi.hex"}, {130, "KR40REGpioTimecode.hex"},
        {132, "KR40 GPIO macro.hex"}, {133, "KR70 GPIO macro.hex"}, {134, "KR60GPIO.hex"},
        {144, "LocalIO.hex"}, {145, "KR20LocalIO.hex"}, {146, "KR30LocalIO.hex"},
        {147, "KR40LocalIO.hex"}, {148, "KR10LocalIO.hex"}, {149, "KR70LocalIO.hex"},
        {150, "KR60LocalIO.hex"}, {160, "Redundant Switch.hex"}, {161, "KR70powercon.hex"},
        // No panel, and types between the table's entries.
        {-1, ""}, {3, ""}, {11, ""}, {28, ""}, {42, ""}, {66, ""}, {131, ""}, {135, ""},
        {151, ""}, {162, ""}, {255, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(SurfaceFileNameForType(c.type), c.file) << c.type;
}

TEST(CatalogueNames, LocalIOSwitch) {
    struct Case { int type; uint16_t version; bool tivaExists; bool uses; };
    const Case cases[] = {
        // A panel already running the bootloader-updated code keeps it, file or not.
        {146, 120, false, true},
        {146, 101, false, true},
        {146, 100, true, false},
        {146, 50, true, false},
        // Nothing useful reported yet: the image decides.
        {146, 0, true, true},
        {146, 9, true, true},
        {146, 0, false, false},
        {146, 9, false, false},
        {146, 10, true, false},
        {145, 120, false, true}, {150, 120, false, true},
        // Only the local I/O panels switch.
        {144, 120, true, false}, {151, 120, true, false}, {24, 0, true, false}, {-1, 0, true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UsesLocalIOTiva(c.type, c.version, c.tivaExists), c.uses)
            << "type " << c.type << " version " << c.version << " tiva " << c.tivaExists;
    }
    for (int t = 140; t <= 155; ++t) EXPECT_EQ(IsLocalIOHexType(t), t >= 145 && t <= 150) << t;
    EXPECT_STREQ(LocalIOTivaFile, "tarvola_local_io_mk2.bin");
}

TEST(CatalogueNames, KR40PanelsCountOnlyWithTheirFile) {
    struct Case { int type, port; bool kr40; int result; };
    const Case cases[] = {
        {24, 0, true, 24}, {25, 1, true, 25}, {26, 2, true, 26}, {147, 3, true, 147},
        {24, 0, false, 27}, {25, 0, false, 27}, {147, 0, false, 27},
        {25, 1, false, -1}, {26, 2, false, -1}, {147, 3, false, -1},
        // Everything else passes through, file or not.
        {27, 0, false, 27}, {130, 4, false, 130}, {23, 1, false, 23}, {148, 2, false, 148},
        {-1, 0, false, -1}, {-1, 1, true, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SurfacePanelType(c.type, c.port, c.kr40), c.result)
            << "type " << c.type << " port " << c.port << " kr40 " << c.kr40;
    }
}

TEST(CatalogueNames, RackFilesByRackType) {
    struct Case { int type; const char* code; const char* fpga; };
    const Case cases[] = {
        {0, "Rack.bin", "Rack.bit"}, {1, "Rack.bin", "Rack.bit"},
        {2, "Rack8b.bin", "Rack8b.bit"}, {4, "Rack8b.bin", "Rack8b.bit"}, {5, "Rack8b.bin", "Rack8b.bit"},
        {3, "LRack8b.bin", "LRack.bit"}, {6, "L2Rack8b.bin", "L2Rack.bit"},
        {9, "NRack.bin", ""},
        {7, "", ""}, {8, "", ""}, {10, "", ""}, {255, "", ""}, {-1, "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RackCodeFileName(c.type), c.code) << c.type;
        EXPECT_EQ(RackFPGAFileName(c.type), c.fpga) << c.type;
    }
}

// ------------------------------------------------------- version marker

TEST_F(CatalogueFiles, MarkerReadsTheByteAfterTheSeparator) {
    struct Case { const char* what; Bytes image; bool twoBytes; uint16_t version; const char* text; };
    const Bytes junk = {0x00, 0xFF, 0x10, 'v', 'e', 'r', 0x00};
    const Case cases[] = {
        {"blank separator", concat({junk, bytesOf("version "), {0x2A}}), false, 42, "42"},
        {"colon separator", concat({junk, bytesOf("version:"), {0x2A, 0x00}}), false, 42, "42"},
        {"zero separator", concat({bytesOf("version"), {0x00, 0x2A}}), false, 42, "42"},
        {"letter separator", concat({bytesOf("versionv"), {0x2A}}), false, 42, "42"},
        {"value 255", concat({bytesOf("version "), {0xFF}}), false, 255, "255"},
        {"first marker wins", concat({bytesOf("version "), {0x05}, bytesOf("version "), {0x09}}),
         false, 5, "5"},
        {"zynq two bytes", concat({junk, bytesOf("version "), {0x01, 0x07}}), true, 0x0107, "1.7"},
        {"zynq 10.0", concat({bytesOf("version-"), {0x0A, 0x00}}), true, 0x0A00, "10.0"},
        {"capitals", concat({bytesOf("VERSION "), {0x2A}}), false, 0, ""},
        {"capital V", concat({bytesOf("Version "), {0x2A}}), false, 0, ""},
        {"no marker", bytesOf("no marker here at all"), false, 0, ""},
        {"value zero", concat({bytesOf("version "), {0x00}}), false, 0, ""},
        {"ends after separator", bytesOf("version "), false, 0, ""},
        {"ends after the word", bytesOf("version"), false, 0, ""},
        {"two bytes, one present", concat({bytesOf("version "), {0x01}}), true, 0, ""},
        {"empty file", Bytes{}, false, 0, ""},
    };
    for (const auto& c : cases) {
        std::string file = write("image.bin", c.image);
        uint16_t v = VersionAfterMarker(file, c.twoBytes);
        EXPECT_EQ(v, c.version) << c.what;
        EXPECT_EQ(VersionText(v, c.twoBytes), c.text) << c.what;
    }
    EXPECT_EQ(VersionAfterMarker(path("missing.bin"), false), 0);
}

TEST_F(CatalogueFiles, MarkerFileFoundWithBackslashesAndAnyCase) {
    write("Ostra/tarvola_ostra_MADI.BIN", concat({bytesOf("version "), {0x17}}));
    EXPECT_EQ(VersionAfterMarker(program() + "\\ostra\\Tarvola_Ostra_madi.bin", false), 0x17);
}

TEST(CatalogueVersionText, Forms) {
    struct Case { uint16_t value; bool twoBytes; const char* text; };
    const Case cases[] = {
        {0, false, ""}, {0, true, ""}, {1, false, "1"}, {42, false, "42"}, {255, false, "255"},
        {0x0107, true, "1.7"}, {0x0001, true, "0.1"}, {0xFFFF, true, "255.255"},
    };
    for (const auto& c : cases) EXPECT_EQ(VersionText(c.value, c.twoBytes), c.text) << c.value;
}

// ------------------------------------------------------- Intel-HEX code

constexpr const char* Start = ":020000040000FA";
constexpr const char* Before = ":10000000000102030405060708090A0B0C0D0E0F78";
constexpr const char* Record0800 = ":10080000010203041755667788990011223344556F";
constexpr const char* After = ":1008100000112233445566778899AABBCCDDEEFF78";
constexpr const char* End = ":00000001FF";

std::string lines(std::initializer_list<std::string> ls, const char* eol = "\r\n", bool lastEol = true) {
    std::string text;
    size_t i = 0;
    for (const auto& l : ls) {
        text += l;
        if (++i < ls.size() || lastEol) text += eol;
    }
    return text;
}

TEST_F(CatalogueFiles, HexVersionIsTheFifthDataByteOfThe0800Record) {
    struct Case { const char* what; std::string text; uint8_t version; };
    auto with = [](const std::string& fifth) {
        std::string r = Record0800;
        return r.substr(0, 17) + fifth + r.substr(19);
    };
    const Case cases[] = {
        {"record in the middle", lines({Start, Before, Record0800, After, End}), 0x17},
        {"record just before the end", lines({Record0800, End}), 0x17},
        {"LF line ends", lines({Before, Record0800, End}, "\n"), 0x17},
        {"CR line ends", lines({Before, Record0800, End}, "\r"), 0x17},
        {"first 0800 record wins", lines({Record0800, with("99"), End}), 0x17},
        {"lower-case digits", lines({with("ab"), End}), 0xAB},
        {"leading space", lines({with(" A"), End}), 0x0A},
        {"stray character skipped", lines({with("1G"), End}), 0x01},
        {"short line", lines({":10080000010203", End}), 0x00},
        {"last line, no line end", lines({Before, Record0800}, "\r\n", false), 0},
        {"last line, with line end", lines({Before, Record0800}), 0},
        {"no 0800 record", lines({Start, Before, After, End}), 0},
        {"0800 only in the data", lines({":04000000080008000800E0", End}), 0},
        {"empty file", "", 0},
    };
    for (const auto& c : cases) {
        std::string file = write("panel.hex", c.text);
        EXPECT_EQ(HexMarkerVersion(file), c.version) << c.what;
    }
    EXPECT_EQ(HexMarkerVersion(path("missing.hex")), 0);
}

TEST_F(CatalogueFiles, SurfaceFileVersionByKind) {
    write("KR20worksurface.hex", lines({Before, Record0800, After, End}));
    write("KR60worksurface.bin", concat({bytesOf("\x01\x02version "), {0x2A}}));
    write("Upper.BIN", concat({bytesOf("version "), {0x07}}));
    // A ".bin" name is never read as Intel-HEX, even when the text would fit.
    write("Text.bin", lines({Record0800, End}));
    // Names on disk differ in letter case from those asked for.
    write("kr60gpio.HEX", lines({Record0800, End}));
    write("kr40 gpio MACRO.hex", lines({Record0800, End}));

    struct Case { const char* name; uint8_t version; };
    const Case cases[] = {
        {"KR20worksurface.hex", 23},
        {"KR60worksurface.bin", 42},
        {"Upper.BIN", 7},
        {"upper.bin", 7},
        {"Text.bin", 0},
        {"KR60GPIO.hex", 23},
        {"KR40 GPIO macro.hex", 23},
        {"KR70LocalIO.hex", 0},
        {"", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(SurfaceFileVersionOf(program(), c.name), c.version) << c.name;
    EXPECT_EQ(SurfaceFileVersionOf(program() + "/", "KR20worksurface.hex"), 23);
}

// ------------------------------------------------------------ bit dates

Bytes bitHeader(const std::string& date, size_t at = 0x40) {
    // The start of a real bit file header: a length-prefixed field block, the
    // design name, part, then date and time fields.
    Bytes h = {0x00, 0x09, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x0F, 0xF0, 0x00, 0x00, 0x01, 'a', 0x00};
    h.resize(at, 'x');
    Bytes d = bytesOf(date);
    h.insert(h.end(), d.begin(), d.end());
    h.push_back(0x00);
    Bytes tail = concat({{0x64, 0x00, 0x09}, bytesOf("14:02:33")});
    h.insert(h.end(), tail.begin(), tail.end());
    h.resize(std::max<size_t>(h.size(), 300), 0xFF);
    return h;
}

TEST_F(CatalogueFiles, BitFileHeaderDate) {
    struct Case { const char* what; Bytes file; const char* text; };
    Bytes slashEarly = bytesOf("ab/2019/05/14");
    Bytes tooShort = bytesOf("2019/05/1");
    const Case cases[] = {
        {"build date", bitHeader("2019/05/14"), "14/05/2019"},
        {"leap day", bitHeader("2020/02/29"), "29/02/2020"},
        {"date right at the start", bytesOf("2001/12/31"), "31/12/2001"},
        {"first slash before offset 4", slashEarly, ""},
        {"non-digit month", bitHeader("2019/0x/14"), ""},
        {"non-digit year", bitHeader("20a9/05/14"), ""},
        {"no such day", bitHeader("2019/02/29"), ""},
        {"month 13", bitHeader("2019/13/01"), ""},
        {"day zero", bitHeader("2019/05/00"), ""},
        {"no slash", bitHeader("20190514"), ""},
        {"file ends in the date", tooShort, ""},
        // Only the first 128 bytes are read: a date reaching past them is none.
        {"day past byte 128", bitHeader("2019/05/14", 120), ""},
        {"slash past offset 124", bitHeader("2019/05/14", 122), ""},
        {"date ending at byte 128", bitHeader("2019/05/14", 118), "14/05/2019"},
        {"empty file", Bytes{}, ""},
    };
    for (const auto& c : cases) {
        write("design.bit", c.file);
        EXPECT_EQ(BitFileDateText(program(), "design.bit"), c.text) << c.what;
    }
    EXPECT_EQ(BitFileDateText(program(), "missing.bit"), "");
    EXPECT_EQ(BitFileDateText(program(), ""), "");
}

TEST_F(CatalogueFiles, BitFileInSubFolderAnyCase) {
    write("Ostra/tarvola_ostra_MADI_fpga.bit", bitHeader("2019/05/14"));
    write("Corvane_Interface_FPGA.BIT", bitHeader("2018/11/02"));
    EXPECT_EQ(BitFileDateText(program(), "Ostra\\tarvola_ostra_MADI_fpga.bit"), "14/05/2019");
    EXPECT_EQ(BitFileDateText(program(), "OSTRA\\Tarvola_Ostra_madi_FPGA.bit"), "14/05/2019");
    EXPECT_EQ(BitFileDateText(program(), "Corvane_Interface_FPGA.bit"), "02/11/2018");
}

// A Sharc rack code file: its BCD build date sits at 1542..1545.
Bytes rackCode(size_t size, std::initializer_list<uint8_t> bcd) {
    Bytes b(size, 0x5A);
    size_t at = 1542;
    for (uint8_t v : bcd) {
        if (at < b.size()) b[at] = v;
        ++at;
    }
    return b;
}

TEST_F(CatalogueFiles, RackCodeBcdDate) {
    struct Case { const char* what; Bytes file; const char* text; };
    const Case cases[] = {
        {"date", rackCode(4096, {0x14, 0x05, 0x19, 0x20}), "14/05/2019"},
        {"exactly long enough", rackCode(1546, {0x31, 0x12, 0x99, 0x19}), "31/12/1999"},
        {"one byte short", rackCode(1545, {0x14, 0x05, 0x19, 0x20}), ""},
        {"much too short", rackCode(100, {}), ""},
        {"month 13", rackCode(2048, {0x14, 0x13, 0x19, 0x20}), ""},
        {"31 April", rackCode(2048, {0x31, 0x04, 0x19, 0x20}), ""},
        {"blank date", rackCode(2048, {0x00, 0x00, 0x00, 0x00}), ""},
    };
    for (const auto& c : cases) {
        write("Racks/Rack8b.bin", c.file);
        EXPECT_EQ(BitFileDateText(program(), "Racks\\Rack8b.bin"), c.text) << c.what;
    }
    write("Racks/lrack8B.BIN", rackCode(2048, {0x01, 0x02, 0x03, 0x20}));
    EXPECT_EQ(BitFileDateText(program(), "Racks\\LRack8b.bin"), "01/02/2003");
    EXPECT_EQ(BitFileDateText(program(), "Racks\\Rack.bin"), "");
}

// ---------------------------------------------------- file and BCD dates

TEST_F(CatalogueFiles, FileDateIsTheLocalModificationDate) {
    std::string file = write("FX1.bin", "x");
    std::tm noon{};
    noon.tm_year = 2021 - 1900;
    noon.tm_mon = 2;
    noon.tm_mday = 7;
    noon.tm_hour = 12;
    noon.tm_isdst = -1;
    utimbuf times{std::mktime(&noon), std::mktime(&noon)};
    ASSERT_EQ(::utime(file.c_str(), &times), 0);
    EXPECT_EQ(FileDateText(program(), "FX1.bin"), "07/03/2021");
    EXPECT_EQ(FileDateText(program(), "fx1.BIN"), "07/03/2021");
    EXPECT_EQ(FileDateText(program(), "FX2.bin"), "");
    EXPECT_EQ(FileDateText(program(), ""), "");
}

TEST(CatalogueDates, BcdDateText) {
    struct Case { uint8_t bcd[4]; const char* text; };
    const Case cases[] = {
        {{0x14, 0x05, 0x19, 0x20}, "14/05/2019"},
        {{0x01, 0x01, 0x00, 0x20}, "01/01/2000"},
        {{0x29, 0x02, 0x20, 0x20}, "29/02/2020"},
        {{0x29, 0x02, 0x19, 0x20}, ""},
        {{0x29, 0x02, 0x00, 0x19}, ""},
        {{0x00, 0x05, 0x19, 0x20}, ""},
        {{0x32, 0x01, 0x19, 0x20}, ""},
        {{0x14, 0x00, 0x19, 0x20}, ""},
        {{0x14, 0x13, 0x19, 0x20}, ""},
        {{0x31, 0x06, 0x19, 0x20}, ""},
        {{0x00, 0x00, 0x00, 0x00}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BcdDateText(c.bcd), c.text)
            << std::hex << int(c.bcd[0]) << " " << int(c.bcd[1]) << " " << int(c.bcd[2]) << " "
            << int(c.bcd[3]);
    }
}

TEST(CatalogueDates, DateTextAndParse) {
    EXPECT_EQ(DateText(1, 2, 2003), "01/02/2003");
    EXPECT_EQ(DateText(31, 12, 1999), "31/12/1999");

    struct Case { const char* text; bool ok; int day, month, year; };
    const Case cases[] = {
        {"14/05/2019", true, 14, 5, 2019},
        {"1/5/2019", true, 1, 5, 2019},
        {"01/5/2019", true, 1, 5, 2019},
        {"29/02/2000", true, 29, 2, 2000},
        {"29/02/1900", false, 0, 0, 0},
        {"31/04/2019", false, 0, 0, 0},
        {"00/05/2019", false, 0, 0, 0},
        {"14/00/2019", false, 0, 0, 0},
        {"14/05/19", false, 0, 0, 0},
        {"14/05/20190", false, 0, 0, 0},
        {"114/05/2019", false, 0, 0, 0},
        {"14-05-2019", false, 0, 0, 0},
        {"14.05.2019", false, 0, 0, 0},
        {"14/05/2019 ", false, 0, 0, 0},
        {" 14/05/2019", false, 0, 0, 0},
        {"14//2019", false, 0, 0, 0},
        {"/05/2019", false, 0, 0, 0},
        {"        ", false, 0, 0, 0},
        {"", false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        int d = -1, m = -1, y = -1;
        EXPECT_EQ(ParseDateText(c.text, d, m, y), c.ok) << '"' << c.text << '"';
        if (c.ok) {
            EXPECT_EQ(d, c.day) << c.text;
            EXPECT_EQ(m, c.month) << c.text;
            EXPECT_EQ(y, c.year) << c.text;
        }
    }
}

TEST(CatalogueDates, ValidCalendarDates) {
    struct Case { int day, month, year; bool valid; };
    const Case cases[] = {
        {31, 1, 2019, true}, {28, 2, 2019, true}, {29, 2, 2019, false}, {29, 2, 2024, true},
        {29, 2, 2100, false}, {29, 2, 2000, true}, {30, 4, 2019, true}, {31, 4, 2019, false},
        {31, 12, 9999, true}, {1, 1, 0, false}, {1, 1, 10000, false}, {0, 1, 2019, false},
        {1, 0, 2019, false}, {1, 13, 2019, false}, {-1, 1, 2019, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsValidDate(c.day, c.month, c.year), c.valid) << c.day << "/" << c.month << "/" << c.year;
}

} // namespace
