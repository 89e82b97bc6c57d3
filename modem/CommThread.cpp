#include "modem/CommThread.h"

#include "codec/Classify.h"
#include "codec/Number.h"
#include "codec/Ucs2.h"
#include "data/Text.h"
#include "modem/AtFields.h"
#include "modem/Commands.h"
#include "modem/EventTexts.h"
#include "modem/SignalLevel.h"
#include "modem/Ussd.h"

#include <algorithm>
#include <utility>

namespace kv {

using namespace kv::literals;

namespace {

constexpr std::string_view kModemTel = events::kModem1Tel;
constexpr std::string_view kLineTimeout = "Ошибка обмена по таймауту..."_cp;
// The modem window's СТАТУС: the modem answers, or it has gone silent.
constexpr std::string_view kLinkUp = "на связи"_cp;
constexpr std::string_view kLinkDown = "нет связи"_cp;
constexpr std::string_view kLineIncomplete = "Принят неполный пакет..."_cp;
constexpr std::string_view kLinePassFailed = events::kLinePassFailed;
constexpr std::string_view kLineAtError = events::kLineAtError;
constexpr std::string_view kLineTilesNotSaved = "Не удалось сохранить состояния объектов"_cp;
constexpr std::string_view kLineTilesSavedAgain = "Состояния объектов снова сохраняются"_cp;
constexpr std::string_view kLineIndicationsOn = "Включены уведомления о новых SMS"_cp;
constexpr std::string_view kLineIndicationsOff =
    "Уведомления о новых SMS не включены: SMS читаются по опросу памяти"_cp;
constexpr std::string_view kLineAnswer = "Выдана команда на подъем трубки."_cp;
constexpr std::string_view kLineHangUp = "Выдана команда на отбой."_cp;
constexpr std::string_view kLineCallEnded = "Отбой вызова!"_cp;
constexpr std::string_view kStatusAlarm = "Тревога"_cp;
constexpr std::string_view kStatusOnline = "На связи"_cp;
constexpr std::string_view kStatusSmsFailed = "Неудачная отправка СМС"_cp;
constexpr std::string_view kSmsSent = "Сообщение отправлено"_cp;
constexpr std::string_view kCallAlarm = events::kCallAlarm;

bool EndsWithCtrlZ(std::string_view line) { return !line.empty() && line.back() == kCtrlZ; }

// The quoted number of "AT+CMGS="...""; a send queued without its record.
std::string QuotedOf(std::string_view line)
{
    const std::size_t open = line.find('"');
    const std::size_t close = open == std::string_view::npos ? open : line.find('"', open + 1);
    return close == std::string_view::npos ? std::string() : std::string(line.substr(open + 1, close - open - 1));
}

// "AT+CMGF=0" in front of a PDU send command: a long text's unit, not a read.
bool IsLongSendSwitch(const std::optional<std::string>& next)
{
    return next && next->starts_with("AT+CMGS=") && next->find('"') == std::string::npos;
}

} // namespace

TCommThread::TCommThread(TModem& modem, ISerialIo& port, IModemHost& host, IClock& clock, TileSaveFn saveTiles,
                         std::string partsFile)
    : m_modem(modem), m_port(port), m_host(host), m_clock(clock), m_saveTiles(std::move(saveTiles)),
      m_inbox(modem, host, clock, std::move(partsFile))
{
    m_lastPoll = m_clock.ReadTimeStamp();
    m_modem.SmsIndex = 1;
    // The modem window has just set UCS2 by writing to the port itself.
    m_modem.CharsetUcs2 = true;
}

TCommThread::~TCommThread()
{
    RequestStop();
    m_thread.Join();
}


void TCommThread::Start()
{
    m_thread.Start([this] { Run(); });
}

void TCommThread::RequestStop() { m_modem.Running = false; }

bool TCommThread::Wait(std::chrono::milliseconds limit) { return m_thread.Wait(limit); }

bool TCommThread::Finished() const { return m_thread.Finished(); }

void TCommThread::Run()
{
    while (m_modem.Running)
        Pass();
}

void TCommThread::Pass() { Guarded([this] { PassBody(); }); }

void TCommThread::Guarded(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (...) {
        try {
            Techno(kLinePassFailed, kRed);
        } catch (...) {
            // The journal itself failed; nothing left to tell it with.
        }
    }
}

void TCommThread::PassBody()
{
    // A queued command goes at once; otherwise the worker rests until the modem
    // says something or a command is queued.
    if (m_modem.QueueEmpty())
        WaitForModemWork(m_modem, m_clock, kPassSleepMs);
    ReadUnsolicited();
    RunTimers();
    Poll();
    if (!m_modem.QueueEmpty())
        Exchange();
}

void TCommThread::RunTimers()
{
    CheckUssdGiveUp();
    if (m_hangUpAt && m_clock.ElapsedMs(*m_hangUpAt) >= kHangUpAfterMs) {
        m_hangUpAt.reset();
        m_answering = false;
        Queue(kCmdHangUp);
        Techno(kLineHangUp, kBlue);
    }
    if (m_deviceCallSince && m_clock.ElapsedMs(*m_deviceCallSince) >= kDeviceCallLimitMs) {
        EndDeviceCall();
        Queue(kCmdHangUp);
        Techno(kLineHangUp, kBlue);
        m_host.SetCommandButtonsEnabled(true);
    }
    m_inbox.Tick();
}

void TCommThread::CheckUssdGiveUp()
{
    if (!m_modem.UssdPending) {
        m_ussdSeenAt.reset();
        return;
    }
    if (!m_ussdSeenAt) {
        m_ussdSeenAt = m_clock.ReadTimeStamp();
        return;
    }
    if (m_clock.ElapsedMs(*m_ussdSeenAt) >= kUssdGiveUpMs) {
        m_modem.UssdPending = false;
        m_ussdSeenAt.reset();
        m_ussdRequest.clear();
        Techno("Нет ответа на запрос баланса. Опрос модема возобновлен."_cp, kRed);
    }
}

void TCommThread::Poll()
{
    if (m_clock.ElapsedMs(m_lastPoll) <= kPollIntervalMs)
        return;
    // The toggle flips even when the queue refuses the poll (during a send or a
    // balance request), so the tile states are still saved every second poll.
    if (!m_pollToggle) {
        if (!m_modem.HasPending(kCmdSignalPoll))
            EnqueueCommand(m_modem, std::string(kCmdSignalPoll));
        m_pollToggle = true;
        m_lastPoll = m_clock.ReadTimeStamp();
        SaveTiles();
    } else {
        // A modem left in the plain character set (a device command whose
        // switch back was refused or lost) would never have its messages read:
        // once nothing else is pending it is put back into UCS2.
        if (!m_modem.CharsetUcs2 && !m_modem.SmsSending && m_modem.QueueEmpty()) {
            EnqueueCommand(m_modem, std::string(kCmdCharsetUcs2));
            EnqueueCommand(m_modem, std::string(kCmdTextParams));
        }
        if (!m_modem.HasPending(kCmdMemoryPoll))
            EnqueueCommand(m_modem, std::string(kCmdMemoryPoll));
        m_pollToggle = false;
        m_lastPoll = m_clock.ReadTimeStamp();
    }
}

void TCommThread::SaveTiles()
{
    if (!m_saveEnabled || !m_saveTiles)
        return;
    switch (m_saveTiles()) {
    case TileSaveResult::Saved:
        if (std::exchange(m_tilesFailing, false))
            Techno(kLineTilesSavedAgain, kGreen);
        break;
    case TileSaveResult::CannotCreate: m_saveEnabled = false; break;
    case TileSaveResult::WriteFailed:
        // A line, never a box: nobody may be at the desk to click it away, and
        // the worker must go on reading meanwhile.
        if (!std::exchange(m_tilesFailing, true))
            Techno(kLineTilesNotSaved, kRed);
        break;
    }
}

// ---------------------------------------------------------------- one exchange

void TCommThread::Exchange()
{
    const std::optional<std::string> taken = m_modem.TakeCommand();
    if (!taken)
        return;
    std::string line = *taken;
    const Cmd cmd = CommandOf(line);
    if (!Admit(line, cmd))
        return;
    BeginReply(line, cmd);
    // Cleared before the write, so that a modem quick enough to answer while the
    // write is still returning counts as having answered.
    m_modem.ClearDataReceived();
    try {
        m_port.WriteText(line);
    } catch (...) {
        // A port that cannot write gets no answer: the wait ends as a time-out.
    }
    const std::uint64_t start = m_clock.ReadTimeStamp();
    const std::uint32_t limit = cmd == Cmd::SendText || cmd == Cmd::Dial ? kNetworkWaitMs : kExchangeWaitMs;
    bool look = true;
    while (m_clock.ElapsedMs(start) < limit) {
        if (m_modem.TakeDataReceived()) {
            if (m_state == kAwaitingReply)
                m_state = kReplyIncomplete;
            look = true;
        }
        // An unchanged buffer would give the same lines again.
        if (look) {
            look = false;
            if (LookAtReply())
                break;
        }
        // A stop (the station closing) does not sit out the wait: with a silent
        // modem the close would hang for ten seconds and end in a link-lost alarm.
        // What arrived so far has been read; the rest of the reply no longer
        // matters, and the missing answer says nothing about the modem.
        if (!m_modem.Running) {
            m_modem.ClearRx();
            m_reader.Expect({});
            m_inReply = false;
            if (m_send && m_send->outcome)
                m_send->outcome(false);
            m_send.reset();
            m_long = LongSend::None;
            return;
        }
        WaitForModemBytes(m_modem, m_clock, kLookIntervalMs);
    }
    if (!m_replyDone) {
        if (m_modem.TakeDataReceived() && m_state == kAwaitingReply)
            m_state = kReplyIncomplete;
        LookAtReply();
    }
    EndReply();
    m_clock.SleepMs(kAfterExchangeMs);
}

bool TCommThread::Admit(std::string& line, Cmd cmd)
{
    const bool prompted = std::exchange(m_promptGiven, false);
    switch (cmd) {
    case Cmd::Charset:
        // Unknown until the modem confirms it.
        m_modem.CharsetUcs2 = false;
        break;
    case Cmd::Read:
    case Cmd::List: return m_inbox.AdmitRead(line, cmd == Cmd::List);
    case Cmd::TextMode:
        if (line == kCmdPduMode && IsLongSendSwitch(m_modem.PeekCommand())) {
            m_send = m_modem.TakeSend();
            m_fallbackCommand = m_send ? m_send->fallbackCommand : std::string();
            m_modem.SmsSending = true;
            m_partsSent = 0;
            m_longOver = false;
            m_longPduOn = false;
            m_dropText = false;
            // A modem known to refuse PDU mode is not asked again.
            m_long = m_inbox.PduModeRefused() ? LongSend::Skipping : LongSend::Switching;
            return m_long == LongSend::Switching;
        }
        if (line == kCmdTextMode && m_long == LongSend::Skipping) {
            m_long = m_longOver ? LongSend::DropFallback : LongSend::Fallback;
            m_longSwitchBack = m_longPduOn;
            return m_longPduOn;
        }
        if (line == kCmdPduMode)
            return m_inbox.AdmitPduMode();
        if (line == kCmdTextMode)
            return m_inbox.AdmitSwitchBack();
        break;
    case Cmd::SendCommand:
        // Only the unit's own PDU sends are skipped; a quoted one is another send.
        if (m_long == LongSend::Skipping && line.find('"') == std::string::npos) {
            m_dropText = true;
            return false;
        }
        if (m_long == LongSend::Skipping)
            m_long = LongSend::None;
        if (m_long == LongSend::DropFallback) {
            m_long = LongSend::None;
            if (line == m_fallbackCommand) {
                m_dropText = true;
                return false;
            }
        }
        // A long unit's record was taken at its switch to PDU mode.
        if (m_long == LongSend::Fallback)
            m_long = LongSend::None;
        else if (m_long != LongSend::Parts || !m_send)
            m_send = m_modem.TakeSend();
        if (!m_send)
            m_send = TModem::SmsSend{QuotedOf(line), {}, true, {}};
        m_modem.SmsSending = true;
        break;
    case Cmd::SendText:
        if (std::exchange(m_dropText, false))
            return false;
        // Only at the prompt of its own send command: written at any other
        // moment the text would be taken as a command.
        if (!prompted)
            return false;
        if (m_send && m_send->text.empty())
            m_send->text = line.substr(0, line.size() - 1);
        break;
    case Cmd::Dial:
        m_deviceCall = true;
        m_deviceCallSince.reset();
        break;
    case Cmd::Ussd: m_ussdRequest = line; break;
    default: break;
    }
    return true;
}

void TCommThread::BeginReply(std::string line, Cmd cmd)
{
    m_reply = Reply{};
    m_reply.command = std::move(line);
    m_reply.cmd = cmd;
    m_reader.Expect(m_reply.command);
    m_inReply = true;
    m_replyDone = false;
    m_state = kAwaitingReply;
}

void TCommThread::BeginReplyFor(std::string line)
{
    const Cmd cmd = CommandOf(line);
    if (Admit(line, cmd))
        BeginReply(std::move(line), cmd);
}

bool TCommThread::DispatchReceived()
{
    if (m_modem.TakeDataReceived() && m_state == kAwaitingReply)
        m_state = kReplyIncomplete;
    if (!m_inReply) {
        ReadUnsolicited();
        return false;
    }
    if (!LookAtReply())
        return false;
    EndReply();
    return true;
}

bool TCommThread::LookAtReply()
{
    RxLease lease(m_modem);
    std::string& buffer = lease.Buffer();
    if (lease.Trimmed()) {
        m_reader.Resync(buffer);
        m_reply.damaged = true;
    }
    m_reader.SetUcs2Bodies(m_modem.CharsetUcs2);
    if (!ReadReply(m_reader, buffer, m_reply, [this](const ModemLine& line) { HandleUnsolicited(line); }))
        return false;
    m_state = kReplyHandled;
    m_replyDone = true;
    return true;
}

void TCommThread::EndReply()
{
    if (!m_inReply)
        return;
    m_inReply = false;
    Reply reply = std::move(m_reply);
    m_reply = Reply{};
    if (!m_replyDone) {
        reply.end = m_state == kAwaitingReply ? End::Timeout : End::Incomplete;
        RxLease lease(m_modem);
        m_reader.DropPartial(lease.Buffer());
    }
    m_reader.Expect({});

    if (reply.end == End::Timeout)
        Guarded([this] { Techno(kLineTimeout, kRed); });
    else if (reply.end == End::Incomplete)
        Guarded([this] { Techno(kLineIncomplete, kRed); });
    // The first whole reply after a silence: the modem is back, and may have
    // restarted. Its port is opened afresh and it is set up again before
    // anything else goes.
    else if (m_modem.LinkLost)
        Guarded([this] { RestoreLink(); });

    if (const ReplyRow* row = RowFor(ReplyRows(), reply))
        Guarded([&] { (this->*row->handle)(reply); });
    // Whatever happened in its handler, a send is told its outcome once.
    const bool sendOver =
        reply.cmd == Cmd::SendText || (reply.cmd == Cmd::SendCommand && reply.end != End::Prompt);
    // A long text's parts but the last leave it under way.
    if (m_send && sendOver && m_long != LongSend::Parts)
        Guarded([&] { FinishSend(reply.cmd == Cmd::SendText && reply.end == End::Ok); });

    // A long text's switch to PDU mode with no clear answer: its one-SMS form
    // goes, after a switch back in case the modem took it.
    if (reply.cmd == Cmd::TextMode && m_long == LongSend::Switching) {
        m_long = LongSend::Skipping;
        m_longPduOn = true;
    }

    if (reply.end == End::Timeout) {
        Guarded([this] {
            m_modem.LinkLost = true;
            m_host.SetLinkText(std::string(kLinkDown));
            m_host.ShowLinkLost();
            ReopenVanishedPort();
        });
    }
}

std::span<const TCommThread::ReplyRow> TCommThread::ReplyRows()
{
    // The first row that names the command (or any) and how its reply ended
    // (or any) handles it.
    static constexpr ReplyRow rows[] = {
        {Cmd::LinkTest, End::Ok, &TCommThread::OnLinkTest},
        {Cmd::Signal, End::Ok, &TCommThread::OnSignalLevel},
        {Cmd::Memory, End::Ok, &TCommThread::OnMemoryCount},
        {Cmd::List, End::Ok, &TCommThread::OnMessageList},
        {Cmd::List, End::Error, &TCommThread::OnListRefused},
        {Cmd::List, End::Any, &TCommThread::OnListLost},
        {Cmd::Read, End::Ok, &TCommThread::OnReadSms},
        {Cmd::Read, End::Error, &TCommThread::OnReadEmpty},
        {Cmd::Read, End::Any, &TCommThread::OnReadLost},
        {Cmd::Delete, End::Ok, &TCommThread::OnDeleted},
        {Cmd::Delete, End::Any, &TCommThread::OnDeleteRefused},
        {Cmd::TextMode, End::Ok, &TCommThread::OnTextMode},
        {Cmd::TextMode, End::Error, &TCommThread::OnTextModeRefused},
        {Cmd::HeaderFields, End::Ok, &TCommThread::OnHeaderFields},
        {Cmd::HeaderFields, End::Error, &TCommThread::OnHeaderFields},
        {Cmd::Charset, End::Ok, &TCommThread::OnCharset},
        {Cmd::TextParams, End::Ok, &TCommThread::OnTextParams},
        {Cmd::IndicationsTest, End::Ok, &TCommThread::OnIndicationsOffered},
        {Cmd::IndicationsTest, End::Error, &TCommThread::OnIndicationsOffered},
        {Cmd::Indications, End::Ok, &TCommThread::OnIndicationsOn},
        {Cmd::Indications, End::Error, &TCommThread::OnIndicationsRefused},
        {Cmd::SendCommand, End::Prompt, &TCommThread::OnPrompt},
        {Cmd::SendCommand, End::Any, &TCommThread::OnSendFailed},
        {Cmd::SendText, End::Ok, &TCommThread::OnSmsSent},
        {Cmd::SendText, End::Any, &TCommThread::OnSendFailed},
        {Cmd::ListCalls, End::Ok, &TCommThread::OnCallList},
        {Cmd::ListCalls, End::Any, &TCommThread::OnCallListEnded},
        {Cmd::Dial, End::Ok, &TCommThread::OnDialling},
        {Cmd::Dial, End::Busy, &TCommThread::OnDialBusy},
        {Cmd::Dial, End::NoCarrier, &TCommThread::OnDialNoCarrier},
        {Cmd::Dial, End::Any, &TCommThread::OnDialFailed},
        {Cmd::Answer, End::NoCarrier, &TCommThread::OnAnswerNoCarrier},
        {Cmd::Ussd, End::Ok, &TCommThread::OnUssdAccepted},
        {Cmd::Ussd, End::Error, &TCommThread::OnUssdRefused},
        {Cmd::Any, End::Error, &TCommThread::OnError},
        {Cmd::Any, End::Any, &TCommThread::OnNothing},
    };
    return rows;
}

std::span<const TCommThread::UnsolicitedRow> TCommThread::UnsolicitedRows()
{
    // A code ending in ':' matches the start of a line, any other the whole
    // line. Codes not listed (network registration, time, signal reports) are
    // read and left.
    static constexpr UnsolicitedRow rows[] = {
        {"RING", &TCommThread::OnRing},
        {"+CRING:", &TCommThread::OnRing},
        {"+CMTI:", &TCommThread::OnNewMessage},
        {"+CMT:", &TCommThread::OnDeliveredMessage},
        {"+CUSD:", &TCommThread::OnUssdAnswer},
        {"+CME ERROR:", &TCommThread::OnAsyncError},
        {"+CMS ERROR:", &TCommThread::OnAsyncError},
        {"BUSY", &TCommThread::OnBusy},
        {"NO CARRIER", &TCommThread::OnNoCarrier},
        {"NO ANSWER", &TCommThread::OnCallUnanswered},
        {"NO DIALTONE", &TCommThread::OnCallUnanswered},
        // Power-on marks; "SMS Ready" and "Call Ready" are left alone, as some
        // modems repeat them while running.
        {"RDY", &TCommThread::OnModemRestarted},
        {"^SYSSTART", &TCommThread::OnModemRestarted},
    };
    return rows;
}

void TCommThread::ReadUnsolicited()
{
    m_modem.TakeDataReceived();
    RxLease lease(m_modem);
    std::string& buffer = lease.Buffer();
    if (buffer.empty())
        return;
    if (lease.Trimmed())
        m_reader.Resync(buffer);
    m_reader.SetUcs2Bodies(m_modem.CharsetUcs2);
    for (const ModemLine& line : m_reader.Take(buffer))
        HandleUnsolicited(line);
}

void TCommThread::HandleUnsolicited(const ModemLine& line)
{
    if (const UnsolicitedRow* row = RowFor(UnsolicitedRows(), line))
        Guarded([&] { (this->*row->handle)(line); });
}

void TCommThread::Techno(std::string_view text, Rgb colour) { m_host.WriteTechno(std::string(text), colour); }

void TCommThread::Event(std::string_view status, std::string_view tel, std::string_view event)
{
    m_host.WriteEvent(std::string(status), std::string(tel), std::string(event));
}

bool TCommThread::Queue(std::string_view line) { return EnqueueCommand(m_modem, std::string(line)); }

bool TCommThread::QueueOnce(std::string_view line) { return !m_modem.HasPending(line) && Queue(line); }

// ---------------------------------------------------------------- replies

void TCommThread::OnError(const Reply&) { Techno(kLineAtError, kRed); }

void TCommThread::OnLinkTest(const Reply&)
{
    m_host.SetLinkText(std::string(kLinkUp));
    Techno("GSM-модем на связи."_cp, kGreen);
    Event(kStatusOnline, kModemTel, "Соединение с GSM-модулем установлено"_cp);
}

void TCommThread::OnSignalLevel(const Reply& reply)
{
    Techno(reply.raw, kNavy);
    const std::optional<double> level = SignalLevelOf(reply);
    if (level)
        m_host.ShowSignalLevel(*level);
    else
        Techno("Ошибка при определении уровня сигнала"_cp, kRed);
}

void TCommThread::OnMemoryCount(const Reply& reply)
{
    Techno(reply.raw, kGreen);
    const ModemLine* line = LineStarting(reply.lines, "+CPMS:");
    const std::optional<MemoryState> state = line ? ParseMemoryState(line->text) : std::nullopt;
    // A count that is not a number fails the pass; the next memory poll tries again.
    if (!state)
        throw EConvertError("memory reply without a count");
    m_inbox.OnMemory(*state);
}

void TCommThread::OnMessageList(const Reply& reply) { m_inbox.OnList(reply.lines, reply.damaged); }

void TCommThread::OnListRefused(const Reply& reply) { m_inbox.OnListRefused(reply.command); }

void TCommThread::OnListLost(const Reply&) { m_inbox.OnListLost(); }

void TCommThread::OnReadSms(const Reply& reply) { m_inbox.OnRead(reply.command, reply.lines, reply.damaged); }

void TCommThread::OnReadEmpty(const Reply& reply) { m_inbox.OnReadEmpty(reply.command); }

void TCommThread::OnReadLost(const Reply& reply) { m_inbox.OnReadLost(reply.command); }

void TCommThread::OnDeleted(const Reply& reply) { m_inbox.OnDeleted(reply.command); }

void TCommThread::OnDeleteRefused(const Reply& reply)
{
    m_inbox.OnDeleteRefused(reply.command, reply.end == End::Error);
}

void TCommThread::OnTextMode(const Reply& reply)
{
    if (reply.command == kCmdPduMode && m_long == LongSend::Switching) {
        m_long = LongSend::Parts;
        m_longPduOn = true;
        m_inbox.OnPduModeOn();
        return;
    }
    if (reply.command == kCmdTextMode && std::exchange(m_longSwitchBack, false)) {
        m_inbox.OnTextModeAgain();
        return;
    }
    if (reply.command == kCmdPduMode) {
        m_inbox.OnPduModeOn();
        return;
    }
    // The switch back after a read says nothing new.
    if (m_inbox.TakeSwitchBack())
        return;
    // The set-up's first answer: the link is there without a manual check.
    m_host.SetLinkText(std::string(kLinkUp));
    Techno("Включен текстовый режим"_cp, kGreen);
}

void TCommThread::OnTextModeRefused(const Reply& reply)
{
    if (reply.command == kCmdPduMode && m_long == LongSend::Switching)
        m_long = LongSend::Skipping;
    if (reply.command == kCmdTextMode)
        m_longSwitchBack = false;
    if (reply.command == kCmdPduMode)
        m_inbox.OnPduModeRefused();
    else
        OnError(reply);
}

void TCommThread::OnHeaderFields(const Reply& reply) { m_inbox.OnHeaderFields(reply.end == End::Ok); }

void TCommThread::OnCharset(const Reply& reply)
{
    if (reply.command.find("\"UCS2\"") != std::string::npos)
        m_modem.CharsetUcs2 = true;
    // Also after the switch to the plain set of a device command.
    Techno("Выбрана кодировка UNICODE"_cp, kGreen);
}

void TCommThread::OnTextParams(const Reply&) { Techno("Выполнена настройка текстового режима"_cp, kGreen); }

void TCommThread::OnIndicationsOffered(const Reply& reply)
{
    // "+CNMI: (0-3),(0,1),(0,2,3),(0,2),(1)": mode, mt, bm, ds, bfr. Wanted: mode
    // 2 (or 1) and mt 1, store and indicate; nothing else.
    std::vector<std::vector<int>> offered;
    if (const ModemLine* line = LineStarting(reply.lines, "+CNMI:"))
        for (const AtField& field : SplitAtFields(AtArguments(line->text)))
            offered.push_back(AtRangeValues(field.text));
    auto offers = [&](std::size_t group, int value) {
        return group < offered.size() && std::find(offered[group].begin(), offered[group].end(), value)
                                             != offered[group].end();
    };
    std::vector<std::string> settings;
    if (offered.empty()) {
        // No test form: the setting most modems take, then the plainer one.
        settings = {"AT+CNMI=2,1,0,0,0\r", "AT+CNMI=1,1,0,0,0\r"};
    } else if (offers(1, 1)) {
        std::string rest;
        for (std::size_t group = 2; group < offered.size(); ++group) {
            const int value = offers(group, 0) || offered[group].empty() ? 0 : offered[group].front();
            rest += "," + std::to_string(value);
        }
        for (const int mode : {2, 1})
            if (offers(0, mode))
                settings.push_back("AT+CNMI=" + std::to_string(mode) + ",1" + rest + "\r");
    }
    if (settings.empty()) {
        Techno(kLineIndicationsOff, kRed);
        return;
    }
    m_indicationsFallback = settings.size() > 1 ? settings[1] : std::string();
    Queue(settings.front());
}

void TCommThread::OnIndicationsOn(const Reply&)
{
    m_indicationsFallback.clear();
    Techno(kLineIndicationsOn, kGreen);
    // What was stored before (the station was off, the modem restarted) is read now.
    QueueOnce(kCmdMemoryPoll);
}

void TCommThread::OnIndicationsRefused(const Reply&)
{
    if (!m_indicationsFallback.empty()) {
        Queue(std::exchange(m_indicationsFallback, std::string()));
        return;
    }
    Techno(kLineIndicationsOff, kRed);
    QueueOnce(kCmdMemoryPoll);
}

void TCommThread::OnPrompt(const Reply&)
{
    const std::optional<std::string> next = m_modem.PeekCommand();
    if (next && EndsWithCtrlZ(*next)) {
        m_promptGiven = true;
        return;
    }
    // No text to give: the prompt is left with ESC, or the modem would take the
    // next command for the message.
    try {
        m_port.WriteText(std::string(1, kEsc));
    } catch (...) {
    }
    FinishSend(false);
}

void TCommThread::OnSmsSent(const Reply&)
{
    if (m_long == LongSend::Parts) {
        // The next part follows; the message is sent with its last.
        if (m_send && ++m_partsSent < m_send->parts)
            return;
        m_long = LongSend::Skipping;
        m_longOver = true;
    }
    const std::string note = m_send ? LongNote(*m_send) : std::string();
    Techno(std::string(kSmsSent) + note, kGreen);
    // A device command's row names the device and the command (FinishSend).
    if (!m_send || !m_send->deviceCommand)
        Event(kSmsSent, kModemTel, std::string(kSmsSent) + note);
    FinishSend(true);
}

std::string TCommThread::LongNote(const TModem::SmsSend& send) const
{
    if (send.parts <= 1)
        return {};
    if (m_partsSent == send.parts)
        return std::string(" (в "_cp) + std::to_string(send.parts) + std::string(" частях)"_cp);
    return std::string(" (сокращено)"_cp);
}

void TCommThread::OnSendFailed(const Reply& reply)
{
    // One part refused: the message fails whole, its other parts and its
    // one-SMS form are not sent.
    if (m_long == LongSend::Parts) {
        m_long = LongSend::Skipping;
        m_longOver = true;
    }
    if (reply.end == End::Error)
        Techno(kLineAtError, kRed);
    // The text of a send that got no prompt is not written: the modem would
    // take it for a command.
    if (reply.cmd == Cmd::SendCommand) {
        if (const std::optional<std::string> next = m_modem.PeekCommand(); next && EndsWithCtrlZ(*next))
            m_modem.TakeCommand();
    }
    FinishSend(false);
}

void TCommThread::FinishSend(bool sent)
{
    m_modem.SmsSending = false;
    if (!m_send) {
        // A send line queued on its own: the card is the only one that does so.
        if (sent)
            m_host.SetStatusEdit({}, std::string(kSmsSent));
        m_host.SetCommandButtonsEnabled(true);
        return;
    }
    TModem::SmsSend send = std::move(*m_send);
    m_send.reset();
    if (send.outcome)
        send.outcome(sent);
    // Only a device command speaks to the card: an escalation's outcome would
    // overwrite the status of the operator's own command and free its buttons.
    if (!send.deviceCommand)
        return;
    const std::string& name = send.commandName.empty() ? send.text : send.commandName;
    std::string event(sent ? "Команда отправлена"_cp : "Команда не отправлена"_cp);
    if (!name.empty())
        event += ": " + name;
    if (sent)
        event += LongNote(send);
    Event(sent ? kSmsSent : kStatusSmsFailed, send.number, event);
    m_host.SetStatusEdit(send.number, std::string(sent ? kSmsSent : kStatusSmsFailed));
    m_host.SetCommandButtonsEnabled(true);
}

void TCommThread::OnCallList(const Reply& reply)
{
    m_callsListed = false;
    // +CLCC: <id>,<dir>,<stat>,<mode>,<mpty>[,<number>,<type>[,<alpha>]]; dir 1: a call to the station.
    for (const ModemLine& line : reply.lines) {
        if (!line.text.starts_with("+CLCC:"))
            continue;
        const std::vector<AtField> fields = SplitAtFields(AtArguments(line.text));
        if (AtFieldInt(fields, 1) != 1)
            continue;
        const std::string field = AtFieldText(fields, 5);
        RaiseCallAlarm(DecodeNumberField(field, AtFieldInt(fields, 6)).value_or(field));
        return;
    }
    // No call to the station: the caller hung up before the list was asked for.
}

void TCommThread::OnCallListEnded(const Reply&) { m_callsListed = false; }

void TCommThread::RaiseCallAlarm(const std::string& number)
{
    Techno(Str("\"ТРЕВОГА\" - входящий вызов с телефона: "_cp) + number, kBlue);
    Report call;
    call.source = Report::Source::Call;
    call.tel = number;
    call.shortName = ShortNameOf(m_host, number);
    call.guard = kGuardAlarm;
    call.status = std::string(kStatusAlarm);
    call.event = std::string(kCallAlarm);
    m_host.HandOver(call, {});
    // Answer and hang up: the station never speaks, the call only raises the
    // alarm. The hang-up is timed, so reports waiting are read meanwhile.
    m_answering = true;
    Queue(kCmdAnswer);
    Techno(kLineAnswer, kBlue);
    m_hangUpAt = m_clock.ReadTimeStamp();
}

void TCommThread::OnDialling(const Reply&)
{
    // The call is set up or under way; the device ends it (BUSY), or the station
    // does after a while.
    m_deviceCallSince = m_clock.ReadTimeStamp();
}

void TCommThread::OnDialBusy(const Reply&) { OnBusy(ModemLine{}); }

void TCommThread::OnDialNoCarrier(const Reply&) { OnNoCarrier(ModemLine{}); }

void TCommThread::OnDialFailed(const Reply& reply)
{
    if (reply.end == End::Error)
        Techno(kLineAtError, kRed);
    EndDeviceCall();
    m_host.SetCommandButtonsEnabled(true);
}

void TCommThread::OnAnswerNoCarrier(const Reply&) { OnNoCarrier(ModemLine{}); }

void TCommThread::EndDeviceCall()
{
    m_deviceCall = false;
    m_deviceCallSince.reset();
}

void TCommThread::OnUssdAccepted(const Reply& reply)
{
    // Some modems give the answer before the OK.
    for (const ModemLine& line : reply.lines)
        if (line.text.starts_with("+CUSD:"))
            OnUssdAnswer(line);
}

void TCommThread::OnUssdRefused(const Reply& reply) { RefuseBalance(reply.command, reply.finalText); }

void TCommThread::RefuseBalance(const std::string& request, const std::string& errorLine)
{
    // Some modems refuse the request code as UCS2 hex and take the plain one.
    if (const std::optional<std::string> plain = PlainUssdRequest(request)) {
        if (Queue(*plain))
            return;
    }
    const std::string text = UssdRefusedByModem(errorLine);
    Techno(text, kBlue);
    BalanceAnswered(text);
}

void TCommThread::BalanceAnswered(const std::string& text)
{
    m_host.AddBalanceLine(text);
    Event("Баланс"_cp, kModemTel, text);
    m_modem.UssdPending = false;
    m_ussdRequest.clear();
}

// ---------------------------------------------------------------- unsolicited codes

void TCommThread::OnRing(const ModemLine&)
{
    // One list per call: the modem repeats RING until the call is answered.
    if (m_answering || m_callsListed)
        return;
    m_callsListed = Queue(kCmdListCalls);
}

void TCommThread::OnNewMessage(const ModemLine& line) { m_inbox.OnIndication(line); }

void TCommThread::OnDeliveredMessage(const ModemLine& line) { m_inbox.OnDelivered(line); }

void TCommThread::OnUssdAnswer(const ModemLine& line)
{
    const UssdAnswer answer = ParseUssdAnswer(line.text);
    if (answer.kind == UssdAnswer::Kind::None)
        return; // "+CUSD: 2" alone: the answer may still follow
    Techno(line.raw, kBlue);
    BalanceAnswered(answer.text);
}

void TCommThread::OnAsyncError(const ModemLine& line)
{
    // The network's refusal of a balance request can come after its OK.
    if (m_modem.UssdPending && !m_ussdRequest.empty())
        RefuseBalance(m_ussdRequest, line.text);
}

void TCommThread::OnBusy(const ModemLine&)
{
    EndDeviceCall();
    Queue(kCmdHangUp);
    m_host.SetCommandButtonsEnabled(true);
}

void TCommThread::OnNoCarrier(const ModemLine&)
{
    Techno(kLineCallEnded, kBlue);
    Event(kStatusAlarm, kModemTel, kLineCallEnded);
    if (m_deviceCall) {
        EndDeviceCall();
        m_host.SetCommandButtonsEnabled(true);
    }
}

void TCommThread::OnCallUnanswered(const ModemLine&)
{
    if (!m_deviceCall)
        return;
    EndDeviceCall();
    m_host.SetCommandButtonsEnabled(true);
}

void TCommThread::OnModemRestarted(const ModemLine&) { RestoreSetup(); }

// ---------------------------------------------------------------- link

void TCommThread::RestoreLink()
{
    // A modem that comes back has often restarted, in PDU mode: its text mode
    // is set again before any message is read, or the read would take the PDU
    // for a damaged message, and delete it.
    try {
        m_port.Close();
        m_clock.SleepMs(1000);
        m_port.Open();
    } catch (...) {
        Techno("Ком-порт \"обзвона\" не доступен"_cp, kRed);
    }
    // The modem may have been power-cycled: set it up again, and read nothing
    // before it is back in UCS2.
    m_modem.CharsetUcs2 = false;
    for (const std::string_view line : kModem1Setup)
        Queue(line);
    m_inbox.ModemSetUpAgain(true);
    m_modem.LinkLost = false;
    m_host.SetLinkText(std::string(kLinkUp));
    Event(kStatusOnline, kModemTel, events::kLinkRestored);
    m_host.LinkRestored();
}

void TCommThread::RestoreSetup()
{
    // A modem that says it has started again has lost its text mode, its
    // character set and its indications.
    m_modem.CharsetUcs2 = false;
    if (m_modem.HasPending(kCmdIndicationsTest))
        return;
    for (const std::string_view line : kModem1Setup)
        Queue(line);
    m_inbox.ModemSetUpAgain(false);
}

void TCommThread::ReopenVanishedPort()
{
    // A port whose device went away (unplugged, powered off), or that the link
    // restore could not open again, hears nothing: the memory reply that
    // restores the link would never come. It is opened afresh at each time-out
    // until the device is back.
    if (m_port.Connected() && !m_port.DeviceLost())
        return;
    try {
        m_port.Close();
        m_port.Open();
    } catch (...) {
    }
}

} // namespace kv
