#pragma once
// The demo run: the demo devices report on modem 1 now and then, call it in alarm
// once in a while, and answer (or not) the ring-round of modem 2.
#include "tools/modemsim/SimModem.h"

#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace kv::modemsim {

// Device report texts, with the marker phrases the station classifies by. The alarm
// phrase carries Latin a, P, E, B among Cyrillic letters, exactly as the devices send it.
namespace demo_text {
inline constexpr std::string_view kArmed = "Поставлено на охрану";
inline constexpr std::string_view kDisarmed = "Снято с охраны";
inline constexpr std::string_view kAlarm = "Вним" "a" "ние Т" "PEB" "ОГА";
inline constexpr std::string_view kMotion = "Внимание, сработал датчик движения";
inline constexpr std::string_view kExtraSensor = "Внимание, сработал дополнительный датчик";
inline constexpr std::string_view kMainsLost = "Сетевое питание отключено, система питается от АКБ";
inline constexpr std::string_view kMainsRestored = "Сетевое питание системы восстановлено";
inline constexpr std::string_view kBatteryLow = "Внимание, аккумулятор разряжен, напряжение на АКБ ниже 10 вольт";
inline constexpr std::string_view kTemperature = "Температура";
} // namespace demo_text

class DemoScript {
public:
    using Log = std::function<void(const std::string&)>;

    // `ringRound` may be null when the simulator runs a single modem.
    DemoScript(SimModem& reports, SimModem* ringRound, std::uint32_t seed, Log log);

    void Start(Millis now);
    void Advance(Millis now);
    std::optional<Millis> NextWake() const;

    // Report intervals, and how long an unanswered alarm call keeps ringing.
    static constexpr Millis kMinGap = 20000;
    static constexpr Millis kMaxGap = 60000;
    static constexpr Millis kCallerPatience = 30000;

private:
    struct DeviceState {
        bool armed = false;
        bool mainsLost = false;
    };
    struct PendingCall {
        Millis due = 0;
        std::string number;
        bool ringing = false; // placed; `due` is then when the caller gives up
    };

    void Report(Millis now);
    void Send(size_t device, std::string text);
    void ScheduleCall(size_t device, Millis at);
    Millis Between(Millis lo, Millis hi);

    SimModem& m_reports;
    SimModem* m_ringRound;
    std::mt19937 m_rng;
    Log m_log;
    std::vector<DeviceState> m_states;
    std::vector<size_t> m_reporting; // devices that are alive and send reports
    Millis m_nextReport = 0;
    std::vector<PendingCall> m_calls;
};

} // namespace kv::modemsim
