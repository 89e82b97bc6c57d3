#pragma once
// What the receiver's process sets up before anything opens, per platform
// (ProcessPosix.cpp, ProcessWin32.cpp).
namespace kv {

// Files it creates are its user's alone (POSIX: umask; Windows keeps the
// folder's access list); its lines reach a console as UTF-8 (Windows); stop
// signals are held, so a stop asked for before the handlers exist waits for
// them instead of killing the receiver half-started (POSIX).
void PrepareReceiverProcess();
// The held stop signals go on to the handlers.
void ReleaseStopSignals();

} // namespace kv
