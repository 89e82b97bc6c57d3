#pragma once
// Hand-over of work to the UI thread. Worker threads never touch a window or a
// table themselves: they run that work here and wait until it has run.
#include <chrono>
#include <cstdint>
#include <functional>

namespace kv {

// Marks the calling thread (the Qt GUI thread) as the UI thread, woken through
// Qt's event loop. Needs a QCoreApplication and the kv_uithread library (the
// only Qt here); without an installed UI thread every hand-over runs directly.
void InstallUiThread();

// The same without an event framework: wake (any thread, under a lock, must not
// block) asks the UI thread's loop to call ServeHandOvers soon; pumpEvents (UI
// thread) runs its pending messages during WaitMs. Either may be null: queued
// calls then run only from ServeHandOvers, WaitServing and WaitMs.
using UiLoopHook = void (*)();
void InstallUiThreadLoop(UiLoopHook wake, UiLoopHook pumpEvents);
// What InstallUiThreadLoop was given last (null before); WaitMs pumps with it.
UiLoopHook UiEventPump();
bool IsUiThread();

// Runs fn on the UI thread and returns once it has run (a direct call on the UI
// thread); what fn throws is thrown again here, to the waiting caller. Once
// shut-down has begun it returns false without running fn, so a worker can
// never deadlock the exit.
bool Synchronize(const std::function<void()>& fn);
// The hand-overs the calling thread has waited for so far (Synchronize off the
// UI thread): what a worker's step costs in round trips to the UI thread.
std::uint64_t HandOversWaited();

// Queues fn for the UI thread and returns at once; queued calls run in the order
// in which they were queued, interleaved in order with Synchronize calls.
void PostToUi(std::function<void()> fn);

// Runs the hand-overs waiting now. UI thread only; used while the UI thread
// waits for a thread that may itself be waiting on a hand-over.
void ServeHandOvers();

// Waits on the UI thread until done() is true or the time is up, serving
// hand-overs meanwhile. Returns done().
bool WaitServing(const std::function<bool()>& done, std::chrono::milliseconds limit);

// Releases every waiting worker; later hand-overs return at once without running.
void BeginShutdown();
bool ShutdownBegun();
// For tests that build and tear down several stations in one process.
void ResetShutdownForTests();

} // namespace kv
