#include "cards/card_types.h"

#include <gtest/gtest.h>

using namespace ravelin::cards;

namespace {

TEST(CardTypes, NamesAndFilesByType) {
    struct Case { int type; const char* name; const char* firmware; const char* fpga; };
    const Case cases[] = {
        {20, "Ostra MADI", "tarvola_ostra_madi.bin", "tarvola_ostra_MADI_fpga.bit"},
        {21, "Ostra ADC", "tarvola_ostra.bin", "tarvola_ostra_ADC_fpga.bit"},
        {22, "Ostra DAC", "tarvola_ostra.bin", "tarvola_ostra_DAC_fpga.bit"},
        {23, "Ostra AES", "tarvola_ostra.bin", "tarvola_ostra_AES_fpga.bit"},
        // The Cat5 card runs the MADI card's images.
        {24, "Ostra Cat5", "tarvola_ostra_madi.bin", "tarvola_ostra_MADI_fpga.bit"},
        {25, "Ostra Waves", "tarvola_ostra.bin", "tarvola_ostra_Waves_fpga.bit"},
        {26, "Ostra Aviom", "tarvola_ostra.bin", "tarvola_ostra_Aviom_fpga.bit"},
        {27, "Ostra Dante", "tarvola_ostra.bin", "tarvola_ostra_Dante_fpga.bit"},
        // Short names stop at five characters.
        {29, "Ostra Plexor", "tarvola_ostra_plexor.bin", "tarvola_ostra_Plexo_fpga.bit"},
        {30, "Ostra Mic", "tarvola_ostra_mic.bin", "tarvola_ostra_Mic_fpga.bit"},
        // ... but the Dante64 card must not share the Dante card's FPGA.
        {31, "Ostra Dante64", "tarvola_ostra_dante6496.bin", "tarvola_ostra_dante6496_fpga.bit"},
        {33, "Ostra AMM", "tarvola_ostra_amm.bin", "tarvola_ostra_AMM_fpga.bit"},
        {34, "Ostra ME", "tarvola_ostra_me.bin", "tarvola_ostra_ME_fpga.bit"},
        {36, "Ostra Duzod", "", "tarvola_ostra_Duzod_fpga.bit"},
        // No card: the common firmware name is still shown, no FPGA file.
        {0, "", "tarvola_ostra.bin", ""},
        // Types outside the table name nothing.
        {19, "", "", ""}, {28, "", "", ""}, {32, "", "", ""}, {35, "", "", ""},
        {37, "", "", ""}, {255, "", "", ""}, {-1, "", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CardName(c.type), c.name) << c.type;
        EXPECT_EQ(CardFirmwareFileName(c.type), c.firmware) << c.type;
        EXPECT_EQ(CardFPGAFileName(c.type), c.fpga) << c.type;
    }
}

TEST(CardTypes, UnsupportedReportsCountAsNoCard) {
    struct Case { int reported, stored; };
    const Case cases[] = {
        {28, 0}, {32, 0}, {35, 0},
        {0, 0}, {20, 20}, {24, 24}, {27, 27}, {29, 29}, {31, 31}, {33, 33}, {34, 34}, {36, 36},
        {37, 37},
    };
    for (const auto& c : cases) EXPECT_EQ(NormaliseCardType(c.reported), c.stored) << c.reported;
}

} // namespace
