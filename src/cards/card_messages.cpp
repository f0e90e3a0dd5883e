#include "cards/card_messages.h"

namespace ravelin::cards {

namespace {

struct NamedHeader {
    uint8_t header;
    const char* name;
};

constexpr NamedHeader Names[] = {
    {2, "Message Error"},
    {6, "Reset Defaults"},
    {30, "Ostra Status"},
    {31, "Tarvola Control"},
    {33, "Sync Source"},
    {35, "MADI Mode"},
    {36, "MADI Connection"},
    {37, "Input SR"},
    {38, "Card Status"},
    {39, "Update FPGA"},
    {40, "Rack Type"},
    {41, "Rack Slot"},
    {42, "Rack Code"},
    {43, "Rack Voltage"},
    {44, "Control via Audio"},
    {45, "Input SRC"},
    {50, "ClearToSend"},
    {51, "Clock Locked"},
    {52, "BackPlane SR"},
    {53, "MADI Port Mode"},
    {54, "MADI Redundant"},
    {55, "MADI SMUX"},
    {56, "Plexor ID"},
    {58, "Optocore Channel Count"},
    {60, "Mic Gain"},
    {61, "Mic Phantom"},
    {62, "DX Write Message"},
    {63, "DX Read Message"},
    {65, "Dante Message"},
    {70, "AMM Weight"},
    {71, "AMM Group"},
    {72, "AMM Meter"},
    {73, "AMM Mute"},
    {74, "AMM Bypass"},
    {75, "AMM Floor"},
    {76, "AMM Mix Enable"},
    {77, "AMM Mix Level"},
    {78, "AMM Monitor Filters"},
    {96, "Duzod IP Address"},
    {97, "Duzod Serial Number"},
    {98, "Duzod Device Name"},
    {99, "Duzod Version"},
    {100, "Duzod Write Log"},
    {101, "Duzod External Control Port"},
};

} // namespace

std::string CardMessageName(uint8_t Header)
{
    for (const auto& n : Names)
        if (n.header == Header) return n.name;
    return std::to_string(Header) + "?";
}

} // namespace ravelin::cards
