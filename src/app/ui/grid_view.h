#pragma once
#include <QAbstractTableModel>
#include <QColor>
#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTableView>

#include "app/main_unit.h"

// The device table on screen. Grid row r is table row r - 1; grid row 0 is
// the header. Everything shown is read from the main window's grid at paint
// time, so the table holds no copy of its own.
namespace ravelin::ui {

// The program's texts are 8-bit, one character a byte.
QString ToQString(const std::string& s);

// Each channel times the factor, rounded half to even, limited to 0..255.
QColor ScaleColour(const QColor& c, double factor);

class GridModel final : public QAbstractTableModel {
public:
    explicit GridModel(const app::TMainForm& form, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Grid row `row` has new texts (rack rows may also have been added).
    void RowChanged(int row);
    // Picks up rows the grid has grown by.
    void SyncRowCount();

private:
    const app::TMainForm& form_;
    int rows_ = 0;
};

// Draws one cell as the console's utility always has: gradient rows, the
// update cell as a button that looks pressed when selected, the tick in the
// "required" column.
void PaintGridCell(QPainter* p, const QRect& r, const app::TMainForm& form, int col, int row);

class GridDelegate final : public QStyledItemDelegate {
public:
    GridDelegate(const app::TMainForm& form, QObject* parent) : QStyledItemDelegate(parent), form_(form) {}
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    const app::TMainForm& form_;
};

class GridHeader final : public QHeaderView {
public:
    GridHeader(const app::TMainForm& form, QWidget* parent);

protected:
    void paintSection(QPainter* p, const QRect& rect, int logicalIndex) const override;

private:
    const app::TMainForm& form_;
};

// The table: a press on a cell goes to the main window (select, then click),
// arrow keys move the selected cell only where the main window allows it.
class GridView final : public QTableView {
public:
    GridView(app::TMainForm& form, QWidget* parent);
    GridModel& Model() { return *model_; }
    // Follows the main window's selected cell.
    void SyncCurrentCell();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void Press(const QPoint& pos);
    void UpdateGridRow(int row);

    app::TMainForm& form_;
    GridModel* model_;
    int shownRow_ = -1, shownCol_ = -1;
};

} // namespace ravelin::ui
