#pragma once
#include <QWidget>

#include <string>

#include "app/main_unit.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace ravelin::ui {

class GridView;
class QtEventLoop;

// The main window on screen. It shows the main window's state (grid, update
// display, message line) and passes clicks and close requests to it; all
// decisions stay with TMainForm.
class MainFormWindow final : public QWidget, public app::MainFormView {
public:
    MainFormWindow(app::TMainForm& form, QtEventLoop& loop);

    // Takes over every text, visibility and meter of the update display.
    void Sync();
    // Restores a minimised window and brings it to the front.
    void BringForward();

    // app::MainFormView
    void RowChanged(int row) override;
    void DisplayChanged() override;
    void RepaintNow() override;
    void CloseWindow() override;
    void ShowErrorBox(const std::string& text) override;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    app::TMainForm& form_;
    QtEventLoop& loop_;
    GridView* grid_ = nullptr;
    QLabel* updatingLabel_ = nullptr;
    QLabel* filenameLabel_ = nullptr;
    QLabel* deviceLabel_ = nullptr;
    QLabel* progressLabel_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QLabel* messagePanel_ = nullptr;
    QLabel* engineSerialLabelLabel_ = nullptr;
    QLabel* engineSerialLabel_ = nullptr;
    QProgressBar* sourceMeter_ = nullptr;
    QProgressBar* destMeter_ = nullptr;
    QWidget* arrow_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    bool busy_ = false;
    bool updating_ = false;
    // Clicks and keys that were queued while an update held the thread are
    // dropped: they were meant for a window that refused them.
    bool inputHeld_ = false;
    bool closingForGood_ = false;
    bool errorBoxOpen_ = false;
};

} // namespace ravelin::ui
