#include "engine/rack_table.h"

#include <map>

namespace ravelin::engine {

int RackIndexForPort(const RackTable& t, uint8_t port) {
    // Port 0 is "no rack": empty records hold it too and must not be claimed.
    if (port == 0) return 0;
    for (int i = 1; i <= 48; ++i)
        if (t.Port(i) == port) return i;
    int n;
    if (port == 16 || port == 17)
        n = port - 15;
    else if (port == 1 || port == 2)
        n = port + 2;
    else if (port >= 42 && port <= 55)
        n = port - 37;
    else if (port >= 74 && port <= 87)
        n = port - 55;
    else
        n = port;
    return (n >= 1 && n <= 32) ? n : 0;
}

int RackOnPort(const RackTable& t, int port) {
    for (int i = 1; i <= 49; ++i) {
        const auto& r = t.Records[size_t(i)];
        if (r[rbPort] == port) return i;
        if (r[rbSpan] == 2 && r[rbPort] == port - 1 && (r[rbFlags] & rfSpansNextPort)) return i;
    }
    return -1;
}

bool IsLocalRack(const RackTable& t, int i) {
    const uint8_t port = t.Port(i), kind = t.Kind(i);
    return (port == 1 || port == 2 || port == 16 || port == 17) && ((kind >= 1 && kind <= 7) || kind == 11);
}

int PartnerRack(const RackTable& t, int kind, int port) {
    static const std::map<int, int> kPartner = {{8, 9}, {9, 8}, {31, 32}, {32, 31},
                                                {37, 38}, {38, 37}, {51, 79}, {79, 51}};
    auto p = kPartner.find(kind);
    if (p == kPartner.end()) return -1;
    const int partner = p->second;
    if (port != 0) {
        for (int i = 1; i <= 49; ++i)
            if (t.Kind(i) == partner && t.Port(i) == port) return i;
        return -1;
    }
    if (kind != 51 && kind != 79) return -1;
    for (int slotPort : {16, 17}) {
        bool hasPartner = false, hasKind = false;
        for (int i = 1; i <= 49; ++i) {
            if (t.Port(i) != slotPort) continue;
            hasPartner |= t.Kind(i) == partner;
            hasKind |= t.Kind(i) == kind;
        }
        if (hasPartner && !hasKind) return RackOnPort(t, slotPort);
    }
    return -1;
}

const std::string& DeviceKindName(int kind) {
    static const std::map<int, std::string> kNames = {
        {25, "MADI"},    {26, "Con"},   {28, "Waves"},   {29, "Con Send"}, {30, "Con Rcv"},
        {33, "MADI"},    {39, "USB"},   {41, "Line in"}, {42, "Line out"}, {43, "AES"},
        {45, "Waves"},   {46, "Aviom"}, {47, "Dante"},   {48, "Optocore"}, {49, "Plexor"},
        {50, "Mic"},     {51, "Dnt64"}, {52, "Tarvola"}, {53, "AMM"},      {54, "ME"},
        {56, "Duzod"},   {79, "Dnt64"}};
    static const std::string kNone;
    auto n = kNames.find(kind);
    return n == kNames.end() ? kNone : n->second;
}

std::string RackName(const RackTable& t, int i) {
    const int k = t.Kind(i), p = t.Port(i);
    if (k == 25 || k == 26 || k == 28 || k == 29 || k == 30 || k == 33 || k == 39) return DeviceKindName(k);
    std::string prefix;
    int number = p;
    if (p == 16 || p == 17) {
        prefix = "D";
        number = p - 15;
    } else if (p >= 32 && p <= 55) {
        prefix = "1.";
        number = p - 31;
    } else if (p >= 64 && p <= 87) {
        prefix = "2.";
        number = p - 63;
    }
    std::string text = ((k >= 41 && k <= 43) || (k >= 45 && k <= 57) || k == 79)
                           ? DeviceKindName(k) + " " + prefix
                           : "Rack " + prefix;
    text += number == 0 ? "n/c" : std::to_string(number);
    if (k == 9 || k == 32 || k == 38) text += "b";
    if (k == 31 || k == 37) text += "a";
    if (text.size() > 31) text.resize(31);
    return text;
}

} // namespace ravelin::engine
