#include "app/ui/grid_view.h"

#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <exception>

#include "app/device_table.h"
#include "app/ui/artwork.h"

namespace ravelin::ui {

namespace {

const QColor kCellColour(185, 188, 208);
const QColor kHeaderColour(155, 164, 202);
const QColor kUpdateColour(188, 167, 158);
const QColor kUpdatePressedColour(232, 114, 62);
const QColor kLineColour(128, 128, 128);
} // namespace

QString ToQString(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

QColor ScaleColour(const QColor& c, double factor) {
    auto scale = [factor](int v) { return std::clamp(static_cast<int>(std::nearbyint(v * factor)), 0, 255); };
    return QColor(scale(c.red()), scale(c.green()), scale(c.blue()));
}

// ---- model ----

GridModel::GridModel(const app::TMainForm& form, QObject* parent)
    : QAbstractTableModel(parent), form_(form), rows_(std::max(0, form.Grid().RowCount() - 1)) {}

int GridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int GridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : app::ColCount; }

QVariant GridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole) return {};
    return ToQString(form_.Grid().Cell(index.column(), index.row() + 1));
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return ToQString(form_.Grid().Cell(section, 0));
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled : Qt::NoItemFlags;
}

void GridModel::SyncRowCount() {
    int n = form_.Grid().RowCount() - 1;
    if (n <= rows_) return;
    beginInsertRows(QModelIndex(), rows_, n - 1);
    rows_ = n;
    endInsertRows();
}

void GridModel::RowChanged(int row) {
    SyncRowCount();
    if (row == 0) {
        emit headerDataChanged(Qt::Horizontal, 0, app::ColCount - 1);
    } else if (row >= 1 && row <= rows_) {
        emit dataChanged(index(row - 1, 0), index(row - 1, app::ColCount - 1));
    }
}

// ---- drawing ----

void PaintGridCell(QPainter* p, const QRect& cellRect, const app::TMainForm& form, int col, int row) {
    const app::DeviceTable& grid = form.Grid();
    const app::UpdateDisplay& d = form.Display();
    // The last pixel column and row are the grid line shared with the neighbours.
    const QRect r = cellRect.adjusted(0, 0, -1, -1);

    const bool updateCell = col == app::ColUpdate && form.UpdateValid(row);
    int pressed = 0;
    QColor base = kCellColour;
    if (row == 0) {
        base = kHeaderColour;
    } else if (updateCell) {
        if (d.CurrentRow == row && d.CurrentCol == col) {
            base = kUpdatePressedColour;
            pressed = 1;
        } else {
            base = kUpdateColour;
        }
    }
    const QColor light = ScaleColour(base, 1.2);

    p->save();
    p->setRenderHint(QPainter::Antialiasing, false);
    const bool named = !grid.Cell(app::ColDevice, row).empty() || !grid.Cell(app::ColDescription, row).empty();
    if (named && !app::IsHeaderRow(row)) {
        QLinearGradient g(r.topLeft(), r.bottomLeft());
        g.setColorAt(0, light);
        g.setColorAt(1, base);
        p->fillRect(r, g);
    } else {
        p->fillRect(r, base);
    }

    p->setPen(kLineColour);
    p->drawLine(cellRect.topRight(), cellRect.bottomRight());
    p->drawLine(cellRect.bottomLeft(), cellRect.bottomRight());
    if (updateCell || row == 0) {
        QColor hi = ScaleColour(light, 1.4), lo = ScaleColour(light, 0.6);
        if (pressed) std::swap(hi, lo);
        p->setPen(hi);
        p->drawLine(r.left(), r.top(), r.right(), r.top());
        p->drawLine(r.left(), r.top(), r.left(), r.bottom());
        p->setPen(lo);
        p->drawLine(r.left(), r.bottom(), r.right(), r.bottom());
        p->drawLine(r.right(), r.top(), r.right(), r.bottom());
    }

    if (col != app::ColRequired || row == 0) {
        QFont f = p->font();
        f.setBold(col == app::ColDevice || row == 0 || app::IsHeaderRow(row));
        p->setFont(f);
        p->setPen(Qt::black);
        QRect text = r.adjusted(3 + pressed, 3 + pressed, 0, 0);
        p->drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                    ToQString(grid.Cell(col, row)));
    } else if (form.UpdateRequired(row)) {
        p->drawPixmap(r.left() + (cellRect.width() - kTickWidth) / 2, r.top() + 3, TickPicture());
    }
    p->restore();
}

void GridDelegate::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    p->save();
    p->setFont(option.font);
    PaintGridCell(p, option.rect, form_, index.column(), index.row() + 1);
    p->restore();
}

GridHeader::GridHeader(const app::TMainForm& form, QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent), form_(form) {}

void GridHeader::paintSection(QPainter* p, const QRect& rect, int logicalIndex) const {
    if (!rect.isValid()) return;
    p->save();
    p->setFont(font());
    PaintGridCell(p, rect, form_, logicalIndex, 0);
    p->restore();
}

// ---- view ----

GridView::GridView(app::TMainForm& form, QWidget* parent) : QTableView(parent), form_(form) {
    model_ = new GridModel(form, this);
    setModel(model_);
    auto* header = new GridHeader(form, this);
    setHorizontalHeader(header);
    setItemDelegate(new GridDelegate(form, this));

    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The main window keeps the selected cell; the view only shows it.
    setSelectionMode(QAbstractItemView::NoSelection);
    setTabKeyNavigation(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);

    static const int kWidths[app::ColCount] = {64, 106, 194, 68, 68, 51, 64};
    header->setMinimumSectionSize(1);
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setStretchLastSection(false);
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setFixedHeight(20);
    for (int c = 0; c < app::ColCount; ++c) header->resizeSection(c, kWidths[c]);
    // Right of the last column the grid shows its cell colour, header row included.
    QPalette headerPal = header->palette();
    headerPal.setColor(QPalette::Window, kCellColour);
    headerPal.setColor(QPalette::Button, kCellColour);
    header->setPalette(headerPal);

    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(20);

    QPalette pal = palette();
    pal.setColor(QPalette::Base, kCellColour);
    setPalette(pal);
}

void GridView::UpdateGridRow(int row) {
    if (row >= 1 && row <= model_->rowCount()) model_->RowChanged(row);
}

void GridView::SyncCurrentCell() {
    const auto& d = form_.Display();
    if (d.CurrentRow == shownRow_ && d.CurrentCol == shownCol_) return;
    int oldRow = shownRow_;
    shownRow_ = d.CurrentRow;
    shownCol_ = d.CurrentCol;
    UpdateGridRow(oldRow);
    UpdateGridRow(shownRow_);
    if (shownRow_ >= 1 && shownRow_ <= model_->rowCount())
        selectionModel()->setCurrentIndex(model_->index(shownRow_ - 1, shownCol_), QItemSelectionModel::NoUpdate);
}

void GridView::Press(const QPoint& pos) {
    QModelIndex idx = indexAt(pos);
    if (!idx.isValid()) return;
    const int col = idx.column(), row = idx.row() + 1;
    try {
        // The grid selects the cell first and then reports the press, as the
        // console's own grid does; both are refused while an update runs.
        form_.GridSelectCell(col, row);
        form_.GridMouseDown(col, row);
    } catch (const std::exception& e) {
        form_.LogException(e.what());
    }
    SyncCurrentCell();
}

void GridView::mousePressEvent(QMouseEvent* e) {
    setFocus(Qt::MouseFocusReason);
    Press(e->position().toPoint());
    e->accept();
}

// The second press of a double click is a press like any other.
void GridView::mouseDoubleClickEvent(QMouseEvent* e) {
    Press(e->position().toPoint());
    e->accept();
}

// No range selection and no dragging.
void GridView::mouseMoveEvent(QMouseEvent* e) { e->accept(); }
void GridView::mouseReleaseEvent(QMouseEvent* e) { e->accept(); }

void GridView::keyPressEvent(QKeyEvent* e) {
    CursorAction action;
    switch (e->key()) {
    case Qt::Key_Up: action = MoveUp; break;
    case Qt::Key_Down: action = MoveDown; break;
    case Qt::Key_Left: action = MoveLeft; break;
    case Qt::Key_Right: action = MoveRight; break;
    case Qt::Key_PageUp: action = MovePageUp; break;
    case Qt::Key_PageDown: action = MovePageDown; break;
    case Qt::Key_Home: action = MoveHome; break;
    case Qt::Key_End: action = MoveEnd; break;
    default: e->ignore(); return;
    }
    QModelIndex next = moveCursor(action, e->modifiers());
    if (next.isValid() && form_.GridSelectCell(next.column(), next.row() + 1)) SyncCurrentCell();
    e->accept();
}

} // namespace ravelin::ui
