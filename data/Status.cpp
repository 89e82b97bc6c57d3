#include "data/Status.h"

#include <array>

namespace kv {

namespace {

constexpr std::array<StatusEntry, 16> kVocabulary = {{
    {status::kForeignKey, 0, RowColour::Of({0, 128, 255})},
    {status::kInfoSms, 1, RowColour::Of({145, 92, 216})},
    {status::kArmed, 2, RowColour::Of({174, 174, 0})},
    {status::kOffline, 3, RowColour::Of({255, 128, 0})},
    {status::kSmsFailed, 4, RowColour::Base()},
    {status::kDisarmed, 5, RowColour::Of({96, 191, 0})},
    {status::kTemperature, 6, RowColour::Of({128, 128, 128})},
    {status::kAlarm, 7, RowColour::Of({255, 0, 0})},
    {status::kOnline, 8, RowColour::Base()},
    {status::kBalance, 9, RowColour::Base()},
    {status::kLogin, 10, RowColour::Base()},
    {status::kSmsSent, 11, RowColour::Base()},
    {status::kNormal, -1, RowColour::Base()},
    {status::kAttention, -1, RowColour::Base()},
    {status::kHandling, 12, RowColour::Of({0, 140, 140})},
    {status::kUnhandled, 13, RowColour::Of({192, 0, 96})},
}};

} // namespace

std::span<const StatusEntry> StatusVocabulary()
{
    return kVocabulary;
}

const StatusEntry* FindStatus(std::string_view text)
{
    for (const StatusEntry& e : kVocabulary)
        if (e.text == text)
            return &e;
    return nullptr;
}

int StatusIcon(std::string_view text)
{
    const StatusEntry* e = FindStatus(text);
    return e ? e->icon : -1;
}

RowColour StatusRowColour(std::string_view text)
{
    const StatusEntry* e = FindStatus(text);
    return e ? e->colour : RowColour::Base();
}

} // namespace kv
