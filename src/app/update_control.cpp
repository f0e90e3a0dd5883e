#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/catalogue.h"
#include "app/main_unit.h"
#include "cards/ostra_fpga_update.h"
#include "cards/ostra_tiva_update.h"
#include "mcu/local_io_fpga_update.h"
#include "mcu/surface_tiva_update.h"
#include "platform/files.h"
#include "surface/hex_update.h"
#include "surface/isa_serial.h"
#include "surface/surface_update.h"

namespace ravelin::app {

std::string OverloadText(uint16_t code, uint32_t detail) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08X", detail);
    const std::string head = "Overload\r\n";
    switch (code) {
    case 32: return head + "Engine DSP  Queue overflow";
    case 129: return head + "Input Processing " + hex + " Queue overflow";
    case 130: return head + "Serial Port " + hex + " Queue overflow";
    case 131: return head + "Automation Database " + hex + " Queue overflow";
    case 132: return head + "Serial Port Input " + hex + " Queue overflow";
    case 133: return head + "Serial Port " + std::to_string(static_cast<int32_t>(detail)) + " Output Queue overflow";
    case 134: return head + "Console Network Input from " + hex + " Queue overflow";
    case 135: return head + "Console Network Output Queue overflow";
    case 136: return head + "ISA Input Queue overflow " + std::to_string(static_cast<int32_t>(detail)) + " free";
    case 137: return head + "KL1Driver Serial Port Output Queue overflow";
    case 138:
        return "Serial Port " + std::to_string(detail & 0xFFFF) + " NAK " + std::to_string(detail >> 16) +
               " received";
    default: return head + "unknown message " + std::to_string(code);
    }
}

void TMainForm::SetMessagePanel(const std::string& text) {
    display_.Message = text;
    Changed();
}

void TMainForm::SetProgressLabel(const std::string& text) {
    display_.Progress = text;
    Changed();
}

void TMainForm::DisplayMessage(const std::string& text) {
    display_.Message = " " + text;
    Changed();
    if (view_) view_->RepaintNow();
    // Every message during an update counts as a sign of progress.
    if (updatingRow_ != 0) ProgressUpdate();
}

void TMainForm::ShowLinkError(const std::string& text) {
    display_.Message = " " + text;
    Changed();
    if (view_) view_->RepaintNow();
}

void TMainForm::DisplayStatus(const std::string& text) {
    display_.Status = text;
    Changed();
}

void TMainForm::WriteLog(const std::string& text) { log_->WriteLog(text); }

void TMainForm::StepProgress(int32_t amount) {
    ++packetCount_;
    downloadProgress_ += amount;
    ProgressUpdate();
}

void TMainForm::StepFraction(float fraction) {
    ++packetCount_;
    downloadProgress_ = static_cast<int32_t>(std::lround(fraction * 100.0f));
    ProgressUpdate();
}

void TMainForm::ProgressUpdate() {
    updateTimeoutCount_ = 60;
    display_.Progress = std::to_string(packetCount_);
    int dest = 0;
    if (downloadFileSize_ != 0) {
        int64_t scaled = static_cast<int64_t>(downloadProgress_) * 1000;
        dest = static_cast<int>(std::nearbyint(static_cast<double>(scaled) / downloadFileSize_));
    }
    // The meters show 0 to 999.
    dest = std::clamp(dest, 0, 999);
    display_.DestMeter = dest;
    display_.SourceMeter = 999 - dest;
    Changed();
    if (view_) view_->RepaintNow();
}

void TMainForm::EndUpdate() {
    display_.CloseEnabled = true;
    updatingRow_ = 0;
    updateTimeoutCount_ = 0;
    display_.FlashProgress.clear();
    display_.MetersVisible = false;
    display_.BusyCursor = false;
    display_.CurrentRow = 4;
    Changed();
}

void TMainForm::FinishUpdate() {
    if (updatingRow_ == 0) return; // an update ends once
    if (updatingRow_ > 0 && updatingRow_ <= 255) UpdatedRows.set(static_cast<size_t>(updatingRow_));
    lastResult_ = {updatingRow_, true};
    EndUpdate();
    display_.Progress = "update successful";
    log_->WriteLog("update successful");
    display_.Status.clear();
    Changed();
}

void TMainForm::CancelUpdate(const std::string& progressText) {
    if (updatingRow_ == 0) return; // an update ends once
    if (!progressText.empty()) display_.Progress = progressText;
    lastResult_ = {updatingRow_, false};
    // The failure text stays in the message line for 50 s before the next 5-second step.
    refreshCount_ = 100;
    EndUpdate();
    display_.Status = "update aborted";
    log_->WriteLog(display_.Progress + ": " + display_.Message);
    Changed();
}

void TMainForm::HideUpdate() {
    EndUpdate();
    display_.UpdatingVisible = false;
    display_.Filename.clear();
    display_.Device.clear();
    display_.Progress.clear();
    display_.Status.clear();
    if (display_.Message.find("Error") == std::string::npos) display_.Message = " select a file to update";
    display_.MetersVisible = false;
    Changed();
}

bool TMainForm::GridSelectCell(int col, int row) {
    if (updatingRow_ != 0) return false;
    display_.CurrentCol = col;
    display_.CurrentRow = row;
    Changed();
    return true;
}

void TMainForm::GridMouseDown(int col, int row) {
    if (UpdateBusy() || col != ColCount - 1 || !UpdateValid(row)) return;
    display_.CurrentCol = col;
    display_.CurrentRow = row;
    if (view_) view_->RowChanged(row);
    StartUpdate(row);
}

void TMainForm::ReleaseEndedUpdate() {
    if (updatingRow_ != 0 || !running_ || running_->StepsLeft()) return;
    surfaceUpdate_ = nullptr;
    ostraTivaUpdate_ = nullptr;
    running_.reset();
}

void TMainForm::StartUpdate(int nRow) {
    if (UpdateBusy()) return;
    display_.BusyCursor = true;
    display_.CloseEnabled = false;
    updatingRow_ = nRow;
    packetCount_ = 0;
    downloadProgress_ = 0;
    display_.SourceMeter = 999;
    display_.DestMeter = 0;
    display_.MetersVisible = true;
    display_.UpdatingVisible = true;
    display_.Filename = grid_.Cell(ColFile, nRow);
    std::string device;
    for (int r = nRow; r >= 0 && device.empty(); --r) device = grid_.Cell(ColDevice, r);
    display_.Device = "to " + device;
    updateTimeoutCount_ = 60;
    display_.Progress.clear();
    display_.Status = "packets sent";
    display_.Message = " starting update";
    Changed();
    if (view_) view_->RepaintNow();
    platform::files::setCurrentDirectory(globals_.FolderOnDisk);
    log_->WriteLog("updating " + display_.Filename + " " + display_.Device);

    // The dispatch by row. A row whose device or path is missing starts
    // nothing: the watchdog then ends the update with "no response".
    const std::string file = grid_.Cell(ColFile, nRow);
    if (nRow >= 1 && nRow <= 3) {
        static const int kTypes[4] = {0, 2, 5, 3};
        running_ = engine_->NewEngineDownload(file, kTypes[nRow], EngineFileTypeName(kTypes[nRow]));
    } else if (nRow >= 5 && nRow <= 7) {
        running_ = NewHostUpdate(nRow);
    } else if (nRow >= 8 && nRow <= 12) {
        const int port = nRow - 8;
        // Panels whose microcontroller has a boot loader are updated through
        // it, never by hex lines: a binary image is no text.
        if (surface::InSlotSet(surface_->TivaPorts, port)) {
            auto tiva = std::make_unique<mcu::SurfaceTivaUpdate>(*this, *surface_, *services_.clock,
                                                                 grid_.Cell(ColDescription, nRow), file, port);
            surfaceUpdate_ = tiva.get();
            running_ = std::move(tiva);
        } else {
            auto hex = std::make_unique<surface::HexFileUpdate>(*this, *surface_, file, port);
            surfaceUpdate_ = hex.get();
            running_ = std::move(hex);
        }
    } else if (nRow == 13) {
        if (LocalIOIsTiva) {
            auto fpga = std::make_unique<mcu::LocalIOFPGAUpdate>(*this, *surface_, file);
            surfaceUpdate_ = fpga.get();
            running_ = std::move(fpga);
        }
    } else if (nRow >= 15 && nRow <= 18) {
        // A missing slot or link ends the update at once with "no response".
        cards::tOstraSlot* slot = OstraSlot((nRow - 15) / 2);
        if ((nRow - 15) % 2 == 0) {
            auto tiva = std::make_unique<cards::OstraTivaUpdate>(*this, slot, globals_.FolderOnDisk, "Ostra\\" + file);
            ostraTivaUpdate_ = tiva.get();
            running_ = std::move(tiva);
        } else {
            running_ = std::make_unique<cards::OstraFPGAUpdate>(*this, slot, globals_.FolderOnDisk, "Ostra\\" + file);
        }
    } else if (nRow >= FirstRackRow && !file.empty()) {
        if (const int rack = RackOfRow(nRow)) running_ = engine_->NewRackDownload(rack, "Racks\\" + file);
    }
    if (!running_) return;
    try {
        running_->Start();
    } catch (const std::exception& e) {
        LogException(e.what());
    }
    ReleaseEndedUpdate();
}

} // namespace ravelin::app
