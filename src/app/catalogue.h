#pragma once
#include <cstdint>
#include <string>

// The update files of every device and how the "available" version is read
// out of each kind of file. Everything here is a pure function of its
// arguments and of the files on disk: the caller passes the program folder,
// and the refresh calls these every 500 ms, so each reader opens, reads as
// little as it needs and closes again.
namespace ravelin::app {

// The local I/O microcontroller image. Its presence in the program folder
// turns the local I/O panels over to the bootloader update.
inline constexpr const char* LocalIOTivaFile = "tarvola_local_io_mk2.bin";

// Engine code files by engine file type 0..5, from the set the engine
// reported (0 or 1). "" for any other set and for a type without a file.
std::string EngineFileName(int fileType, int engineFileSet);
// "Engine", "Loader", "Host", "Effects", "FX2", "FPGA"; "" outside 0..5.
std::string EngineFileTypeName(int fileType);

// The panel code file for a panel type (after SurfacePanelType); "" for a
// type without a file and for -1 (no panel).
std::string SurfaceFileNameForType(int panelType);
// The local I/O panels, whose code may come as the microcontroller image.
bool IsLocalIOHexType(int panelType);
// Types 145-150 use LocalIOTivaFile when the panel reports a version above
// 100 (it already runs the bootloader-updated code), or reports less than 10
// (nothing useful yet) and the image is in the folder.
bool UsesLocalIOTiva(int panelType, uint16_t panelVersion, bool tivaFileExists);
// The KR40 panels only count when their code file is there; without it the
// console is the fader-pod variant (type 27 on port 0, nothing elsewhere).
int SurfacePanelType(int panelType, int port, bool kr40WorkSurfaceExists);

// Rack files in "Racks" by rack type; "" for types without a file.
std::string RackCodeFileName(int rackType);
std::string RackFPGAFileName(int rackType);

// The byte (or two bytes, high first) that follows the word "version" and
// one separator byte. 0 when the file is missing, has no "version" or ends
// before the value.
uint16_t VersionAfterMarker(const std::string& path, bool twoBytes);
// The Intel-HEX panel code's version: the fifth data byte of the record at
// address 0800. 0 without such a record, or when it is the last line.
uint8_t HexMarkerVersion(const std::string& path);
// The available version of a panel code file in the program folder: "" or a
// missing file give 0; ".bin" in any case is read with the marker, anything
// else as Intel-HEX.
uint8_t SurfaceFileVersionOf(const std::string& programFolder, const std::string& fileName);

// The build date of an FPGA bit file (a name containing ".bit"), or the BCD
// date at offset 1542 of a rack code file; "" when there is none.
std::string BitFileDateText(const std::string& programFolder, const std::string& name);
// The local modification date of the file; "" when it does not exist.
std::string FileDateText(const std::string& programFolder, const std::string& name);
// Day, month, year within the century, century, each two BCD digits;
// "" unless they make a valid date.
std::string BcdDateText(const uint8_t bcd[4]);

// Dates are shown as "dd/mm/yyyy" throughout, so that running and available
// dates compare by their text.
std::string DateText(int day, int month, int year);
// Strict "d/m/yyyy" with one or two digits for day and month and four for
// the year, forming a valid calendar date.
bool ParseDateText(const std::string& text, int& day, int& month, int& year);
bool IsValidDate(int day, int month, int year);

// "" for 0; the number in decimal, or high "." low for a two-byte version.
std::string VersionText(uint16_t value, bool twoBytes);

} // namespace ravelin::app
