#include "core/SignalsClose.h"

#include "timing/UiThread.h"

#include <mutex>

namespace kv::signals {

namespace {

std::mutex g_mutex;
std::function<void()>* g_close = nullptr; // never freed, see the header

} // namespace

void KeepClose(std::function<void()> close)
{
    std::lock_guard lock(g_mutex);
    if (g_close)
        *g_close = std::move(close);
    else
        g_close = new std::function<void()>(std::move(close));
}

bool PostClose()
{
    std::function<void()> close;
    {
        std::lock_guard lock(g_mutex);
        if (!g_close)
            return false;
        close = *g_close;
    }
    PostToUi(std::move(close));
    return true;
}

} // namespace kv::signals
