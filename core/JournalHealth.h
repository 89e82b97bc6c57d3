#pragma once
// A journal that cannot be written loses events in a crash: while either
// journal's log fails, the technological journal gets a red line once per
// failure period, and a green one when writing works again. Polled on the UI
// thread; the windows show the failure in a banner as well.
#include "data/DurableJournal.h"
#include "data/Rgb.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kv {

class JournalHealthWatch {
public:
    using TechnoWriter = std::function<void(const std::string& text, Rgb colour)>;
    using HealthFn = std::function<DurableJournal::Health()>;

    // One journal to watch: `what` names it in the lines ("журнала", "журнала обзвона").
    void Watch(std::string what, HealthFn health);
    // Looks at every journal once, telling `techno` what changed. Returns the
    // failure of the first journal failing now ("Ошибка записи журнала: ..."),
    // empty when all are written.
    std::string Poll(const TechnoWriter& techno);

private:
    struct Watched {
        std::string what;
        HealthFn health;
        bool ok = true;
        std::uint64_t failures = 0;
    };
    std::vector<Watched> m_watched;
};

} // namespace kv
