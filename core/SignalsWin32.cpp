#include "core/Signals.h"

#include "timing/UiThread.h"

#include <mutex>

#include <windows.h>

namespace kv {

namespace {

std::mutex g_mutex;
// Kept to the end of the process on purpose: the handler's thread reads it.
std::function<void()>* g_close = nullptr;

// The system calls this on a thread of its own, so it may post the close.
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    std::function<void()> close;
    {
        std::lock_guard lock(g_mutex);
        if (!g_close)
            return FALSE;
        close = *g_close;
    }
    PostToUi(std::move(close));
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
    {
        std::lock_guard lock(g_mutex);
        if (g_close)
            *g_close = std::move(close);
        else
            g_close = new std::function<void()>(std::move(close));
    }
    ::SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}

} // namespace kv
