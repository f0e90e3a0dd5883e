#pragma once
#include <string>

namespace ravelin::surface {

// An update that travels over the surface link. The main window's
// communications tick hands it every message the link receives while it runs;
// the update picks out the ones meant for it.
class SurfaceUpdate {
public:
    virtual ~SurfaceUpdate() = default;
    // A message from a panel: its slot and body (type byte first).
    virtual void SurfaceMessage(int slot, const std::string& body) = 0;
    // True while the update reads the panel's line itself (a boot-loader
    // exchange owns the line): the tick then leaves the link alone.
    virtual bool ReadsLineItself() const { return false; }
};

} // namespace ravelin::surface
