// Engine code and rack code through the engine, on the engine link over an
// in-memory connection, against an engine (and a rack behind it) that can be
// told to fail. Between packets the engine link keeps handling the engine's
// other messages: a version report sent in the middle of every transfer must
// still reach the rack table.

#include <filesystem>
#include <fstream>

#include "engine/engine_fixture.h"
#include "engine/engine_download.h"
#include "engine/engine_numbers.h"
#include "engine/rack_download.h"
#include "faults/matrix.h"

namespace ravelin::faults {
namespace {

using engine::tEngineMessage;
using engine::testing::Le32;
using engine::testing::Parse;

constexpr int kFileBytes = 1000;  // four engine packets; eight rack packets
constexpr uint8_t kPort = 42;

class EnginePaths : public engine::testing::EngineFixture, public ::testing::WithParamInterface<Fault> {
protected:
    EnginePaths() {
        dir = std::filesystem::temp_directory_path() / ("faults_engine_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir / "Racks");
        file.resize(kFileBytes);
        for (size_t i = 0; i < file.size(); ++i) file[i] = uint8_t(i * 7 + 3);
        for (auto name : {"SP6v.bin", "Racks/Rack.bin"})
            std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<char*>(file.data()), kFileBytes);
        racks.Records[5][engine::rbPort] = kPort;
        window.rows[5] = 20;
        control.row = 20;
    }
    ~EnginePaths() override { std::filesystem::remove_all(dir); }

    // The engine goes away: the connection ends for good, and the link
    // makes a new one that never connects.
    void Drop() {
        dropped = true;
        auto terminate = connection->OnTerminate;
        if (terminate) terminate();
    }
    void Answer(uint8_t status, uint32_t header, std::vector<uint8_t> data = {}) {
        if (!dropped) Reply(status, header, std::move(data));
    }

    // The engine's side of an engine code download.
    void EngineDevice(Fault fault) {
        for (const tEngineMessage& m : Sent()) {
            if (dropped) return;
            const uint16_t id = m.Header().IDlo();
            if (id == engine::idStartDownload) {
                if (fault != Fault::SilentFromStart) Answer(engine::stAckOK, m.Header());
            } else if (id == engine::idPacket) {
                const int n = m.Header().IDhi();
                if (n == 2 && fault == Fault::SilentMidTransfer) continue;
                if (n == 2 && fault == Fault::LinkDropped) return Drop();
                if (n == 2 && fault == Fault::Corrupted && !nakked) {
                    nakked = true;
                    Answer(engine::stChecksumError, m.Header());
                    continue;
                }
                std::vector<uint8_t>& p = received[n];
                p.clear();
                for (int w = 5; w < m.WordCount(); ++w) p.insert(p.end(), {uint8_t(m.Word(w)), uint8_t(m.Word(w) >> 8)});
                Answer(engine::stAckOK, m.Header());
                if (n == 1) MidTransferTraffic();
            } else if (id == engine::idRecover) {
                Answer(engine::stRequestOK, m.Header());
            } else if (id == engine::idEndDownload) {
                Answer(engine::stAckOK, m.Header());
            } else if (id == engine::idProgramFlash) {
                if (fault == Fault::ErrorAtLastStep) {
                    Answer(17, m.Header());  // flash error
                } else {
                    std::vector<uint8_t> image;
                    for (auto& [n, p] : received) image.insert(image.end(), p.begin(), p.end());
                    image.resize(std::min(image.size(), file.size()));
                    confirmed = image == file;
                    if (confirmed) Answer(engine::stFlashSuccess, m.Header());
                }
            }
        }
    }

    // The rack's side (through the engine) of a rack code download.
    void RackDevice(Fault fault) {
        auto ack = [&](uint32_t v) { Answer(0, uint32_t(kPort) << 16 | engine::idRackAck, Le32(v)); };
        for (const tEngineMessage& m : Sent()) {
            if (dropped) return;
            const uint16_t id = m.Header().IDlo();
            if (id == engine::idRackStart) {
                if (fault != Fault::SilentFromStart) ack(1);
            } else if (id == engine::idRackPacket) {
                ++packetsSeen;
                if (packetsSeen == 2 && fault == Fault::LinkDropped) return Drop();
                if (packetsSeen >= 2 && fault == Fault::SilentMidTransfer) continue;
                if (packetsSeen == 2 && fault == Fault::Corrupted) {
                    ack(0);  // refused: the program sends it again
                    continue;
                }
                for (int w = 5; w < m.WordCount(); ++w) {
                    rackWords.push_back(m.Word(w));
                    rackSum = uint16_t(rackSum + m.Word(w));
                }
                ack(1);
                if (packetsSeen == 1) MidTransferTraffic();
            } else if (id == engine::idRackEnd) {
                ack(1);
                std::vector<uint8_t> check = Le32(uint32_t(rackWords.size()));
                check.insert(check.end(), {uint8_t(rackSum), uint8_t(rackSum >> 8), 1, 0});
                Answer(0, uint32_t(kPort) << 16 | engine::idTransferCheck, check);
            } else if (id == engine::idRackProgram) {
                std::vector<uint8_t> image;
                for (uint16_t w : rackWords) image.insert(image.end(), {uint8_t(w), uint8_t(w >> 8)});
                confirmed = fault != Fault::ErrorAtLastStep && image == file;
                Answer(0, uint32_t(kPort) << 16 | engine::idRackFlashResult, Le32(confirmed ? 1 : 2));
            }
        }
    }

    // A rack's version report in the middle of the transfer.
    void MidTransferTraffic() {
        Answer(0, uint32_t(kPort) << 16 | engine::idVersionReport, {3, 1, 0, 0, 6, 0});
        versionSent = true;
    }

    std::filesystem::path dir;
    std::vector<uint8_t> file;
    MatrixControl matrix;
    std::map<int, std::vector<uint8_t>> received;
    std::vector<uint16_t> rackWords;
    uint16_t rackSum = 0;
    int packetsSeen = 0;
    bool nakked = false, dropped = false, confirmed = false, versionSent = false;
};

TEST_P(EnginePaths, EngineCode) {
    const Fault fault = GetParam();
    engine::EngineDownload update(unit->Dispatch(), matrix, (dir / "SP6v.bin").string(), 2, "Host");
    const Ending e = RunUpdate(loop, matrix, update, [&] { EngineDevice(fault); }, 60000);
    ExpectCell("engine code", fault, e, confirmed, 31000);
    if (versionSent) { EXPECT_EQ(window.running[20], "1.3") << "the rack's version report was handled meanwhile"; }
    if (fault == Fault::Corrupted) { EXPECT_EQ(e.finishes, 1) << "the packet sent again was taken"; }
}

TEST_P(EnginePaths, RackThroughTheEngine) {
    const Fault fault = GetParam();
    matrix.row = 20;
    engine::RackDownload update(unit->Dispatch(), matrix, 5, (dir / "Racks/Rack.bin").string());
    const Ending e = RunUpdate(loop, matrix, update, [&] { RackDevice(fault); }, 60000);
    // A rack that stops answering mid-file: every packet counts as taken
    // after 2.5 s, then its silence at the end ends the update.
    ExpectCell("rack through the engine", fault, e, confirmed, 8 * 2500 + 31000);
    if (fault == Fault::Corrupted) { EXPECT_EQ(e.finishes, 1) << "the packet sent again was taken"; }
    if (versionSent) { EXPECT_EQ(window.running[20], "1.3") << "the rack's version report was handled meanwhile"; }
}

INSTANTIATE_TEST_SUITE_P(Faults, EnginePaths, ::testing::ValuesIn(AllFaults()), FaultParamName);

} // namespace
} // namespace ravelin::faults
