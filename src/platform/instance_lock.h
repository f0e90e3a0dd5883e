#pragma once
#include <functional>
#include <memory>
#include <string>

namespace ravelin::platform {

// The single-instance lock. The first holder of a name keeps it until the
// process ends and listens for later starts; a later start finds it held,
// asks the holder to bring its window forward, and ends.
class InstanceLock {
public:
    // nullptr when another process holds the name; it has then been asked to
    // come forward.
    static std::unique_ptr<InstanceLock> acquire(const std::string& name);
    ~InstanceLock();
    // Called on the lock's own thread each time a later start knocks.
    void onKnock(std::function<void()> handler);
private:
    InstanceLock() = default;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace ravelin::platform
