#pragma once
#include <cstdint>
#include <string>

#include "engine/engine_message.h"

// What the engine link needs of the main window beyond the update control
// (message line, status line, log): its labels, the rows of the engine and
// the racks, closing, and the neighbouring links the engine's messages pass
// through. The application implements it; every method has a harmless
// default so that tests override only what they watch.
namespace ravelin::engine {

class EngineWindow {
public:
    virtual ~EngineWindow() = default;

    // The labels of the last message received and sent ("0x" + header ...).
    virtual void ShowEngIn(const std::string& text) {}
    virtual void ShowEngOut(const std::string& text) {}
    // The engine serial number's two labels: shown or hidden, and the number.
    virtual void ShowEngineSerial(bool visible) {}
    virtual void SetEngineSerialText(const std::string& text) {}

    // Rows of the device table.
    virtual void RefreshRow(int row) {}
    // The first of the two grid rows of a rack that is shown now; 0 for a
    // rack that has no rows or is no longer shown.
    virtual int RackRow(int rack) const { return 0; }
    // Gives rows to every rack shown (and takes them from racks no longer shown).
    virtual void RefreshRacks() {}
    // Column 3 (the running version) of a row.
    virtual void SetRunningCell(int row, const std::string& text) {}

    // Asks the window to close (the engine has confirmed its restart).
    virtual void CloseWindow() {}

    // A message for a rack behind interface card slot (port - 16): header,
    // the data bytes and their count. False when that slot has no card.
    virtual bool SendToOstraSlot(tEngineHeader header, const uint8_t* data, int length) { return false; }
    // The host board's poll and receive, serviced with the engine link.
    virtual void ServiceCorvaneHost() {}
    // Has the host board reset the engine.
    virtual void ResetEngineViaHost() {}
    // The engine link has lost its connection and is reconnecting over TCP.
    virtual void UseTcpForEngine() {}
    // Surface message 0x51 with one data byte to the local I/O unit; false
    // when there is none (nothing is sent and nothing is waited for).
    virtual bool SendLocalIONote(uint8_t value) { return false; }
};

} // namespace ravelin::engine
