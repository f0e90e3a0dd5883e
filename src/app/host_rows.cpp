// The host rows' update paths: the board's own firmware over USB DFU (row 5),
// its FPGA (row 6) and the USB-audio image (row 7) over its serial link.
#include "app/main_unit.h"
#include "host/host_dfu_update.h"
#include "host/host_file_update.h"

namespace ravelin::app {

std::unique_ptr<platform::RunningUpdate> TMainForm::NewHostUpdate(int row) {
    if (!host_ || !services_.loop) return nullptr;
    if (row == 5) {
        platform::DfuLibrary* library = services_.dfuLibrary ? services_.dfuLibrary() : nullptr;
        if (!library) return nullptr;
        host::HostDfuLinks links{[this] {
                                     if (host_) host_->Boot();
                                 },
                                 [this] { CloseEngineLinks(); }, [this] { OpenEngineLinks(); }};
        return std::make_unique<host::HostDfuUpdate>(*this, *services_.loop, *library, std::move(links),
                                                     globals_.FolderOnDisk);
    }
    host::HostFileLinks links{[this] { return host_.get(); }, [this] { CloseEngineLinks(); },
                              [this] { OpenEngineLinks(); }};
    return std::make_unique<host::HostFileUpdate>(*this, *services_.loop, std::move(links),
                                                  row == 6 ? host::HostImage::FPGA : host::HostImage::USBAudio,
                                                  globals_.FolderOnDisk);
}

} // namespace ravelin::app
