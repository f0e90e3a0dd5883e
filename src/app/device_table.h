#pragma once
#include <array>
#include <functional>
#include <string>
#include <vector>

// The inventory grid: seven text columns, row 0 the header, one row per
// updatable device grouped under header rows; rack rows make it grow.
namespace ravelin::app {

inline constexpr int ColCount = 7;
inline constexpr int ColDevice = 0, ColDescription = 1, ColFile = 2, ColRunning = 3,
                     ColAvailable = 4, ColRequired = 5, ColUpdate = 6;
inline constexpr int InitialRowCount = 32;
inline constexpr int FirstRackRow = 20;
inline constexpr const char* UpdateCellText = "  update";
inline constexpr const char* NoFPGADateText = "        ";  // 8 spaces: not reported

// Rows 4, 8, 14 and 19 only name their group and are never updatable.
bool IsHeaderRow(int row);

class DeviceTable {
public:
    DeviceTable();
    int RowCount() const { return static_cast<int>(cells_.size()); }
    const std::string& Cell(int col, int row) const;
    // Writes only a changed text, and then tells the observer the row changed.
    void SetCell(int col, int row, const std::string& text);
    // Never shrinks.
    void GrowTo(int rows);
    std::function<void(int row)> OnRowChanged;

private:
    std::vector<std::array<std::string, ColCount>> cells_;
};

} // namespace ravelin::app
