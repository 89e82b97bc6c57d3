#include "tools/modemsim/Demo.h"

#include "tools/modemsim/DemoDevices.h"

#include <algorithm>
#include <iterator>

namespace kv::modemsim {

DemoScript::DemoScript(SimModem& reports, SimModem* ringRound, std::uint32_t seed, Log log)
    : m_reports(reports), m_ringRound(ringRound), m_rng(seed), m_log(std::move(log)),
      m_states(std::size(kDemoDevices))
{
    for (size_t i = 0; i < std::size(kDemoDevices); ++i) {
        // A device that never picks up the ring-round is a dead one: it reports nothing.
        if (kDemoDevices[i].answers)
            m_reporting.push_back(i);
    }
}

void DemoScript::Start(Millis now)
{
    for (const DemoDevice& device : kDemoDevices) {
        const DialRule rule = device.answers ? DialRule{DialAnswer::Busy, 2000, 4000} : DialRule{DialAnswer::Never, 0, 0};
        // Modem 1 dials too, when the card arms a device by call.
        m_reports.SetDialRule(std::string(device.number), rule);
        if (m_ringRound)
            m_ringRound->SetDialRule(std::string(device.number), rule);
    }
    // The first report comes early, so a fresh demo has something to show.
    m_nextReport = now + 10000;
}

Millis DemoScript::Between(Millis lo, Millis hi)
{
    return std::uniform_int_distribution<Millis>(lo, hi)(m_rng);
}

std::optional<Millis> DemoScript::NextWake() const
{
    Millis next = m_nextReport;
    for (const PendingCall& call : m_calls)
        next = std::min(next, call.due);
    return next;
}

void DemoScript::Advance(Millis now)
{
    if (now >= m_nextReport) {
        Report(now);
        m_nextReport = now + Between(kMinGap, kMaxGap);
    }
    for (auto it = m_calls.begin(); it != m_calls.end();) {
        if (it->due > now) {
            ++it;
            continue;
        }
        if (!it->ringing) {
            m_reports.Ring(it->number, now);
            m_log("demo: alarm call from " + it->number);
            it->ringing = true;
            it->due = now + kCallerPatience;
            ++it;
            continue;
        }
        const auto ringing = m_reports.RingingCalls();
        if (std::find(ringing.begin(), ringing.end(), it->number) != ringing.end()) {
            m_reports.FarEndHangsUp(now, it->number);
            m_log("demo: " + it->number + " gave up calling");
        }
        it = m_calls.erase(it);
    }
}

void DemoScript::Report(Millis now)
{
    if (m_reporting.empty())
        return;
    const size_t device = m_reporting[std::uniform_int_distribution<size_t>(0, m_reporting.size() - 1)(m_rng)];
    DeviceState& state = m_states[device];
    const int roll = static_cast<int>(Between(0, 99));
    using namespace demo_text;
    if (roll < 30) {
        state.armed = !state.armed;
        Send(device, std::string(state.armed ? kArmed : kDisarmed));
    } else if (roll < 42 && state.armed) {
        static constexpr std::string_view kAlarms[] = {kAlarm, kMotion, kExtraSensor};
        Send(device, std::string(kAlarms[Between(0, 2)]) + ". Зона " + std::to_string(Between(1, 4)));
        if (Between(0, 9) < 6)
            ScheduleCall(device, now + Between(3000, 8000));
    } else if (roll < 57) {
        state.mainsLost = !state.mainsLost;
        Send(device, std::string(state.mainsLost ? kMainsLost : kMainsRestored));
    } else if (roll < 62) {
        Send(device, std::string(kBatteryLow));
    } else if (roll < 67) {
        ScheduleCall(device, now);
    } else {
        Send(device, std::string(kTemperature) + " +" + std::to_string(Between(12, 27)) + "°C");
    }
}

void DemoScript::Send(size_t device, std::string text)
{
    const std::string number(kDemoDevices[device].number);
    if (m_reports.StoreSms(number, text).stored)
        m_log("demo: SMS from " + number + ": " + text);
    else
        m_log("demo: SIM full, SMS from " + number + " waits at the network");
}

void DemoScript::ScheduleCall(size_t device, Millis at)
{
    const std::string number(kDemoDevices[device].number);
    // One call per device at a time, as a real caller.
    for (const PendingCall& call : m_calls) {
        if (call.number == number)
            return;
    }
    m_calls.push_back(PendingCall{at, number, false});
}

} // namespace kv::modemsim
