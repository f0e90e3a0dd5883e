#pragma once
#include <string>

// The interface card types a slot can report, their names and update files.
namespace ravelin::cards {

// Types 28, 32 and 35 are not cards this program can serve; they count as no
// card (0). Every other reported value is kept as it is.
int NormaliseCardType(int reported);
// "Ostra MADI" ... "Ostra Duzod"; "" for 0 and for types outside the table.
std::string CardName(int cardType);
// The firmware image in "Ostra": "tarvola_ostra.bin" for no card (0) and the
// cards that share the common image; "" for the Duzod card (36), which has
// none, and for types outside the table.
std::string CardFirmwareFileName(int cardType);
// "tarvola_ostra_" + short name + "_fpga.bit"; "" for 0 and for types
// outside the table.
std::string CardFPGAFileName(int cardType);

} // namespace ravelin::cards
