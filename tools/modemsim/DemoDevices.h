#pragma once
// The devices of the demo run. The simulator plays them on its modems, and the
// station's demo start builds its device register from the same table, so the two
// always agree on names and numbers. Texts are UTF-8.
#include <string_view>

namespace kv::modemsim {

struct DemoDevice {
    std::string_view shortName; // tile label
    std::string_view name;      // entry of the device list
    std::string_view number;    // the device's SIM card, as the station dials it
    bool answers;               // rejects ring-round calls with BUSY; false: never answers
};

inline constexpr DemoDevice kDemoDevices[] = {
    {"Склад", "Склад на Заводской, 12", "+79001000001", true},
    {"Офис", "Офис на Ленина, 5", "+79001000002", true},
    {"Гараж", "Гаражный бокс 14", "+79001000003", true},
    {"Магазин", "Магазин на Садовой, 40", "+79001000004", true},
    {"Котельная", "Котельная школы №3", "+79001000005", true},
    {"Дача", "Дача в Сосновке", "+79001000006", false},
};

} // namespace kv::modemsim
