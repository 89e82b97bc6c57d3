#include "core/JournalHealth.h"

#include "data/Text.h"

namespace kv {

using namespace literals;

void JournalHealthWatch::Watch(std::string what, HealthFn health)
{
    m_watched.push_back({std::move(what), std::move(health)});
}

std::string JournalHealthWatch::Poll(const TechnoWriter& techno)
{
    std::string shown;
    for (Watched& w : m_watched) {
        const DurableJournal::Health h = w.health();
        const std::string failed = Str("Ошибка записи "_cp) + w.what + ": " + h.reason;
        // A period that began, and perhaps ended, since the last look is told too.
        const bool newPeriod = h.failures != w.failures;
        if (newPeriod && techno)
            techno(failed, kRed);
        if (h.ok && (!w.ok || newPeriod) && techno)
            techno(Str("Запись "_cp) + w.what + Str(" восстановлена"_cp), kGreen);
        w.ok = h.ok;
        w.failures = h.failures;
        if (!h.ok && shown.empty())
            shown = failed;
    }
    return shown;
}

} // namespace kv
