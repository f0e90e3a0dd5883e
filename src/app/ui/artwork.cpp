#include "app/ui/artwork.h"

#include <QPainter>
#include <QPainterPath>

namespace ravelin::ui {

namespace {

const QColor kNavy(0, 0, 128);
const QColor kMeterBlue(64, 128, 255);
const QColor kTickGreen(0, 176, 0);

// A picture of the given size, transparent wherever `paint` leaves it alone.
template <class Paint>
QPixmap Drawn(int w, int h, bool antialiased, Paint paint) {
    QPixmap pm(w, h);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, antialiased);
    paint(p);
    p.end();
    return pm;
}

void PaintTick(QPainter& p) {
    QPainterPath tick;
    tick.moveTo(2.5, 7.0);
    tick.lineTo(6.0, 11.0);
    tick.lineTo(12.5, 2.0);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kNavy, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tick.translated(1.0, 1.0));
    p.setPen(QPen(kTickGreen, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tick);
}

void PaintArrow(QPainter& p) {
    const double w = kArrowWidth, mid = kArrowHeight / 2.0;
    QPolygonF arrow;
    arrow << QPointF(1, mid - 7) << QPointF(w - 14, mid - 7) << QPointF(w - 14, mid - 16) << QPointF(w - 1, mid)
          << QPointF(w - 14, mid + 16) << QPointF(w - 14, mid + 7) << QPointF(1, mid + 7);
    p.setPen(QPen(kNavy, 1));
    p.setBrush(kMeterBlue);
    p.drawPolygon(arrow);
}

// A row of level bars rising and falling under a navy rule: a console's
// meters, drawn from rectangles only.
void PaintLogo(QPainter& p) {
    static const int kHeights[] = {6, 10, 15, 19, 15, 10, 6, 10, 15, 19, 15, 10, 6, 10, 15, 19, 15, 10, 6};
    const int n = static_cast<int>(std::size(kHeights));
    const int step = 8, barWidth = 5;
    const int left = (kLogoWidth - (n * step - (step - barWidth))) / 2;
    const int base = kLogoHeight - 3;
    for (int i = 0; i < n; ++i) {
        const int h = kHeights[i];
        p.fillRect(QRect(left + i * step, base - h, barWidth, h), i % 2 ? kMeterBlue : kNavy);
    }
    p.fillRect(QRect(left - 2, base + 1, n * step - (step - barWidth) + 4, 2), kNavy);
}

} // namespace

const QPixmap& TickPicture() {
    static const QPixmap pm = Drawn(kTickWidth, kTickHeight, true, PaintTick);
    return pm;
}

const QPixmap& ArrowPicture() {
    static const QPixmap pm = Drawn(kArrowWidth, kArrowHeight, true, PaintArrow);
    return pm;
}

const QPixmap& LogoPicture() {
    static const QPixmap pm = Drawn(kLogoWidth, kLogoHeight, false, PaintLogo);
    return pm;
}

void InstallFontSubstitutes() {
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
}

QFont WindowFont(int pixels) {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(pixels);
    // Cells are laid out to the pixel; hinting keeps the widths the metrics promise.
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

} // namespace ravelin::ui
