#include "modem/SignalLevel.h"

namespace kv {

std::string_view SignalIconFile(double level)
{
    if (level < 0)
        return {};
    if (level == 0)
        return "ICO/Signal3/blocks-nm-signal-00.png";
    if (level <= 7)
        return "ICO/Signal3/blocks-gnome-netstatus-0-24.png";
    if (level <= 15)
        return "ICO/Signal3/blocks-gnome-netstatus-25-49.png";
    if (level <= 23)
        return "ICO/Signal3/blocks-gnome-netstatus-50-74.png";
    return "ICO/Signal3/blocks-gnome-netstatus-75-100.png";
}

} // namespace kv
