#include "core/AlarmPriority.h"

#include "data/IniFile.h"
#include "data/Text.h"

namespace kv {

using namespace literals;

AlarmPriorities ReadPriorities(const IniFile& ini, std::vector<std::string>& problems)
{
    AlarmPriorities p;
    if (!ini.Readable())
        return p;
    const std::string section(kPrioritiesSection);
    for (std::size_t k = 0; k < kPriorityKeys.size(); ++k) {
        const std::string key(kPriorityKeys[k]);
        const std::optional<std::string> typed = ini.Read(section, key);
        if (!typed)
            continue;
        const std::string_view text = TrimBlanks(*typed);
        if (text.size() == 1 && text[0] >= '1' && text[0] <= '9') {
            p.of[k] = text[0] - '0';
            continue;
        }
        problems.push_back(std::string("Приоритеты: у "_cp) + key + std::string(" нужно число от 1 до 9, а не \""_cp) +
                           *typed + std::string("\". Оставлено "_cp) + std::to_string(p.of[k]) + ".");
    }
    return p;
}

} // namespace kv
