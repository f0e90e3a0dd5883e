// The window drawn off screen and probed pixel by pixel where its layout puts
// fixed colours: the background bands, the cells with their gradients and
// bevels, the tick, the meters. Texts are left out of the probes, since their
// rendering differs from machine to machine; their fit is checked by metrics.
#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>

#include <cstdlib>
#include <memory>

#include "app/main_form_fixture.h"
#include "app/ui/artwork.h"
#include "app/ui/grid_view.h"
#include "app/ui/main_form_window.h"
#include "app/ui/qt_event_loop.h"

namespace ravelin::app::testing {
namespace {

using ui::ScaleColour;

QApplication& App() {
    static int argc = 1;
    static char name[] = "ui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        auto* a = new QApplication(argc, argv);
        ui::InstallFontSubstitutes();
        return a;
    }();
    return *app;
}

const QColor kWindow(157, 162, 187);
const QColor kCell(185, 188, 208);
const QColor kHeader(155, 164, 202);
const QColor kUpdate(188, 167, 158);
const QColor kPressed(232, 114, 62);
const QColor kLine(128, 128, 128);
const QColor kMeter(64, 128, 255);
const int kColumnWidths[ColCount] = {64, 106, 194, 68, 68, 51, 64};

// Within `tolerance` in every channel: for gradients, where the rounding of
// the steps is the painter's own.
::testing::AssertionResult Near(const QColor& got, const QColor& want, int tolerance) {
    if (std::abs(got.red() - want.red()) <= tolerance && std::abs(got.green() - want.green()) <= tolerance &&
        std::abs(got.blue() - want.blue()) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << got.name().toStdString() << ", want "
                                         << want.name().toStdString() << " within " << tolerance;
}

class WindowTest : public MainFormTest {
protected:
    void SetUp() override {
        App();
        MainFormTest::SetUp();
        Kr60();
        SerialPorts({{4, 14}});
        panel = &Panel(14, 134, 11);
        std::string hex = ":10080000000000000C000000000000000000000000DC\r\n";
        for (int i = 1; i < 8; ++i) hex += ":0400000" + std::to_string(i) + "00112233XX\r\n";
        hex += ":00000001FF\r\n";
        WriteFile(folder / "KR60GPIO.hex", hex);
        Create();
        qtLoop = std::make_unique<ui::QtEventLoop>();
        window = std::make_unique<ui::MainFormWindow>(*form, *qtLoop);
        form->SetView(window.get());
        window->Sync();
        window->show();
        Run(1500);
        ASSERT_EQ(Cell(ColUpdate, 12), UpdateCellText);
        ASSERT_TRUE(form->UpdateRequired(12));
    }
    void TearDown() override {
        form->SetView(nullptr);
        window.reset();
        qtLoop.reset();
        MainFormTest::TearDown();
    }

    QImage Shot() {
        QApplication::processEvents();
        return window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    QColor At(const QImage& img, int x, int y) { return img.pixelColor(x, y); }

    // Where the grid puts cell (col, row) in window pixels, from the view's own
    // header and viewport, whose placement the layout test pins down.
    QRect CellRect(int col, int row) {
        auto* grid = window->findChild<ui::GridView*>();
        int x = 0;
        for (int c = 0; c < col; ++c) x += kColumnWidths[c];
        QPoint origin = grid->horizontalHeader()->mapTo(window.get(), QPoint(0, 0));
        return QRect(origin.x() + x, origin.y() + 20 * row, kColumnWidths[col], 20);
    }

    // The bevel of an update cell or header cell, raised or pressed.
    void ExpectBevel(const QImage& img, const QRect& cell, const QColor& base, bool pressed) {
        const QColor light = ScaleColour(base, 1.2);
        QColor hi = ScaleColour(light, 1.4), lo = ScaleColour(light, 0.6);
        if (pressed) std::swap(hi, lo);
        // Above the text, which may run past a narrow cell's right edge.
        const int midX = cell.left() + cell.width() / 2, midY = cell.top() + 1;
        EXPECT_EQ(At(img, midX, cell.top()), hi) << "top edge";
        EXPECT_EQ(At(img, cell.left(), midY), hi) << "left edge";
        EXPECT_EQ(At(img, midX, cell.bottom() - 1), lo) << "bottom edge";
        EXPECT_EQ(At(img, cell.right() - 1, midY), lo) << "right edge";
    }

    // Both meters are one bar in the meter colour; together they fill the inside.
    int BlueRun(const QImage& img, int x) {
        int n = 0;
        for (int y = 369; y < 368 + 205 - 1; ++y) n += At(img, x, y) == kMeter;
        return n;
    }

    void ExpectTickIn(const QImage& img, const QRect& cell) {
        QImage tick = ui::TickPicture().toImage().convertToFormat(QImage::Format_ARGB32);
        int opaque = 0;
        for (int y = 0; y < tick.height(); ++y)
            for (int x = 0; x < tick.width(); ++x) {
                QColor t = tick.pixelColor(x, y);
                if (t.alpha() != 255) continue;
                ++opaque;
                EXPECT_TRUE(Near(At(img, cell.left() + 18 + x, cell.top() + 3 + y), t, 1))
                    << "tick pixel " << x << "," << y;
            }
        EXPECT_GT(opaque, 10);
    }

    PanelModel* panel = nullptr;
    std::unique_ptr<ui::QtEventLoop> qtLoop;
    std::unique_ptr<ui::MainFormWindow> window;
};

TEST_F(WindowTest, LayoutPlacesTheGridAndTheCellsWhereTheyBelong) {
    EXPECT_EQ(window->size(), QSize(840, 704));
    auto* grid = window->findChild<ui::GridView*>();
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->geometry(), QRect(4, 20, 643, 654));
    for (int c = 0; c < ColCount; ++c) EXPECT_EQ(grid->columnWidth(c), kColumnWidths[c]) << c;
    EXPECT_EQ(grid->rowHeight(0), 20);
    EXPECT_EQ(grid->horizontalHeader()->height(), 20);
    // The cells start inside the grid's frame and follow each other without gaps.
    QPoint header = grid->horizontalHeader()->mapTo(window.get(), QPoint(0, 0));
    QPoint cells = grid->viewport()->mapTo(window.get(), QPoint(0, 0));
    EXPECT_LE(header.x() - 4, 2);
    EXPECT_LE(header.y() - 20, 2);
    EXPECT_EQ(cells, header + QPoint(0, 20));
    EXPECT_EQ(grid->visualRect(grid->model()->index(11, ColRequired)).topLeft() + cells,
              CellRect(ColRequired, 12).topLeft());
}

TEST_F(WindowTest, DatesAndNamesFitTheirCellsInTheWindowFont) {
    QFontInfo info(ui::WindowFont());
    EXPECT_TRUE(info.family() == "Arial" || info.family() == "Liberation Sans") << info.family().toStdString();
    QFontMetrics normal(ui::WindowFont());
    QFont boldFont = ui::WindowFont();
    boldFont.setBold(true);
    QFontMetrics bold(boldFont);
    // Text starts 3 pixels in; the last pixel is the grid line.
    EXPECT_LE(normal.horizontalAdvance("14/03/2020"), 68 - 4);
    EXPECT_LE(bold.horizontalAdvance(" available"), 68 - 4);
    EXPECT_LE(normal.horizontalAdvance("tarvola_local_io_mk2_FPGA.bit"), 194 - 4);
}

TEST_F(WindowTest, AtStartTheBandsTheCellsAndTheTickAreDrawn) {
    QImage img = Shot();
    // The background, right of every control: three bands down to the logo's top.
    const int x = 838;
    EXPECT_EQ(At(img, x, 0), ScaleColour(kWindow, 1.2));
    EXPECT_TRUE(Near(At(img, x, 465), kWindow, 2));
    EXPECT_TRUE(Near(At(img, x, 466), kWindow, 2));
    EXPECT_TRUE(Near(At(img, x, 583), ScaleColour(kWindow, 1.1), 2));
    EXPECT_TRUE(Near(At(img, x, 584), ScaleColour(kWindow, 1.1), 2));
    EXPECT_TRUE(Near(At(img, x, 525), QColor(165, 170, 197), 3)) << "halfway down the second band";
    EXPECT_TRUE(Near(At(img, x, 676), kWindow, 2));
    EXPECT_EQ(At(img, x, 690), kWindow);
    EXPECT_EQ(At(img, 2, 690), kWindow);

    // The header row: gradient and a raised bevel in every column.
    for (int c = 0; c < ColCount; ++c) {
        SCOPED_TRACE(c);
        ExpectBevel(img, CellRect(c, 0), kHeader, false);
    }
    // A named row: gradient from the light top to the base colour; grey lines between cells.
    QRect file12 = CellRect(ColFile, 12);
    EXPECT_TRUE(Near(At(img, file12.center().x() + 40, file12.top() + 1), ScaleColour(kCell, 1.2), 6));
    EXPECT_TRUE(Near(At(img, file12.center().x() + 40, file12.bottom() - 1), kCell, 6));
    EXPECT_EQ(At(img, file12.right(), file12.center().y()), kLine);
    EXPECT_EQ(At(img, file12.center().x(), file12.bottom()), kLine);
    // The header rows inside the table are flat, and so are empty rows below the racks.
    QRect header14 = CellRect(ColRunning, 14);
    EXPECT_EQ(At(img, header14.left() + 50, header14.top() + 1), kCell);
    EXPECT_EQ(At(img, header14.left() + 50, header14.bottom() - 1), kCell);
    QRect empty = CellRect(ColFile, 31);
    EXPECT_EQ(At(img, empty.left() + 150, empty.top() + 2), kCell);

    // The update cell of row 12, raised; the tick beside it.
    ExpectBevel(img, CellRect(ColUpdate, 12), kUpdate, false);
    ExpectTickIn(img, CellRect(ColRequired, 12));
    // The logo in the bottom right corner, drawn on the plain window colour.
    int logoPixels = 0;
    for (int y = 677; y < 677 + 24; ++y)
        for (int lx = 664; lx < 664 + 154; ++lx) logoPixels += At(img, lx, y) != kWindow;
    EXPECT_GT(logoPixels, 154 * 24 / 4);
    // Meters and arrow wait for an update.
    EXPECT_EQ(BlueRun(img, 708), 0);
    EXPECT_EQ(BlueRun(img, 780), 0);
}

TEST_F(WindowTest, DuringAnUpdateTheCellIsPressedAndTheMetersShareTheirHeight) {
    // The panel takes the first lines and then goes quiet: the update is caught halfway.
    panel->hexResult = [](int line, int) { return line <= 4 ? 0 : -1; };
    form->GridMouseDown(ColUpdate, 12);
    Run(200);
    ASSERT_NE(form->UpdatingRow(), 0);
    ASSERT_GT(form->Display().DestMeter, 0);
    QImage img = Shot();
    ExpectBevel(img, CellRect(ColUpdate, 12), kPressed, true);
    const int source = BlueRun(img, 708), dest = BlueRun(img, 780);
    EXPECT_GT(source, 0);
    EXPECT_GT(dest, 0);
    EXPECT_NEAR(source + dest, 203, 1) << "the bars fill the meters' inside between them";
    EXPECT_NEAR(dest, 203 * form->Display().DestMeter / 999, 1);
    // The delivered bar rises from the bottom.
    EXPECT_EQ(At(img, 780, 571), kMeter);
    EXPECT_EQ(At(img, 702, 470), Qt::black) << "the meter's border";
    // The arrow sits between the meters.
    int arrowBlue = 0;
    for (int x = 730; x < 762; ++x) arrowBlue += At(img, x, 466) == kMeter;
    EXPECT_GT(arrowBlue, 10);
}

TEST_F(WindowTest, AfterAFailureTheMetersGoAndTheCellIsRaisedAgain) {
    panel->hexResult = [](int line, int) { return line == 2 ? 5 : 0; };
    form->GridMouseDown(ColUpdate, 12);
    Run(2000);
    ASSERT_EQ(form->UpdatingRow(), 0);
    ASSERT_FALSE(form->LastResult().succeeded);
    QImage img = Shot();
    ExpectBevel(img, CellRect(ColUpdate, 12), kUpdate, false);
    ExpectTickIn(img, CellRect(ColRequired, 12));
    EXPECT_EQ(BlueRun(img, 708), 0);
    EXPECT_EQ(BlueRun(img, 780), 0);
    int arrowBlue = 0;
    for (int x = 730; x < 762; ++x) arrowBlue += At(img, x, 466) == kMeter;
    EXPECT_EQ(arrowBlue, 0);
}

} // namespace
} // namespace ravelin::app::testing
