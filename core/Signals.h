#pragma once
// SIGTERM, SIGINT and SIGHUP close the station as its close box does: the
// handler only writes a byte to a pipe, and the UI thread does the close.
#include <functional>

namespace kv {

// Installs the handlers; `close` runs on the UI thread, once per signal.
void CloseOnSignals(std::function<void()> close);

} // namespace kv
