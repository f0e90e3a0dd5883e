#include "engine/engine_message.h"

#include <cstdio>
#include <cstring>

#include "engine/engine_numbers.h"

namespace ravelin::engine {

float tEngineMessage::DataFloat() const {
    uint32_t v = Data32();
    float f;
    std::memcpy(&f, &v, sizeof f);
    return f;
}

uint16_t EngineChecksum(const tEngineMessage& m) {
    uint16_t sum = 0;
    for (int i = 0; i < m.WordCount(); ++i) sum = uint16_t(sum + m.Word(i));
    return sum;
}

void InitEngineMessage(tEngineMessage& m, uint8_t wordCount, tEngineHeader header, uint32_t data32) {
    m.SetWordCount(wordCount);
    m.SetStatus(0);
    m.SetSequence(0);
    m.SetWord(2, 0);
    m.SetHeader(header);
    m.SetData32(data32);
}

tEngineMessage StandardMessage(uint8_t status, tEngineHeader header, uint32_t data32, uint16_t sequence) {
    tEngineMessage m;
    InitEngineMessage(m, kStandardWordCount, header, data32);
    m.SetStatus(status);
    m.SetSequence(sequence);
    m.SetWord(kStandardWordCount, EngineChecksum(m));
    return m;
}

std::string EngineStatusText(int code) {
    static const char* const kTexts[] = {
        "Timed out waiting for acknowledge", "Acknowledge request", "Message Acknowledged OK", "Request",
        "Request Acknowledged OK", "Checksum Error", "Invalid Message", "Invalid Length",
        "Flash File Packet Sequence Error", "Flash File Mismatch", "Flash File Missing", "Flash Program Timeout",
        "Flash Erase Timeout", "Flash Vpp Error", "Flash Block Erase Failure", "Flash Command Sequence Error",
        "Flash Block Locked", "Flash Program Failure", "Flash Program Successful", "Invalid Data",
        "Flash File Checksum error", "Flash Erase Block number", "Flash Program Block number",
        "Insufficient FX Resources", "FX Signal Overlap", "FX OK"};
    const char* text = (code >= 0 && code <= 25) ? kTexts[code] : "Unknown";
    return "status " + std::to_string(code) + ": " + text;
}

const std::string& ModuleName(int module) {
    static const std::string kNames[] = {
        "system", "input", "eq", "dyn", "bussing", "fx sends", "graphic eq", "matrixA", "monitorB",
        "i/o bridge A", "i/o bridge B", "i/o device", "meters", "buss o/p", "monA o/p", "monB o/p",
        "fader A", "fader B", "fx control", "", "mix minus"};
    static const std::string kNone;
    return (module >= 0 && module <= 20) ? kNames[module] : kNone;
}

const std::string& ParameterName(int parameter) {
    static const std::string kNames[62] = {
        "signal source", "input trim", "eq bypass", "band bypass", "band type", "band frequency", "band q",
        "band gain", "delay", "makeup gain", "range", "dyn mode", "dyn meters", "hysteresis", "threshold",
        "knee", "ratio", "attack", "release", "hold", "link select", "link create", "key select", "key listen",
        "mon mode", "", "tube bias", "tube drive", "", "", "", "", "structure", "fader", "mute", "pan coeff",
        "node coeff", "node mute", "node mode", "", "nodal proc", "", "", "mix-minus", "", "", "", "", "", "",
        "tx madi chans", "rx madi chans", "i/o route", "limiter release", "osc frequency", "osc level", "", "",
        "", "", "output trim", "output mute"};
    static const std::string kNone;
    return (parameter >= 0 && parameter <= 61) ? kNames[parameter] : kNone;
}

std::string Hex(uint32_t value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", digits, value);
    return buf;
}

std::string EngineMessageLine(const std::string& prefix, const tEngineMessage& m) {
    const tEngineHeader h = m.Header();
    std::string name;
    if (h.Module() <= 20) {
        std::string parameter;
        if (h.Module() == 10 && h.Parameter() == 10)
            parameter = "route mux";
        else if (h.Module() != 0 && h.Module() != 11 && h.Module() != 12 && h.Module() != 18)
            parameter = ParameterName(h.Parameter());
        name = ModuleName(h.Module()) + " module, " + parameter;
    }
    char buf[160];
    std::snprintf(buf, sizeof buf, "%.2X  %.2X  %.4X %.4X   %.8X  %.8X  %8.2f  (%.4X)   ", m.WordCount(), m.Status(),
                  m.Sequence(), m.DestID(), h.IDfull, m.Data32(), double(m.DataFloat()), m.Checksum());
    return prefix + buf + name;
}

} // namespace ravelin::engine
