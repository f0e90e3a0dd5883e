#include "cards/ostra_types.h"

namespace ravelin::cards {

namespace {

void putLong(std::string& s, uint32_t v)
{
    for (int i = 0; i < 4; ++i) s.push_back(char(uint8_t(v >> (8 * i))));
}

uint32_t getLong(const std::string& s, size_t at)
{
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i)
        if (at + i < s.size()) v |= uint32_t(uint8_t(s[at + i])) << (8 * i);
    return v;
}

} // namespace

std::string tDuzodIPRec::ToBytes() const
{
    std::string s(1, char(NetworkPort));
    putLong(s, IPAddress);
    putLong(s, SubnetMask);
    putLong(s, GateWay);
    s.push_back(char(DHCPUsage));
    return s;
}

tDuzodIPRec tDuzodIPRec::FromBytes(const std::string& bytes)
{
    tDuzodIPRec r;
    r.NetworkPort = bytes.empty() ? 0 : uint8_t(bytes[0]);
    r.IPAddress = getLong(bytes, 1);
    r.SubnetMask = getLong(bytes, 5);
    r.GateWay = getLong(bytes, 9);
    r.DHCPUsage = bytes.size() > 13 ? uint8_t(bytes[13]) : 0;
    return r;
}

} // namespace ravelin::cards
