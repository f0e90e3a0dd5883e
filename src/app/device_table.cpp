#include "app/device_table.h"

namespace ravelin::app {

bool IsHeaderRow(int row) { return row == 4 || row == 8 || row == 14 || row == 19; }

DeviceTable::DeviceTable() : cells_(InitialRowCount) {}

const std::string& DeviceTable::Cell(int col, int row) const {
    static const std::string empty;
    if (row < 0 || row >= RowCount() || col < 0 || col >= ColCount) return empty;
    return cells_[row][col];
}

void DeviceTable::SetCell(int col, int row, const std::string& text) {
    if (row < 0 || col < 0 || col >= ColCount) return;
    if (row >= RowCount()) return;
    if (cells_[row][col] == text) return;
    cells_[row][col] = text;
    if (OnRowChanged) OnRowChanged(row);
}

void DeviceTable::GrowTo(int rows) {
    if (rows > RowCount()) cells_.resize(rows);
}

} // namespace ravelin::app
