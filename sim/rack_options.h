#pragma once
// The faults of a virtual rack, as the ravelin-sim options name them: the
// text after "PORT:" of --rack-fault (or "SLOT:" of --card-rack-fault).

#include "virtual_engine.h"

#include <string>

namespace ravelin::sim {

// refuse-start:N | refuse-packet:PACKET:TIMES | wrong-check | flash:CODE |
// silent-packet:PACKET | drop-packet:PACKET; false when it is none of them.
bool applyRackFault(const std::string& fault, VirtualRackConfig& rack);

} // namespace ravelin::sim
