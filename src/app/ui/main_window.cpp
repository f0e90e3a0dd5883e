#include "app/ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <exception>
#include <memory>

#include "app/globals.h"
#include "app/main_unit.h"
#include "app/system_services.h"
#include "app/ui/artwork.h"
#include "app/ui/grid_view.h"
#include "app/ui/main_form_window.h"
#include "app/ui/qt_event_loop.h"
#include "platform/clock.h"
#include "platform/timer_thread.h"
#include "surface/com_ports.h"

namespace ravelin::ui {

namespace {

const QColor kWindowColour(157, 162, 187);
const QColor kLabelColour(0, 0, 128);
const QColor kMessageColour(173, 181, 218);

// Where the arrow and the logo sit; the background bands end at them.
constexpr int kArrowTop = 440, kLogoTop = 677;
constexpr int kInputHoldMs = 150;

// Labels show the texts as they are; a CR LF inside a status text breaks the line.
QString LabelText(const std::string& s) {
    QString t = ToQString(s);
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return t;
}

// The message line is one line high.
QString LineText(const std::string& s) {
    QString t = ToQString(s);
    t.replace(QLatin1String("\r\n"), QLatin1String(" "));
    t.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return t;
}

void SetText(QLabel* label, const QString& text) {
    if (label->text() != text) label->setText(text);
}

QProgressBar* NewMeter(QWidget* parent, int left) {
    auto* m = new QProgressBar(parent);
    m->setOrientation(Qt::Vertical);
    m->setRange(0, 999);
    m->setTextVisible(false);
    m->setGeometry(left, 368, 13, 205);
    // A plain bar with a black border, one colour over its whole height.
    m->setStyleSheet(QStringLiteral("QProgressBar { border: 1px solid black; background: transparent; }"
                                    "QProgressBar::chunk { background: rgb(64, 128, 255); }"));
    m->hide();
    return m;
}

QLabel* NewLabel(QWidget* parent, const QRect& geometry, bool bold, int pixelSize = 12) {
    auto* l = new QLabel(parent);
    QFont f = WindowFont(pixelSize);
    f.setBold(bold);
    l->setFont(f);
    l->setGeometry(geometry);
    l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    l->setTextFormat(Qt::PlainText);
    return l;
}

} // namespace

MainFormWindow::MainFormWindow(app::TMainForm& form, QtEventLoop& loop)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      form_(form), loop_(loop) {
    setFixedSize(840, 704);
    setFont(WindowFont());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kWindowColour);
    pal.setColor(QPalette::WindowText, kLabelColour);
    setPalette(pal);
    setAutoFillBackground(false);

    grid_ = new GridView(form_, this);
    grid_->setGeometry(4, 20, 643, 654);
    // The text cells keep the black of the console's grid.
    QPalette gridPal = grid_->palette();
    gridPal.setColor(QPalette::WindowText, Qt::black);
    grid_->setPalette(gridPal);

    auto* title = NewLabel(this, QRect(402, 3, 120, 15), true);
    title->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    title->setText(QStringLiteral("code versions"));

    closeButton_ = new QPushButton(QStringLiteral("Close"), this);
    closeButton_->setGeometry(757, 8, 75, 25);
    QPalette buttonPal = closeButton_->palette();
    buttonPal.setColor(QPalette::WindowText, Qt::black);
    closeButton_->setPalette(buttonPal);
    connect(closeButton_, &QPushButton::clicked, this, [this] { close(); });

    // The engine's serial number, shown once the engine says which file set it runs.
    engineSerialLabelLabel_ = NewLabel(this, QRect(686, 79, 150, 15), true);
    engineSerialLabelLabel_->setText(QStringLiteral("engine serial number"));
    engineSerialLabelLabel_->hide();
    engineSerialLabel_ = NewLabel(this, QRect(685, 95, 120, 14), false, 11);
    engineSerialLabel_->hide();

    updatingLabel_ = NewLabel(this, QRect(720, 219, 80, 15), true);
    updatingLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    updatingLabel_->setText(QStringLiteral("updating"));
    updatingLabel_->hide();
    filenameLabel_ = NewLabel(this, QRect(652, 235, 185, 15), false);
    deviceLabel_ = NewLabel(this, QRect(652, 251, 185, 15), true);
    // Two pixels taller than the design, so the 15-pixel font keeps its descenders.
    progressLabel_ = NewLabel(this, QRect(652, 281, 185, 19), true, 15);
    statusLabel_ = NewLabel(this, QRect(652, 299, 185, 60), true);
    statusLabel_->setWordWrap(true);

    sourceMeter_ = NewMeter(this, 702);
    destMeter_ = NewMeter(this, 774);
    auto* arrow = new QLabel(this);
    arrow->setPixmap(ArrowPicture());
    arrow->setGeometry(730, kArrowTop, kArrowWidth, kArrowHeight);
    arrow->hide();
    arrow_ = arrow;

    messagePanel_ = new QLabel(this);
    messagePanel_->setGeometry(4, 678, 642, 21);
    messagePanel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    messagePanel_->setLineWidth(1);
    messagePanel_->setTextFormat(Qt::PlainText);
    messagePanel_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    messagePanel_->setAutoFillBackground(true);
    QPalette msgPal = messagePanel_->palette();
    msgPal.setColor(QPalette::Window, kMessageColour);
    msgPal.setColor(QPalette::WindowText, Qt::black);
    messagePanel_->setPalette(msgPal);

    auto* logo = new QLabel(this);
    logo->setPixmap(LogoPicture());
    logo->setGeometry(664, kLogoTop, kLogoWidth, kLogoHeight);

    qApp->installEventFilter(this);
}

void MainFormWindow::Sync() {
    const app::UpdateDisplay& d = form_.Display();
    const QString caption = ToQString(d.Caption);
    if (windowTitle() != caption) setWindowTitle(caption);

    updatingLabel_->setVisible(d.UpdatingVisible);
    SetText(filenameLabel_, LabelText(d.Filename));
    SetText(deviceLabel_, LabelText(d.Device));
    SetText(progressLabel_, LabelText(d.Progress));
    SetText(statusLabel_, LabelText(d.Status));
    SetText(messagePanel_, LineText(d.Message));
    engineSerialLabelLabel_->setVisible(d.EngineSerialVisible);
    engineSerialLabel_->setVisible(d.EngineSerialVisible);
    SetText(engineSerialLabel_, LabelText(d.EngineSerial));

    if (sourceMeter_->value() != d.SourceMeter) sourceMeter_->setValue(d.SourceMeter);
    if (destMeter_->value() != d.DestMeter) destMeter_->setValue(d.DestMeter);
    sourceMeter_->setVisible(d.MetersVisible);
    destMeter_->setVisible(d.MetersVisible);
    arrow_->setVisible(d.MetersVisible);
    closeButton_->setEnabled(d.CloseEnabled);

    if (d.BusyCursor != busy_) {
        busy_ = d.BusyCursor;
        if (busy_) {
            setCursor(Qt::WaitCursor);
            grid_->viewport()->setCursor(Qt::WaitCursor);
        } else {
            unsetCursor();
            grid_->viewport()->unsetCursor();
        }
    }

    grid_->Model().SyncRowCount();
    grid_->SyncCurrentCell();

    const bool updating = form_.UpdateBusy();
    if (updating_ && !updating) {
        // A panel code update keeps the thread busy from the first line to the last;
        // what the user clicked meanwhile is still queued and would reach an
        // enabled Close button or a fresh update cell. The queued input is
        // taken in the loop's next pass, well within the hold.
        inputHeld_ = true;
        QTimer::singleShot(kInputHoldMs, this, [this] { inputHeld_ = false; });
    }
    updating_ = updating;
}

bool MainFormWindow::eventFilter(QObject* watched, QEvent* e) {
    if (!inputHeld_) return false;
    switch (e->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        return true;
    case QEvent::Close:
        return watched == this && e->spontaneous();
    default:
        return false;
    }
}

void MainFormWindow::BringForward() {
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
}

void MainFormWindow::RowChanged(int row) { grid_->Model().RowChanged(row); }

void MainFormWindow::DisplayChanged() { Sync(); }

void MainFormWindow::RepaintNow() {
    // The update procedures may hold the thread for a while; what they report is shown at once.
    QWidget* shown[] = {updatingLabel_, filenameLabel_, deviceLabel_, progressLabel_, statusLabel_,
                        messagePanel_,  sourceMeter_,   destMeter_,   arrow_,         closeButton_};
    for (QWidget* w : shown)
        if (w->isVisible()) w->repaint();
}

void MainFormWindow::CloseWindow() {
    // The engine has confirmed its restart. Closed from the loop, not from
    // inside the message handler that brought the news.
    QMetaObject::invokeMethod(
        this,
        [this] {
            closingForGood_ = true;
            form_.FormClose();
            close();
            loop_.quit();
        },
        Qt::QueuedConnection);
}

void MainFormWindow::ShowErrorBox(const std::string& text) {
    // The box keeps the loop running; a fault that repeats on every tick
    // must not stack up boxes. It is logged each time all the same.
    if (errorBoxOpen_) return;
    errorBoxOpen_ = true;
    QMessageBox::critical(this, QCoreApplication::applicationName(), LabelText(text));
    errorBoxOpen_ = false;
}

void MainFormWindow::closeEvent(QCloseEvent* e) {
    if (closingForGood_) {
        e->accept();
        return;
    }
    bool mayClose = false;
    try {
        mayClose = form_.FormCloseQuery();
    } catch (const std::exception& ex) {
        form_.LogException(ex.what());
    }
    if (!mayClose) {
        e->ignore();
        return;
    }
    closingForGood_ = true;
    try {
        form_.FormClose();
    } catch (const std::exception& ex) {
        form_.LogException(ex.what());
    }
    e->accept();
    loop_.quit();
}

void MainFormWindow::paintEvent(QPaintEvent*) {
    // Lighter at the top, a second light band under the arrow, the plain colour from the logo down.
    QPainter p(this);
    const int w = width();
    const int band1 = kArrowTop + kArrowHeight / 2;
    const int band2 = band1 + (kLogoTop - kArrowTop) / 2;
    auto band = [&](int top, int bottom, const QColor& from, const QColor& to) {
        QLinearGradient g(0, top, 0, bottom);
        g.setColorAt(0, from);
        g.setColorAt(1, to);
        p.fillRect(QRect(0, top, w, bottom - top), g);
    };
    band(0, band1, ScaleColour(kWindowColour, 1.2), kWindowColour);
    band(band1, band2, kWindowColour, ScaleColour(kWindowColour, 1.1));
    band(band2, kLogoTop, ScaleColour(kWindowColour, 1.1), kWindowColour);
    p.fillRect(QRect(0, kLogoTop, w, height() - kLogoTop), kWindowColour);
}

int RunMainWindow(int argc, char** argv, const std::string& folder, platform::InstanceLock& lock) {
    // Qt keeps a reference to the count for the application's lifetime.
    static int qtArgc;
    qtArgc = argc;
    QApplication app(qtArgc, argv);
    InstallFontSubstitutes();
    QApplication::setApplicationName(QString::fromLatin1(app::ApplicationTitle));

    QtEventLoop loop;

    auto form = std::make_unique<app::TMainForm>(app::SystemServices(loop, folder), folder);
    loop.setExceptionHandler([f = form.get()](const std::string& what) { f->LogException(what); });
    auto window = std::make_unique<MainFormWindow>(*form, loop);
    form->SetView(window.get());
    try {
        form->FormCreate();
    } catch (const std::exception& e) {
        form->LogException(e.what());
    }
    form->StartTimers();
    window->Sync();

    window->show();
    if (QScreen* screen = window->screen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }

    // The knock comes on the lock's own thread; the window is only touched on the loop.
    MainFormWindow* w = window.get();
    lock.onKnock([&loop, w] { loop.post([w] { w->BringForward(); }); });

    loop.run();

    lock.onKnock(nullptr);
    if (!form->Closed()) form->FormClose();
    // From here nothing queued runs any more and waiting workers give up.
    loop.shutdown();
    form->SetView(nullptr);
    window.reset();
    form.reset();
    surface::SetComPortServices({});
    return 0;
}

} // namespace ravelin::ui
