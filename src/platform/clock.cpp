#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace ravelin::platform {

namespace {
class SystemClock final : public Clock {
public:
    uint32_t tickCount() override {
        using namespace std::chrono;
        return static_cast<uint32_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
    void sleep(int ms) override {
        if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};
} // namespace

Clock& systemClock() {
    static SystemClock clock;
    return clock;
}

} // namespace ravelin::platform
