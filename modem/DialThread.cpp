#include "modem/DialThread.h"

#include "codec/Classify.h"
#include "codec/Number.h"
#include "codec/Ucs2.h"
#include "data/Text.h"
#include "modem/Commands.h"
#include "modem/EventTexts.h"
#include "modem/SignalLevel.h"
#include "modem/Ussd.h"

#include <algorithm>
#include <vector>

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
        DropRemains();
    } catch (...) {
    }
}

void TDialThread::PassBody()
{
    m_clock.SleepMs(kPassSleepMs);
    const std::uint64_t now = m_clock.MonotonicMs();
    CheckTimeouts(now);
    // A pass that waits for a reply does nothing else, whether or not it came.
    const bool waiting = m_state.balanceWait || m_state.signalWait;
    ReadModem();
    if (waiting)
        return;
    if (m_state.dialling) {
        // Judged as soon as the modem tells how the call ended; the deadline
        // only for a modem that says nothing.
        if (m_callEnded || now >= m_state.dialDeadlineMs)
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
        if (m_reply.cmd == AtCommand::Signal)
            ForgetReply();
    }
    if (m_state.balanceWait && now > m_state.balanceDeadlineMs) {
        m_state.balanceWait = false;
        if (m_reply.cmd == AtCommand::Ussd)
            ForgetReply();
        m_host.WriteDialEvent(std::string(kStatusOffline), std::string(kModemTel),
                              Str("Превышен интервал времени ожидания баланса"_cp));
    }
}

void TDialThread::ReadModem()
{
    std::vector<ModemLine> codes;
    bool complete = false;
    {
        RxLease lease(m_modem);
        std::string& buffer = lease.Buffer();
        if (lease.Trimmed()) {
            m_reader.Resync(buffer);
            m_reply.damaged = true;
        }
        complete = ReadReply(m_reader, buffer, m_reply, [&codes](const ModemLine& line) { codes.push_back(line); });
    }
    // The reply is taken out before any code is acted on: a code may start
    // the next exchange (a refused balance request asked again in plain).
    std::optional<ModemReply> reply;
    if (complete) {
        reply = std::move(m_reply);
        m_reply = ModemReply{};
    }
    for (const ModemLine& line : codes)
        HandleUnsolicited(line);
    if (reply) {
        if (const ReplyRow* row = RowFor(ReplyRows(), *reply))
            (this->*row->handle)(*reply);
    } else if (m_reply.cmd == AtCommand::Ussd) {
        // The network's answer ends the wait whether or not the modem's OK
        // follows it: some modems send none. A copy, as the answer ends the reply.
        const ModemReply sofar = m_reply;
        OnUssdAccepted(sofar);
    }
}

std::span<const TDialThread::ReplyRow> TDialThread::ReplyRows()
{
    using C = AtCommand;
    using E = ReplyEnd;
    static constexpr ReplyRow rows[] = {
        // An ERROR is told as a level that could not be read.
        {C::Signal, E::Any, &TDialThread::OnSignalLevel},
        // The call is set up or under way: its end comes on a line of its own.
        {C::Dial, E::Ok, &TDialThread::OnNothing},
        {C::Dial, E::Busy, &TDialThread::OnDialBusy},
        {C::Dial, E::Any, &TDialThread::OnDialFailed},
        {C::Ussd, E::Ok, &TDialThread::OnUssdAccepted},
        {C::Ussd, E::Error, &TDialThread::OnUssdRefused},
        {C::Any, E::Any, &TDialThread::OnNothing},
    };
    return rows;
}

std::span<const TDialThread::UnsolicitedRow> TDialThread::UnsolicitedRows()
{
    // Rings, network reports and the rest are read and left.
    static constexpr UnsolicitedRow rows[] = {
        {"BUSY", &TDialThread::OnBusy},
        {"NO CARRIER", &TDialThread::OnCallFailed},
        {"NO ANSWER", &TDialThread::OnCallFailed},
        {"NO DIALTONE", &TDialThread::OnCallFailed},
        {"NO DIAL TONE", &TDialThread::OnCallFailed},
        {"ERROR", &TDialThread::OnAsyncError},
        {"+CME ERROR:", &TDialThread::OnAsyncError},
        {"+CMS ERROR:", &TDialThread::OnAsyncError},
        {"+CUSD:", &TDialThread::OnUssdAnswer},
    };
    return rows;
}

void TDialThread::HandleUnsolicited(const ModemLine& line)
{
    if (const UnsolicitedRow* row = RowFor(UnsolicitedRows(), line))
        (this->*row->handle)(line);
}

void TDialThread::Send(const std::string& line)
{
    m_reply = ModemReply{};
    m_reply.command = line;
    m_reply.cmd = CommandOf(line);
    m_reader.Expect(line);
    m_port.WriteText(line);
}

void TDialThread::ForgetReply()
{
    m_reader.Expect({});
    m_reply = ModemReply{};
}

// ---------------------------------------------------------------- replies

void TDialThread::OnSignalLevel(const ModemReply& reply)
{
    m_state.signalWait = false;
    Techno(reply.raw, kOrange);
    if (const std::optional<double> level = SignalLevelOf(reply))
        m_host.ShowSignalLevel2(*level);
    else
        Techno(Str("Ошибка при определении уровня сигнала модема 2"_cp), kRed);
}

void TDialThread::OnDialBusy(const ModemReply&) { CallEnded(true); }

void TDialThread::OnDialFailed(const ModemReply&) { CallEnded(false); }

void TDialThread::OnUssdAccepted(const ModemReply& reply)
{
    // Some modems give the answer before the OK.
    for (const ModemLine& line : reply.lines) {
        if (!m_state.balanceWait)
            return;
        if (line.text.starts_with("+CUSD:"))
            OnUssdAnswer(line);
    }
}

void TDialThread::OnUssdRefused(const ModemReply& reply) { RefuseBalance(reply.command, reply.finalText); }

// ---------------------------------------------------------------- unsolicited codes

void TDialThread::OnBusy(const ModemLine&) { CallEnded(true); }

void TDialThread::OnCallFailed(const ModemLine&) { CallEnded(false); }

void TDialThread::OnAsyncError(const ModemLine& line)
{
    // The network's refusal of a balance request can come after its OK.
    if (m_state.balanceWait)
        RefuseBalance(m_balanceRequest, line.text);
    else
        CallEnded(false);
}

void TDialThread::OnUssdAnswer(const ModemLine& line)
{
    const UssdAnswer answer = ParseUssdAnswer(line.text);
    if (answer.kind == UssdAnswer::Kind::None)
        return; // "+CUSD: 2" alone: the answer may still follow
    Techno(line.raw, kBlue);
    // An answer nobody waits for any more (its wait ran out) stays in the
    // technological journal only: its time-out row has been written.
    if (m_state.balanceWait)
        BalanceAnswered(answer.text);
}

void TDialThread::CallEnded(bool busy)
{
    if (!m_state.dialling)
        return;
    if (busy)
        m_state.busySeen = true;
    m_callEnded = true;
}

void TDialThread::RefuseBalance(const std::string& request, const std::string& errorLine)
{
    // Some modems refuse the request code as UCS2 hex and take the plain one.
    if (const std::optional<std::string> plain = PlainUssdRequest(request)) {
        m_balanceRequest = *plain;
        m_state.balanceDeadlineMs = m_clock.MonotonicMs() + kBalanceWaitMs;
        Send(*plain);
        return;
    }
    const std::string text = UssdRefusedByModem(errorLine);
    Techno(text, kBlue);
    BalanceAnswered(text);
}

void TDialThread::BalanceAnswered(const std::string& text)
{
    m_state.balanceWait = false;
    if (m_reply.cmd == AtCommand::Ussd)
        ForgetReply();
    m_host.AddBalanceLine(Str("Модем 2(обзвон):"_cp) + text);
    m_host.WriteDialEvent(Str("Баланс"_cp), std::string(kModemTel), text);
}

void TDialThread::Verdict()
{
    m_callEnded = false;
    if (!m_call) {
        // Inherited from a stopped worker: tile and number unknown, so it is
        // neither journalled nor counted and no schedule entry is touched.
        m_state.dialling = false;
        if (m_state.busySeen.exchange(false))
            DropRemains();
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
        m_host.WriteDialEvent(Str("На связи"_cp), call.number, std::string(events::kRingRoundAnswered),
                              RingOutcome::Answered);
        Techno(Str("Дозвон завершен УСПЕШНО. Телефон:"_cp) + call.number + Str(". Попытка: "_cp)
                   + std::to_string(call.tile.failures + 1),
               kGreen);
        m_state.busySeen = false;
        DropRemains();
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
    // The device's tile gets its notification from the row's outcome.
    m_host.WriteDialEvent(std::string(kStatusOffline), call.number, std::string(events::kRingRoundFailed),
                          RingOutcome::Failed);
    Techno(Str("Дозвон завершен НЕ УДАЧНО. Телефон:"_cp) + call.number + Str(". Попытка: "_cp)
               + std::to_string(attempt),
           kRed);
    m_host.PlaySound(Sound::Alarm);
    m_clock.SleepMs(kAfterFinalFailureMs);
    HangUp();
}

void TDialThread::HangUp()
{
    m_state.dialling = false;
    Send(std::string(kCmdHangUp));
    m_clock.SleepMs(kAfterHangUpMs);
    // Whole lines that came meanwhile are read (a late balance answer among them).
    ReadModem();
    DropRemains();
}

void TDialThread::DropRemains()
{
    // Half a line the ended call left must not run into the next call's reply.
    ForgetReply();
    m_modem.ClearRx();
}

void TDialThread::RequestBalance(std::uint64_t now)
{
    m_balanceRequest = BalanceRequestCommand(TextToUcs2Hex(m_host.BalanceNumber()));
    Send(m_balanceRequest);
    m_state.balanceWait = true;
    m_state.balanceRequest = false;
    m_state.balanceDeadlineMs = now + kBalanceWaitMs;
}

void TDialThread::PollSignal(std::uint64_t now)
{
    m_state.nextSignalPollMs = now + kSignalPeriodMs;
    Send(std::string(kCmdSignalPoll));
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
    Send(DialCommand(number));
    m_callEnded = false;
    m_state.dialling = true;
    m_call = Call{*tile, number};
}

void TDialThread::Techno(const std::string& text, Rgb colour) { m_host.WriteTechno(text, colour); }

} // namespace kv
