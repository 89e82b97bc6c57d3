#include "modem/DialThread.h"

#include "codec/Classify.h"
#include "codec/Number.h"
#include "codec/Ucs2.h"
#include "data/Text.h"
#include "modem/Commands.h"
#include "modem/EventTexts.h"
#include "modem/LineReader.h"
#include "modem/Ussd.h"

#include <algorithm>

namespace kv {

using namespace kv::literals;

namespace {

constexpr std::string_view kModemTel = events::kModem2Tel;
constexpr std::string_view kStatusOffline = "Нет связи"_cp;

} // namespace

TDialThread::TDialThread(TModem& modem, ISerialIo& port, IModemHost& host, IClock& clock, DialSchedule& schedule,
                         DialState& state)
    : m_modem(modem), m_port(port), m_host(host), m_clock(clock), m_schedule(schedule), m_state(state)
{
    m_state.nextSignalPollMs = m_clock.MonotonicMs() + kSignalPeriodMs;
}

TDialThread::~TDialThread()
{
    RequestStop();
    m_thread.Join();
}

void TDialThread::Start()
{
    m_thread.Start([this] { RunLoop(); });
}

void TDialThread::RequestStop() { m_modem.Running = false; }

bool TDialThread::Wait(std::chrono::milliseconds limit) { return m_thread.Wait(limit); }

bool TDialThread::Finished() const { return m_thread.Finished(); }

void TDialThread::RunLoop()
{
    while (m_modem.Running)
        Pass();
    try {
        m_host.SetDialStatus(Str("Статус дозвона: ожидание"_cp));
    } catch (...) {
    }
}

void TDialThread::Pass()
{
    try {
        PassBody();
    } catch (...) {
        // A port that is not open fails every write; the worker keeps trying quietly.
        ReopenVanishedPort();
        m_clock.SleepMs(kAfterErrorMs);
    }
}

void TDialThread::ReopenVanishedPort()
{
    // Without this a modem unplugged and plugged in again would never be heard
    // of again: its port stays open on the device that went away.
    if (m_port.Connected() && !m_port.DeviceLost())
        return;
    if (m_lastReopen && m_clock.ElapsedMs(*m_lastReopen) < kReopenEveryMs)
        return;
    m_lastReopen = m_clock.ReadTimeStamp();
    try {
        m_port.Close();
        m_port.Open();
        // Back from power-on: the set-up the modem window gave it at the start.
        WriteTextModeSetup(m_port, [this](std::uint32_t ms) { m_clock.SleepMs(ms); });
        m_modem.ClearRx();
    } catch (...) {
    }
}

void TDialThread::PassBody()
{
    m_clock.SleepMs(kPassSleepMs);
    const std::uint64_t now = m_clock.MonotonicMs();
    CheckTimeouts(now);
    if (m_state.balanceWait) {
        HandleBalanceReply(now);
    } else if (m_state.signalWait) {
        if (m_modem.RxContains("AT+CSQ"))
            HandleSignalReply();
    } else if (m_state.dialling) {
        // Judged as soon as the modem tells how the call ended; the deadline
        // only for a modem that says nothing.
        const CallEnd end = ReadCallEnd();
        if (end == CallEnd::Busy)
            m_state.busySeen = true;
        if (end != CallEnd::None || now >= m_state.dialDeadlineMs)
            Verdict();
    } else if (m_state.balanceRequest) {
        RequestBalance(now);
    } else if (now > m_state.nextSignalPollMs) {
        PollSignal(now);
    } else {
        StartCall(now);
    }
}

void TDialThread::CheckTimeouts(std::uint64_t now)
{
    if (m_state.signalWait && now > m_state.nextSignalPollMs) {
        m_state.nextSignalPollMs = now + kSignalPeriodMs;
        m_state.signalWait = false;
    }
    if (m_state.balanceWait && now > m_state.balanceDeadlineMs) {
        m_state.balanceWait = false;
        m_host.WriteDialEvent(std::string(kStatusOffline), std::string(kModemTel),
                              Str("Превышен интервал времени ожидания баланса"_cp));
    }
}

void TDialThread::HandleBalanceReply(std::uint64_t now)
{
    RxLease lease(m_modem);
    std::string& buffer = lease.Buffer();
    // Whole lines only: a text split over two reads waits for its end. The
    // answer comes after the OK or before it, with blanks after the commas or
    // without, in the coding its dcs names.
    TLineReader reader;
    for (const ModemLine& line : reader.Take(buffer)) {
        std::string text;
        if (line.text.starts_with("+CUSD:")) {
            const UssdAnswer answer = ParseUssdAnswer(line.text);
            if (answer.kind == UssdAnswer::Kind::None)
                continue; // "+CUSD: 2" alone: the answer may still follow
            Techno(line.raw, kBlue);
            text = answer.text;
        } else if (FinalResultOf(line.text, false) == FinalResult::Error
                   || line.text.starts_with("+CME ERROR") || line.text.starts_with("+CMS ERROR")) {
            // Some modems refuse the request code as UCS2 hex and take the plain one.
            if (const auto plain = PlainUssdRequest(m_balanceRequest)) {
                m_balanceRequest = *plain;
                m_port.WriteText(*plain);
                m_state.balanceDeadlineMs = now + kBalanceWaitMs;
                continue;
            }
            text = UssdRefusedByModem(line.text);
            Techno(text, kBlue);
        } else {
            continue;
        }
        m_host.AddBalanceLine(Str("Модем 2(обзвон):"_cp) + text);
        m_host.WriteDialEvent(Str("Баланс"_cp), std::string(kModemTel), text);
        buffer.clear();
        m_state.balanceWait = false;
        return;
    }
}

void TDialThread::HandleSignalReply()
{
    RxLease lease(m_modem);
    std::string& buffer = lease.Buffer();
    m_state.signalWait = false;
    // Parsed as soon as the echo is in: the modem sends its answer right behind it.
    Techno(buffer, kOrange);
    std::optional<double> level;
    const std::size_t at = buffer.find("+CSQ:");
    if (at != std::string::npos) {
        buffer.erase(0, std::min(buffer.size(), at + 6));
        const std::size_t comma = buffer.find(',');
        if (comma != std::string::npos)
            level = TextToFloat(std::string_view(buffer).substr(0, comma));
    }
    if (level)
        m_host.ShowSignalLevel2(*level);
    else
        Techno(Str("Ошибка при определении уровня сигнала модема 2"_cp), kRed);
    buffer.clear();
}

TDialThread::CallEnd TDialThread::ReadCallEnd()
{
    RxLease lease(m_modem);
    std::string& buffer = lease.Buffer();
    // A "BUSY" left from before the call counts for it too. Only whole lines:
    // "NO CARRIER" half-received is not yet a verdict.
    std::size_t from = 0;
    while (from < buffer.size()) {
        const std::size_t end = buffer.find_first_of("\r\n", from);
        if (end == std::string::npos)
            break;
        std::string_view line(buffer.data() + from, end - from);
        while (!line.empty() && line.front() == ' ')
            line.remove_prefix(1);
        while (!line.empty() && line.back() == ' ')
            line.remove_suffix(1);
        from = end + 1;
        switch (FinalResultOf(line, true)) {
        case FinalResult::Busy:
            buffer.clear();
            return CallEnd::Busy;
        case FinalResult::NoCarrier:
        case FinalResult::NoAnswer:
        case FinalResult::Error:
            buffer.clear();
            return CallEnd::Failed;
        default:
            break;
        }
    }
    return CallEnd::None;
}

void TDialThread::Verdict()
{
    if (!m_call) {
        // Inherited from a stopped worker: tile and number unknown, so it is
        // neither journalled nor counted and no schedule entry is touched.
        m_state.dialling = false;
        if (m_state.busySeen.exchange(false))
            m_modem.ClearRx();
        else
            HangUp();
        return;
    }
    const Call call = *m_call;
    m_call.reset();
    if (m_state.busySeen) {
        m_state.dialling = false;
        m_schedule.Succeeded(call.tile, m_clock.Now());
        m_host.SetDialStatus(Str("Статус дозвона: дозвон завершен успешно"_cp));
        m_host.WriteDialEvent(Str("На связи"_cp), call.number, std::string(events::kRingRoundAnswered));
        Techno(Str("Дозвон завершен УСПЕШНО. Телефон:"_cp) + call.number + Str(". Попытка: "_cp)
                   + std::to_string(call.tile.failures + 1),
               kGreen);
        m_state.busySeen = false;
        m_modem.ClearRx();
        return; // the device's rejection ended the call: nothing to hang up
    }
    const int report = std::max(m_state.failuresToReport.load(), 1);
    const int attempt = m_schedule.Failed(call.tile, report, m_clock.Now());
    if (attempt < report) {
        const std::string text = Str("Нет ответа, попытка "_cp) + std::to_string(attempt) + Str(" из "_cp)
                                 + std::to_string(report);
        m_host.WriteDialEvent(std::string(kStatusOffline), call.number, text);
        Techno(text + Str(". Телефон:"_cp) + call.number, kOrange);
        HangUp();
        return;
    }
    m_host.SetDialStatus(Str("Статус дозвона: дозвон завершен не успешно"_cp));
    m_host.WriteDialEvent(std::string(kStatusOffline), call.number, std::string(events::kRingRoundFailed));
    Techno(Str("Дозвон завершен НЕ УДАЧНО. Телефон:"_cp) + call.number + Str(". Попытка: "_cp)
               + std::to_string(attempt),
           kRed);
    m_host.PlaySound(Sound::Alarm);
    m_host.SetInfoState(m_host.FindShortNameByNumber(call.number, std::string()), kInfoWarning);
    m_clock.SleepMs(kAfterFinalFailureMs);
    HangUp();
}

void TDialThread::HangUp()
{
    m_state.dialling = false;
    m_port.WriteText(std::string(kCmdHangUp));
    m_clock.SleepMs(kAfterHangUpMs);
    m_modem.ClearRx();
}

void TDialThread::RequestBalance(std::uint64_t now)
{
    m_balanceRequest = BalanceRequestCommand(TextToUcs2Hex(m_host.BalanceNumber()));
    m_port.WriteText(m_balanceRequest);
    m_state.balanceWait = true;
    m_state.balanceRequest = false;
    m_state.balanceDeadlineMs = now + kBalanceWaitMs;
}

void TDialThread::PollSignal(std::uint64_t now)
{
    m_state.nextSignalPollMs = now + kSignalPeriodMs;
    m_port.WriteText(std::string(kCmdSignalPoll));
    m_state.signalWait = true;
}

void TDialThread::StartCall(std::uint64_t now)
{
    const std::optional<DialSchedule::Tile> tile = m_schedule.TakeDue(now);
    if (!tile)
        return;
    // The entry has moved on by one interval already, so a tile whose name lost
    // its number is tried again only at its next due time.
    const std::string number = m_host.FindNumberByShortName(tile->text, std::string());
    if (number.empty()) {
        Techno(Str("Дозвон пропущен: не найден номер телефона объекта "_cp) + tile->text, kRed);
        return;
    }
    m_state.dialDeadlineMs = now + kVerdictMs;
    m_host.SetDialStatus(Str("Статус дозвона: идет дозвон"_cp));
    m_host.SetDialNumber(Str("Дозвон: "_cp) + number);
    m_port.WriteText(DialCommand(number));
    m_state.dialling = true;
    m_call = Call{*tile, number};
}

void TDialThread::Techno(const std::string& text, Rgb colour) { m_host.WriteTechno(text, colour); }

} // namespace kv
