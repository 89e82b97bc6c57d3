#pragma once
// SIGTERM, SIGINT and SIGHUP (on Windows the console's Ctrl+C, Ctrl+Break and
// close) close the station as its close box does: the close is posted to the UI
// thread (PostToUi), whichever loop serves it.
#include <functional>

namespace kv {

// Installs the handlers; `close` runs on the UI thread, once per signal.
// Needs the UI thread installed first.
void CloseOnSignals(std::function<void()> close);

} // namespace kv
