#include "receiver/ReceiverOptions.h"

#include "data/Text.h"

namespace kv {

using namespace literals;

ReceiverOptions ParseReceiverArgs(const std::vector<std::string>& args)
{
    ReceiverOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            o.help = true;
            continue;
        }
        std::string* target = a == "--data" ? &o.data : a == "--config" ? &o.config : nullptr;
        if (!target) {
            o.error = Str("Неизвестный параметр: "_cp) + a;
            return o;
        }
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            o.error = Str("После "_cp) + a + Str(" нужен путь"_cp);
            return o;
        }
        *target = args[++i];
    }
    if (!o.help && o.data.empty())
        o.error = Str("Не указана папка данных (--data DIR)"_cp);
    return o;
}

std::string ReceiverUsage()
{
    return Str("Использование: korvalen-receiver --data ПАПКА [--config ФАЙЛ]\n"
               "  --data ПАПКА   папка таблиц и журналов станции (t1.bin ... t6.bin, techno.log)\n"
               "  --config ФАЙЛ  настройки (по умолчанию config.ini в папке данных)\n"_cp);
}

} // namespace kv
