#include "engine/rack_download.h"

#include <algorithm>
#include <cctype>

#include "engine/engine_numbers.h"
#include "platform/files.h"

namespace ravelin::engine {

namespace {
std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}
} // namespace

int RackFileTypeOf(const std::string& fileName) {
    const std::string name = BaseName(fileName);
    if (name == "Rack.bin") return 1;
    if (name == "Rack.bit") return 2;
    if (name == "NRack.bin") return 6;
    if (EndsWith(Lower(name), "rack8b.bin")) return 30;
    if (name == "Rack8b.bit" || name == "LRack.bit" || name == "L2Rack.bit") return 31;
    if (name.compare(0, 4, "pdif") == 0) return 21;
    if (name.compare(0, 4, "udif") == 0) return 23;
    return 0;
}

int RackProgramCode(int rackFileType) {
    if (rackFileType == 1) return 5;
    if (rackFileType == 2) return 9;
    return rackFileType;
}

std::string RackFlashResultText(uint32_t code) {
    static const char* const kTexts[] = {"",
                                         "successful - rack will need resetting when all updates complete ",
                                         "Vpp error",
                                         "erase timeout",
                                         "erase unsuccessful",
                                         "error: no file downloaded",
                                         "timeout",
                                         "block locked",
                                         "Vpp wrong",
                                         "failure",
                                         "invalid command"};
    return std::string("Rack flash programming ") + (code >= 1 && code <= 10 ? kTexts[code] : "");
}

RackDownload::RackDownload(EngineDispatch& dispatch, platform::UpdateControl& control, int nRack,
                           std::string fileName)
    : dispatch_(dispatch), control_(control), nRack_(nRack), fileName_(std::move(fileName)),
      flashTimer_(dispatch.Loop()) {}

RackDownload::~RackDownload() {
    if (dispatch_.Transfer() == this) dispatch_.SetTransfer(nullptr);
}

void RackDownload::End(bool success) {
    RackAckWaiting = 0;
    FlashProgress.clear();
    flashTimer_.cancel();
    words_.clear();
    if (dispatch_.Transfer() == this) dispatch_.SetTransfer(nullptr);
    if (ended_) return;
    ended_ = true;
    if (success)
        control_.FinishUpdate();
    else
        control_.CancelUpdate("");
}

void RackDownload::Start_RackDownload() {
    RackFileType = 0;
    RackAckFailCount = 0;
    const uint8_t port = (nRack_ >= 1 && nRack_ < RackCount) ? dispatch_.Table().Port(nRack_) : 0;
    RackPortHeader = uint32_t(port) << 16;
    RackFileType = RackFileTypeOf(fileName_);
    if (RackFileType == 0) {
        control_.DisplayMessage("Invalid rack file type");
        End(false);
        return;
    }
    auto path = platform::files::resolve(fileName_);
    auto data = path ? platform::files::readAll(*path) : std::nullopt;
    if (!data) {
        control_.DisplayMessage("Rack file open error " + std::to_string(path ? 5 : 2));
        End(false);
        return;
    }
    // An odd last byte goes out as a word of its own, its high byte zero, so
    // that no byte of the image is lost.
    words_.assign((data->size() + 1) / 2, 0);
    for (size_t b = 0; b < data->size(); ++b) words_[b / 2] |= uint16_t((*data)[b] << (8 * (b % 2)));
    position_ = 0;
    DownloadFileSize = int32_t(words_.size() + (words_.size() % 2));
    control_.SetDownloadFileSize(DownloadFileSize);
    RackRetries = 0;
    RackChecksum = 0;
    InitEngineMessage(EnginePacket, 5, Header(idRackPacket), 0);
    dispatch_.SetTransfer(this);
    RackAckWaiting = Header(idRackStart);
    dispatch_.SendEngine(RackAckWaiting, RackFileType);
    dispatch_.Window().ShowEngIn("");
}

void RackDownload::SendPacket() {
    tEngineMessage m = EnginePacket;
    dispatch_.Engine().SendEngineMessage(m);
    dispatch_.Window().ShowEngOut("0x" + Hex(m.Header().IDfull, 8) + " " + Hex(m.Data32(), 8));
}

void RackDownload::Continue_RackDownload(uint8_t prevAck) {
    if (ended_) return;
    if (prevAck != 1) {
        if (++RackRetries < kMaxRefusals) {
            control_.DisplayMessage("Rack file transfer retry");
            // A refused start is asked again; a refused packet goes out again.
            if (RackAckWaiting == Header(idRackStart))
                dispatch_.SendEngine(RackAckWaiting, RackFileType);
            else
                SendPacket();
            return;
        }
        control_.DisplayMessage("Rack file transfer error " + std::to_string(prevAck) + ": retries exceeded");
        End(false);
        return;
    }
    if (position_ >= words_.size()) {
        words_.clear();
        control_.DisplayMessage("Rack end file transfer");
        control_.SetWatchdog(kEndWatchdogTicks);
        RackAckWaiting = Header(idRackEnd);
        dispatch_.SendEngine(RackAckWaiting, 0);
        return;
    }
    RackRetries = 0;
    int w = int(std::min<size_t>(kPacketWords, words_.size() - position_));
    for (int k = 0; k < w; ++k) EnginePacket.SetWord(5 + k, words_[position_ + size_t(k)]);
    position_ += size_t(w);
    DownloadProgress += w;
    const int read = w;
    if (w % 2) EnginePacket.SetWord(5 + w++, 0);
    EnginePacket.SetWordCount(uint8_t(w + 5));
    SendPacket();
    ++PacketCount;
    control_.StepProgress(read);
    control_.DisplayMessage("Rack file transfer " + std::to_string(position_) + " of " +
                            std::to_string(DownloadFileSize));
    control_.SetWatchdog(kPacketWatchdogTicks);
    RackAckWaiting = Header(idRackPacket);
    for (int i = 5; i < w + 5; ++i) RackChecksum = uint16_t(RackChecksum + EnginePacket.Word(i));
}

void RackDownload::End_RackDownload() {
    dispatch_.SendEngine(Header(idRackProgram), RackProgramCode(RackFileType));
    RackAckWaiting = Header(idRackFlashResult);
    FlashProgress = " Programming flash: ";
    control_.DisplayMessage(FlashProgress);
    flashBars_ = 0;
    flashTimer_.arm(kFlashBarMs, [this] { FlashBar(); });
}

void RackDownload::FlashBar() {
    if (ended_ || FlashProgress.empty() || ++flashBars_ > kMaxFlashBars) return;
    FlashProgress += "|";
    control_.DisplayMessage(FlashProgress);
    flashTimer_.arm(kFlashBarMs, [this] { FlashBar(); });
}

void RackDownload::EngineReply(const tEngineMessage& m) {
    const tEngineHeader h = m.Header();
    if (ended_ || RackAckWaiting == 0 || h.IDhi() != RackAckWaiting.IDhi()) return;
    switch (h.IDlo()) {
    case idRackAck:
        if (RackAckWaiting.IDlo() == idRackStart || RackAckWaiting.IDlo() == idRackPacket) {
            Continue_RackDownload(uint8_t(m.Data32()));
        } else if (RackAckWaiting.IDlo() == idRackEnd) {
            if (m.Data32() == 1) {
                RackAckWaiting = Header(idTransferCheck);
            } else {
                control_.DisplayMessage("Rack file transfer end failed. Update aborted.");
                End(false);
            }
        }
        // An acknowledgement in any other step answers nothing we asked.
        break;
    case idTransferCheck:
        if (RackAckWaiting.IDlo() != idTransferCheck) break;
        if (m.Data32() == uint32_t(DownloadFileSize) && m.Word(7) == RackChecksum &&
            m.Word(8) == uint16_t(RackFileType)) {
            End_RackDownload();
        } else {
            control_.DisplayMessage("Rack file transfer check failed. Update aborted. " + std::to_string(RackChecksum) +
                                    " " + std::to_string(m.Word(7)) + " " + std::to_string(RackFileType) + " " +
                                    std::to_string(m.Word(8)));
            End(false);
        }
        break;
    case idRackFlashResult:
        if (RackAckWaiting.IDlo() != idRackFlashResult) break;
        FlashProgress.clear();
        flashTimer_.cancel();
        RackAckWaiting = 0;
        control_.DisplayMessage(RackFlashResultText(m.Data32()));
        End(m.Data32() == 1);
        break;
    default:
        break;
    }
}

void RackDownload::NoAnswer(platform::UpdateControl& control) {
    if (!ended_ && RackAckWaiting.IDlo() == idRackPacket) {
        const RackTable& t = dispatch_.Table();
        int i = 49;
        for (int k = 1; k <= 48; ++k)
            if (t.Port(k) == RackAckWaiting.IDhi()) {
                i = k;
                break;
            }
        const int row = dispatch_.Window().RackRow(i);
        const int updating = control.UpdatingRow();
        if (row != 0 && updating >= 20 && (updating == row || updating == row + 1)) {
            Continue_RackDownload(1);
            ++RackAckFailCount;
            return;
        }
    }
    ended_ = true;
    control.CancelUpdate("no response");
    End(false);
}

} // namespace ravelin::engine
