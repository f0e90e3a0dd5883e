#include "cards/card_types.h"

#include <string_view>

namespace ravelin::cards {

namespace {

struct CardInfo {
    int type;
    const char* name;
    const char* firmwareFile;
};

constexpr const char* CommonFirmware = "tarvola_ostra.bin";

constexpr CardInfo Cards[] = {
    {20, "Ostra MADI", "tarvola_ostra_madi.bin"},
    {21, "Ostra ADC", CommonFirmware},
    {22, "Ostra DAC", CommonFirmware},
    {23, "Ostra AES", CommonFirmware},
    {24, "Ostra Cat5", "tarvola_ostra_madi.bin"},
    {25, "Ostra Waves", CommonFirmware},
    {26, "Ostra Aviom", CommonFirmware},
    {27, "Ostra Dante", CommonFirmware},
    {29, "Ostra Plexor", "tarvola_ostra_plexor.bin"},
    {30, "Ostra Mic", "tarvola_ostra_mic.bin"},
    {31, "Ostra Dante64", "tarvola_ostra_dante6496.bin"},
    {33, "Ostra AMM", "tarvola_ostra_amm.bin"},
    {34, "Ostra ME", "tarvola_ostra_me.bin"},
    {36, "Ostra Duzod", ""},
};

const CardInfo* find(int cardType) {
    for (const auto& card : Cards)
        if (card.type == cardType) return &card;
    return nullptr;
}

// The short name in the FPGA file name: the card name after "Ostra ", at most
// five characters. The Cat5 card runs the MADI card's FPGA, and the Dante64
// card's image would be cut to plain "Dante", so it has a name of its own.
std::string fpgaShortName(int cardType) {
    if (cardType == 31) return "dante6496";
    if (cardType == 24) cardType = 20;
    const CardInfo* card = find(cardType);
    if (!card) return {};
    std::string_view name = card->name;
    constexpr std::string_view Prefix = "Ostra ";
    if (name.substr(0, Prefix.size()) == Prefix) name.remove_prefix(Prefix.size());
    return std::string(name.substr(0, 5));
}

} // namespace

int NormaliseCardType(int reported) {
    switch (reported) {
    case 28: case 32: case 35: return 0;
    default: return reported;
    }
}

std::string CardName(int cardType) {
    const CardInfo* card = find(cardType);
    return card ? card->name : "";
}

std::string CardFirmwareFileName(int cardType) {
    if (cardType == 0) return CommonFirmware;
    const CardInfo* card = find(cardType);
    return card ? card->firmwareFile : "";
}

std::string CardFPGAFileName(int cardType) {
    std::string shortName = fpgaShortName(cardType);
    if (shortName.empty()) return {};
    return "tarvola_ostra_" + shortName + "_fpga.bit";
}

} // namespace ravelin::cards
