#include "core/Signals.h"

#include "core/SignalsClose.h"

#include <windows.h>

namespace kv {

namespace {

// The system calls this on a thread of its own, so it may post the close.
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    if (!signals::PostClose())
        return FALSE;
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        return TRUE;
    default:
        // The console closing, a logoff or a shut-down end the process as soon
        // as this returns: held here, the close saves the journals first and
        // the process ends from main (the system's own limit still holds).
        ::Sleep(INFINITE);
        return TRUE;
    }
}

} // namespace

void CloseOnSignals(std::function<void()> close)
{
    signals::KeepClose(std::move(close));
    ::SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}

} // namespace kv
