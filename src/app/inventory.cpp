#include <cstdlib>

#include "app/catalogue.h"
#include "app/main_unit.h"
#include "cards/card_types.h"
#include "cards/ostra_tiva_update.h"
#include "mcu/surface_tiva_update.h"
#include "platform/files.h"
#include "surface/isa_serial.h"

namespace ravelin::app {

namespace {
const int kEngineRowType[4] = {0, 2, 5, 3};

bool ToInteger(const std::string& s, long long& v) {
    if (s.empty()) return false;
    char* end = nullptr;
    v = std::strtoll(s.c_str(), &end, 10);
    return end && *end == '\0';
}

// Dates compare by day count so that 02/01/2020 is later than 31/12/2019.
bool DateKey(const std::string& s, long& key) {
    int d, m, y;
    if (!ParseDateText(s, d, m, y)) return false;
    key = (static_cast<long>(y) * 12 + m) * 31 + d;
    return true;
}
} // namespace

void TMainForm::InitialiseGrid() {
    static const char* kHeader[ColCount] = {" device", "  description", "  file", "  running",
                                            "  available", "required", "  update"};
    for (int c = 0; c < ColCount; ++c) grid_.SetCell(c, 0, kHeader[c]);
    grid_.SetCell(ColDevice, 1, "Engine");
    for (int r = 1; r <= 3; ++r) grid_.SetCell(ColDescription, r, EngineFileTypeName(kEngineRowType[r]));
    grid_.SetCell(ColDescription, 4, "Host");
    if (globals_.EngineComPort != 0) grid_.SetCell(ColDevice, 5, "COM" + std::to_string(globals_.EngineComPort));
    grid_.SetCell(ColDescription, 5, "Host Interface");
    grid_.SetCell(ColFile, 5, "CorvaneTiva.dfu");
    grid_.SetCell(ColDescription, 6, "Host FPGA");
    grid_.SetCell(ColFile, 6, "Corvane_Interface_FPGA.bit");
    grid_.SetCell(ColDescription, 7, "USB Audio");
    grid_.SetCell(ColFile, 7, "xmos.bin");
    grid_.SetCell(ColDescription, 8, "Surface");
    for (int p = 1; p <= 4; ++p) {
        int com = surface_->Slots[p].ComPortNumber;
        grid_.SetCell(ColDevice, p + 8, com < 0 ? "serial " + std::to_string(p) : "COM" + std::to_string(com));
    }
    grid_.SetCell(ColDescription, 14, "Ostra cards");
    grid_.SetCell(ColDevice, 15, "Ostra 1");
    grid_.SetCell(ColDescription, 15, "Firmware");
    grid_.SetCell(ColDescription, 16, "FPGA");
    grid_.SetCell(ColDevice, 17, "Ostra 2");
    grid_.SetCell(ColDescription, 17, "Firmware");
    grid_.SetCell(ColDescription, 18, "FPGA");
    grid_.SetCell(ColDescription, 19, "Racks");
    for (int r = 1; r < grid_.RowCount(); ++r) RefreshRow(r);
}

int TMainForm::SurfacePanelTypeOf(int port) const {
    bool kr40 = platform::files::exists(platform::files::join(globals_.FolderOnDisk, "KR40worksurface.hex"));
    return SurfacePanelType(surface_->PanelType(port), port, kr40);
}

std::string TMainForm::SurfaceFileName(int port) { return SurfaceFileNameOfType(port, SurfacePanelTypeOf(port)); }

std::string TMainForm::SurfaceFileNameOfType(int port, int type) {
    std::string name = SurfaceFileNameForType(type);
    if (IsLocalIOHexType(type)) {
        bool tiva = platform::files::exists(platform::files::join(globals_.FolderOnDisk, LocalIOTivaFile));
        if (UsesLocalIOTiva(type, surface_->PanelVersion(port), tiva)) {
            name = LocalIOTivaFile;
            SetLocalIOTiva(port);
        }
    }
    return name;
}

void TMainForm::SetLocalIOTiva(int port) {
    if (!platform::files::exists(platform::files::join(globals_.FolderOnDisk, LocalIOTivaFile))) return;
    LocalIOIsTiva = true;
    if (port >= 0 && port <= 15) {
        surface_->TivaPorts |= surface::SlotBit(port);
        surface_->AutoBaudPorts &= static_cast<uint16_t>(~surface::SlotBit(port));
    }
    int com = (port >= 0 && port < surface::kSurfaceSlotCount) ? surface_->Slots[port].ComPortNumber : -1;
    grid_.SetCell(ColDevice, 13, "COM" + std::to_string(com));
    RefreshRow(13);
}

bool TMainForm::RackShown(int i) const {
    uint8_t port = Racks.Port(i);
    if (port == 16 || port == 17) {
        const cards::tOstraSlot* s = OstraSlot(port - 16);
        return s && (s->CardType == 20 || s->CardType == 24);
    }
    return port != 0;
}

void TMainForm::RefreshRacks() {
    int next = FirstRackRow;
    for (int i = 1; i <= 49; ++i) {
        if (!RackShown(i)) continue;
        RackRows[i] = next;
        next += 2;
    }
    grid_.GrowTo(next);
    // Rows below the last shown rack held racks that are gone: nothing may
    // stay there that a click could act on.
    for (int r = next; r < grid_.RowCount(); ++r)
        for (int c = 0; c < ColCount; ++c) grid_.SetCell(c, r, "");
    for (int r = FirstRackRow; r < grid_.RowCount(); ++r) RefreshRow(r);
}

int TMainForm::RackRow(int rack) const {
    if (rack < 1 || rack > 49 || !RackShown(rack)) return 0;
    return RackRows[static_cast<size_t>(rack)];
}

std::string TMainForm::RackNameSuffix(int i) const {
    const std::string n = engine::RackName(Racks, i);
    return n.size() > 5 ? n.substr(5, 4) : "";
}

int TMainForm::RackOfRow(int row) const {
    // A rack that is no longer shown keeps its old row number, which may now
    // belong to a rack that is: only shown racks own rows.
    for (int i = 1; i <= 49; ++i)
        if (RackRows[i] != 0 && (RackRows[i] == row || RackRows[i] == row - 1) && RackShown(i)) return i;
    return 0;
}

void TMainForm::RefreshRow(int nRow) {
    const std::string& folder = globals_.FolderOnDisk;
    auto file = [&](const std::string& name) { return platform::files::join(folder, name); };
    if (nRow >= 1 && nRow <= 3) {
        int t = kEngineRowType[nRow];
        std::string name = EngineFileName(t, engine_->Info.EngineFileSet);
        grid_.SetCell(ColFile, nRow, name);
        grid_.SetCell(ColRunning, nRow, BcdDateText(engine_->Info.EngineCodeDates[t].data()));
        grid_.SetCell(ColAvailable, nRow, name.empty() ? "" : FileDateText(folder, name));
    } else if (nRow == 5) {
        grid_.SetCell(ColDescription, 5, "Host Interface");
        grid_.SetCell(ColFile, 5, "CorvaneTiva.dfu");
        grid_.SetCell(ColRunning, 5,
                      host_ && host_->FirmwareVersion != 0 ? std::to_string(host_->FirmwareVersion) : "");
        grid_.SetCell(ColAvailable, 5, app::VersionText(VersionAfterMarker(file("CorvaneTiva.dfu"), false), false));
    } else if (nRow == 6) {
        grid_.SetCell(ColDescription, 6, "Host FPGA");
        grid_.SetCell(ColFile, 6, "Corvane_Interface_FPGA.bit");
        grid_.SetCell(ColRunning, 6,
                      host_ && host_->FPGAVersion.find('/') != std::string::npos ? host_->FPGAVersion : "");
        grid_.SetCell(ColAvailable, 6, BitFileDateText(folder, "Corvane_Interface_FPGA.bit"));
    } else if (nRow == 7) {
        grid_.SetCell(ColDescription, 7, "USB Audio");
        grid_.SetCell(ColFile, 7, "xmos.bin");
        grid_.SetCell(ColRunning, 7, "");
        grid_.SetCell(ColAvailable, 7, platform::files::exists(file("xmos.bin")) ? "OK" : "");
    } else if (nRow >= 9 && nRow <= 12) {
        int p = nRow - 8;
        // The type and file are worked out once: the file name may switch the local I/O row on.
        int type = SurfacePanelTypeOf(p);
        std::string name = SurfaceFileNameOfType(p, type);
        grid_.SetCell(ColDescription, nRow, surface::PanelTypeName(type));
        grid_.SetCell(ColFile, nRow, name);
        uint8_t running = static_cast<uint8_t>(surface_->PanelVersion(p) & 0xFF);
        grid_.SetCell(ColRunning, nRow, running ? std::to_string(running) : "");
        uint8_t available = SurfaceFileVersionOf(folder, name);
        grid_.SetCell(ColAvailable, nRow, available ? std::to_string(available) : "");
    } else if (nRow == 13) {
        if (LocalIOIsTiva) {
            grid_.SetCell(ColDescription, 13, "Local I/O FPGA");
            grid_.SetCell(ColFile, 13, "tarvola_local_io_mk2_FPGA.bit");
            std::string d = surface_->LocalIOFPGADate;
            if (!d.empty() && d[0] != ' ' && d.size() >= 4) d = d.substr(0, 2) + "/" + d.substr(2, 2) + "/" + d.substr(4);
            grid_.SetCell(ColRunning, 13, d);
            grid_.SetCell(ColAvailable, 13, BitFileDateText(folder, "tarvola_local_io_mk2_FPGA.bit"));
        }
    } else if (nRow >= 15 && nRow <= 18) {
        int s = (nRow - 15) / 2;
        const cards::tOstraSlot* slot = OstraSlot(s);
        int ct = slot ? slot->CardType : 0;
        if (ct == 0) {
            grid_.SetCell(ColRunning, nRow, "");
            grid_.SetCell(ColAvailable, nRow, "");
        }
        if ((nRow - 15) % 2 == 0) {
            std::string name = cards::CardFirmwareFileName(ct);
            grid_.SetCell(ColFile, nRow, name);
            if (ct != 0) {
                grid_.SetCell(ColRunning, nRow, std::to_string(slot->CardVersion));
                grid_.SetCell(ColAvailable, nRow,
                              app::VersionText(VersionAfterMarker(file("Ostra\\" + name), false), false));
            }
        } else if (ct != 0) {
            // Whole, though longer than a grid name: a cut name would be a file that does not exist.
            std::string name = cards::CardFPGAFileName(ct);
            grid_.SetCell(ColFile, nRow, name);
            grid_.SetCell(ColRunning, nRow, slot->FPGAVersion);
            grid_.SetCell(ColAvailable, nRow, BitFileDateText(folder, "Ostra\\" + name));
        } else {
            grid_.SetCell(ColFile, nRow, "");
        }
    } else if (IsHeaderRow(nRow)) {
        return;
    } else {
        int i = RackOfRow(nRow);
        if (i == 0) return;
        int t = Racks.RackType(i);
        int port = Racks.Port(i);
        if (!Racks.VersionValid(i)) grid_.SetCell(ColRunning, nRow, "");
        if (nRow == RackRows[i]) {
            std::string prefix;
            if (port == 1 || port == 2) prefix = "madi ";
            else if (port == 16 || port == 17) prefix = "ostra ";
            else if ((port >= 32 && port <= 55) || (port >= 64 && port <= 87)) prefix = "opto ";
            if (!prefix.empty()) grid_.SetCell(ColDevice, nRow, prefix + RackNameSuffix(i));
            std::string name = RackCodeFileName(t);
            grid_.SetCell(ColFile, nRow, name);
            if (t == 9) {
                grid_.SetCell(ColDescription, nRow, "Zynq");
                grid_.SetCell(ColAvailable, nRow,
                              app::VersionText(VersionAfterMarker(file("Racks\\" + name), true), true));
            } else {
                grid_.SetCell(ColDescription, nRow, "Sharc");
                grid_.SetCell(ColAvailable, nRow, BitFileDateText(folder, "Racks\\" + name));
            }
        } else if (t == 9) {
            for (int c = 0; c < ColCount; ++c) grid_.SetCell(c, nRow, "");
        } else {
            grid_.SetCell(ColDevice, nRow, "");
            grid_.SetCell(ColDescription, nRow, "FPGA");
            std::string name = RackFPGAFileName(t);
            grid_.SetCell(ColFile, nRow, name);
            grid_.SetCell(ColAvailable, nRow, BitFileDateText(folder, "Racks\\" + name));
        }
    }
    grid_.SetCell(ColUpdate, nRow, UpdateValid(nRow) ? UpdateCellText : "");
}

bool TMainForm::UpdateValid(int nRow) const {
    if (nRow <= 0) return false;
    const std::string& running = grid_.Cell(ColRunning, nRow);
    if (!running.empty() && running != NoFPGADateText) return !grid_.Cell(ColAvailable, nRow).empty();
    // The USB audio processor reports no version of its own: it counts as
    // present when the host microcontroller reports one.
    if (nRow == 7 && !grid_.Cell(ColRunning, 5).empty()) return !grid_.Cell(ColAvailable, 7).empty();
    return false;
}

bool TMainForm::UpdateRequired(int nRow) const {
    if (!UpdateValid(nRow)) return false;
    const std::string& running = grid_.Cell(ColRunning, nRow);
    const std::string& available = grid_.Cell(ColAvailable, nRow);
    if (available == "OK") return false;
    if (nRow == 5 || (nRow >= 8 && nRow <= 12) || nRow == 15 || nRow == 17) {
        long long r, a;
        if (!ToInteger(running, r) || !ToInteger(available, a)) return false;
        return a > r;
    }
    if (available.find('/') != std::string::npos) {
        long r, a;
        if (!DateKey(running, r) || !DateKey(available, a)) return false;
        return r < a;
    }
    return available > running;
}

void TMainForm::RefreshTimerEvent() {
    try {
        if (updateTimeoutCount_ > 0) {
            --updateTimeoutCount_;
            if (updatingRow_ == 0) display_.CurrentRow = 4;
            if (updateTimeoutCount_ == 0 && updatingRow_ != 0) {
                // The path decides what a missing answer means; a row that
                // started no path has nothing that could still answer.
                if (running_) running_->NoAnswer(*this);
                else CancelUpdate("no response");
                ReleaseEndedUpdate();
            }
            // A card whose firmware was updated is back once it reports its type.
            if (ostraTivaUpdate_ && (updatingRow_ == 15 || updatingRow_ == 17)) {
                ostraTivaUpdate_->BackOnline();
                ReleaseEndedUpdate();
            }
            if (!display_.FlashProgress.empty() && refreshCount_ % 2 == 0) {
                display_.FlashProgress += "|";
                app::DisplayMessage(display_.FlashProgress);
            }
        }
        --refreshCount_;
        for (int r = 1; r <= 18; ++r)
            if (r != updatingRow_) RefreshRow(r);
        if (UpdateBusy()) return;
        // A panel found waiting in its boot loader gets its row's code
        // without a click.
        if (const int row = mcu::SurfaceTiva_CheckBootLoader(*surface_)) {
            StartUpdate(row);
            return;
        }
        std::string bootLoaderLine;
        if (const int row = cards::OstraTiva_CheckBootLoader(ostra_, bootLoaderLine)) {
            StartUpdate(row);
            log_->AppendLogLine(bootLoaderLine);
            return;
        }
        if (refreshCount_ > 0) return;
        refreshCount_ = 10;
        if (updatingRow_ != 0) return;
        SetMessagePanel(" select a file to update");
        engine_->SendVersionRequests();
        if (surface_->LocalIOPort != 0) surface_->SendSurfaceMessage(surface_->LocalIOPort, "W");
    } catch (const std::exception& e) {
        LogException(e.what());
    }
}

} // namespace ravelin::app
