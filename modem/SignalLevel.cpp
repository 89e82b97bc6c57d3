#include "modem/SignalLevel.h"

#include "codec/Number.h"
#include "modem/AtFields.h"

namespace kv {

std::optional<double> SignalLevelOf(const ModemReply& reply)
{
    const ModemLine* line = LineStarting(reply.lines, "+CSQ:");
    if (!line)
        return std::nullopt;
    const std::vector<AtField> fields = SplitAtFields(AtArguments(line->text));
    if (fields.size() < 2)
        return std::nullopt;
    return TextToFloat(fields[0].text);
}

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
