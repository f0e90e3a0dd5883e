#pragma once
#include <cstdint>
#include <string>

// One interface-card slot of the engine as the inventory sees it.
namespace ravelin::cards {

class tOstraSlot {
public:
    virtual ~tOstraSlot() = default;
    int SlotIndex = 0;
    uint8_t CardType = 0;       // 0: no card
    uint8_t CardVersion = 0;    // firmware version
    std::string FPGAVersion;
    virtual void Service() {}
    virtual void Start_OstraTivaUpdate(const std::string& fileName) {}
    virtual void Start_OstraFPGAUpdate(const std::string& fileName) {}
};

} // namespace ravelin::cards
