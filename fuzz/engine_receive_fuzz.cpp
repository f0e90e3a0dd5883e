// Bytes from the engine, in the reads the connection hands over, into the
// engine link: the word queue, message framing and checksums, and the
// handling of every message.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine_fixture.h"
#include "fuzz_chunks.h"

using namespace ravelin::engine::testing;

namespace {

class EngineFuzz : public EngineFixture {
public:
    void TestBody() override {}
    void Feed(const std::string& chunk) {
        connection->push(std::vector<uint8_t>(chunk.begin(), chunk.end()));
        loop.advance(10);
        connection->sent.clear();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    EngineFuzz engine;
    ravelin::fuzz::ForEachChunk(data, size, [&](const std::string& chunk) { engine.Feed(chunk); });
    return 0;
}
