#pragma once
#include <cstdint>
#include <functional>

namespace ravelin::surface {

// Overload notices: a queue's owner reports an overflow to the user once,
// through the main window, until the window has shown it.

// The main window's receiver of notice `number` with `detail`; returns false
// when the notice could not be posted.
using OverloadReceiver = std::function<bool(uint8_t number, uint32_t detail)>;

// Installs the receiver; the first one installed stays unless `replace`.
void SetOverloadReceiver(OverloadReceiver receiver, bool replace = false);
bool HasOverloadReceiver();

// Thread-safe. Posts the notice unless `number` is already pending; a posted
// notice stays pending until ClearOverload.
void PostOverload(uint8_t number, uint32_t detail);
void ClearOverload(uint8_t number);
bool OverloadPending(uint8_t number);

} // namespace ravelin::surface
