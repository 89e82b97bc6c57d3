#pragma once
// The close that CloseOnSignals was given, shared by the platform's handler
// files: kept for the life of the process, since a handler's thread may read
// it while statics are destroyed.
#include <functional>

namespace kv::signals {

// Keeps `close` in place of any earlier one.
void KeepClose(std::function<void()> close);
// Posts the kept close to the UI thread; false when none is kept yet.
bool PostClose();

} // namespace kv::signals
