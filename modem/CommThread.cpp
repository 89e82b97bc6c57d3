#include "modem/CommThread.h"

#include "codec/Classify.h"
#include "codec/Number.h"
#include "codec/Ucs2.h"
#include "data/Text.h"
#include "modem/Commands.h"
#include "modem/SmsReader.h"

namespace kv {

using namespace kv::literals;

namespace {

constexpr std::string_view kModemTel = "GSM-модем №1"_cp;
constexpr std::string_view kLineTimeout = "Ошибка обмена по таймауту..."_cp;
constexpr std::string_view kLineIncomplete = "Принят не полный пакет..."_cp;
constexpr std::string_view kLinePassFailed = "Ошибка E001 - обработка данных модема..."_cp;
constexpr std::string_view kLineReadPostponed = "Чтение SMS отложено: модем не в кодировке UNICODE"_cp;
constexpr std::string_view kStatusAlarm = "Тревога"_cp;
constexpr std::string_view kStatusOnline = "На связи"_cp;
constexpr std::string_view kSmsSent = "Сообщение отправлено"_cp;
constexpr std::string_view kCallAlarm = "\"ТРЕВОГА\" - входящий вызов с телефона"_cp;

bool Contains(std::string_view buffer, std::string_view what) { return buffer.find(what) != std::string_view::npos; }

// Removes the first occurrence of `what`; the row has already seen it is there.
void RemoveFirst(std::string& buffer, std::string_view what)
{
    const std::size_t at = buffer.find(what);
    if (at != std::string::npos)
        buffer.erase(at, what.size());
}

bool IsSendLine(std::string_view line)
{
    return line.starts_with("AT+CMGS=") || (!line.empty() && line.back() == kCtrlZ);
}

} // namespace

TCommThread::TCommThread(TModem& modem, ISerialIo& port, IModemHost& host, IClock& clock, TileSaveFn saveTiles)
    : m_modem(modem), m_port(port), m_host(host), m_clock(clock), m_saveTiles(std::move(saveTiles))
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

void TCommThread::Pass()
{
    try {
        PassBody();
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
    m_clock.SleepMs(kPassSleepMs);
    CheckUssdGiveUp();
    Poll();
    if (!m_modem.QueueEmpty())
        Exchange();
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
    case TileSaveResult::Saved: break;
    case TileSaveResult::CannotCreate: m_saveEnabled = false; break;
    case TileSaveResult::WriteFailed: m_host.ShowWarning(Str("Не удалось сохранить состояния объектов "_cp)); break;
    }
}

void TCommThread::Exchange()
{
    m_state = kAwaitingReply;
    const std::optional<std::string> line = m_modem.TakeCommand();
    if (!line)
        return;
    if (line->starts_with("AT+CSCS=")) {
        // Unknown until the modem confirms it.
        m_modem.CharsetUcs2 = false;
    } else if (line->starts_with("AT+CMGR=") && !m_modem.CharsetUcs2) {
        // Not sent: the message stays in the SIM and a later memory poll reads
        // it once the modem is back in UCS2.
        Techno(kLineReadPostponed, kRed);
        return;
    }
    // Cleared before the write, so that a modem quick enough to answer while the
    // write is still returning counts as having answered.
    m_modem.ClearDataReceived();
    try {
        m_port.WriteText(*line);
    } catch (...) {
        // A port that cannot write gets no answer: the wait ends as a time-out.
    }
    const std::uint64_t start = m_clock.ReadTimeStamp();
    bool look = true;
    while (m_clock.ElapsedMs(start) < kExchangeWaitMs) {
        if (m_modem.TakeDataReceived()) {
            m_state = kReplyIncomplete;
            look = true;
        }
        // An unchanged buffer that no row acted on would give the same result again.
        if (look) {
            bool acted = false;
            if (Dispatch(acted))
                break;
            look = acted;
        }
        // A stop (the station closing) does not sit out the wait: with a silent
        // modem the close would hang for ten seconds and end in a link-lost alarm.
        // What arrived so far has been dispatched; the rest of the reply no longer
        // matters, and the missing answer says nothing about the modem.
        if (!m_modem.Running) {
            m_modem.ClearRx();
            return;
        }
        WaitForModemBytes(m_modem, m_clock, kLookIntervalMs);
    }

    if (m_state == kAwaitingReply) {
        Techno(kLineTimeout, kRed);
        // A send that got no answer is over: without this the polls, and with
        // them the SMS reading, would stay off until the next send.
        if (IsSendLine(*line))
            EndSend(false);
        m_modem.LinkLost = true;
        m_host.ShowLinkLost();
        ReopenVanishedPort();
    } else if (m_state == kReplyIncomplete) {
        Techno(kLineIncomplete, kRed);
        if (IsSendLine(*line) && m_modem.SmsSending) {
            EndSend(false);
            m_host.SetCommandButtonsEnabled(true);
        }
    }
    m_clock.SleepMs(kAfterExchangeMs);
    m_modem.ClearRx();
}

bool TCommThread::DispatchReceived(int maxLooks)
{
    if (m_modem.TakeDataReceived())
        m_state = kReplyIncomplete;
    for (int i = 0; i < maxLooks; ++i) {
        bool acted = false;
        if (Dispatch(acted))
            return true;
        if (!acted)
            break;
    }
    return false;
}

std::span<const TCommThread::ReplyRow> TCommThread::ReplyRows()
{
    // Checked on every look, in this order, each on the buffer as the rows
    // before it left it.
    static const ReplyRow rows[] = {
        {"prompt", [](std::string_view b) { return Contains(b, ">"); }, &TCommThread::OnPrompt},
        {"error", [](std::string_view b) { return Contains(b, "ERROR"); }, &TCommThread::OnError},
        {"ring", [](std::string_view b) { return Contains(b, "\r\nRING\r\n"); }, &TCommThread::OnRing},
        {"busy", [](std::string_view b) { return Contains(b, "\r\nBUSY\r\n"); }, &TCommThread::OnBusy},
        {"no carrier", [](std::string_view b) { return Contains(b, "\r\nNO CARRIER\r\n"); }, &TCommThread::OnNoCarrier},
    };
    return rows;
}

std::span<const TCommThread::ReplyRow> TCommThread::FinalReplyRows()
{
    // Only once the final "OK\r\n" is in. Most replies are known by the modem's
    // echo of the command in front of them (echo is switched on at start-up).
    static const ReplyRow rows[] = {
        {"call over", [](std::string_view b) { return Contains(b, "AT+CLCC\r\r\nOK"); }, &TCommThread::OnCallOver},
        {"hang-up", [](std::string_view b) { return Contains(b, "ATH"); }, &TCommThread::OnHangUp},
        {"incoming call", [](std::string_view b) { return Contains(b, "AT+CLCC\r\r\n+CLCC:"); },
         &TCommThread::OnIncomingCall},
        {"link test", [](std::string_view b) { return Contains(b, "AT\r\r\nOK\r\n"); }, &TCommThread::OnLinkTest},
        {"signal level",
         [](std::string_view b) {
             const std::size_t echo = b.find("AT+CSQ");
             const std::size_t ok = b.find("OK");
             return echo != std::string_view::npos && ok != std::string_view::npos && ok > echo;
         },
         &TCommThread::OnSignalLevel},
        {"balance", [](std::string_view b) { return Contains(b, "+CUSD: 0, \"") && Contains(b, "\", 72"); },
         &TCommThread::OnBalance},
        {"read sms", [](std::string_view b) { return Contains(b, "AT+CMGR="); }, &TCommThread::OnReadSms},
        {"deleted", [](std::string_view b) { return Contains(b, "AT+CMGD"); }, &TCommThread::OnDeleted},
        {"text mode", [](std::string_view b) { return Contains(b, "AT+CMGF"); }, &TCommThread::OnTextMode},
        {"charset", [](std::string_view b) { return Contains(b, "AT+CSCS"); }, &TCommThread::OnCharset},
        {"text params", [](std::string_view b) { return Contains(b, "AT+CSMP"); }, &TCommThread::OnTextParams},
        {"sms sent", [](std::string_view b) { return Contains(b, "+CMGS"); }, &TCommThread::OnSmsSent},
        {"memory count", [](std::string_view b) { return Contains(b, "+CPMS"); }, &TCommThread::OnMemoryCount},
    };
    return rows;
}

bool TCommThread::Dispatch(bool& acted)
{
    RxLease lease(m_modem);
    std::string& buffer = lease.Buffer();
    m_endWait = false;
    acted = false;
    for (const ReplyRow& row : ReplyRows()) {
        if (!row.matches(buffer))
            continue;
        acted = true;
        (this->*row.handle)(buffer);
        if (m_endWait)
            return true;
    }
    // Without the final result the command is still running: rows 2 to 5 may have
    // acted, but the wait goes on.
    if (!Contains(buffer, "OK\r\n"))
        return false;
    for (const ReplyRow& row : FinalReplyRows()) {
        if (!row.matches(buffer))
            continue;
        acted = true;
        (this->*row.handle)(buffer);
    }
    return m_state == kReplyHandled;
}

void TCommThread::Techno(std::string_view text, Rgb colour) { m_host.WriteTechno(std::string(text), colour); }

void TCommThread::Event(std::string_view status, std::string_view tel, std::string_view event)
{
    m_host.WriteEvent(std::string(status), std::string(tel), std::string(event));
}

void TCommThread::Queue(std::string_view line) { EnqueueCommand(m_modem, std::string(line)); }

void TCommThread::OnPrompt(std::string& buffer)
{
    m_state = kReplyHandled;
    buffer.clear();
    m_endWait = true; // the SMS text is queued a second after its command
}

void TCommThread::OnError(std::string& buffer)
{
    m_state = kReplyHandled;
    buffer.clear();
    Techno("Ошибка AT - команды"_cp, kRed);
    if (m_modem.SmsSending) {
        // The send is abandoned; the card may have left the plain character set on.
        EndSend(false);
        m_clock.SleepMs(1000);
        Queue(kCmdTextMode);
        Queue(kCmdCharsetUcs2);
        Queue(kCmdTextParams);
        m_host.SetCommandButtonsEnabled(true);
    }
}

void TCommThread::OnRing(std::string& buffer)
{
    m_state = kReplyHandled;
    RemoveFirst(buffer, "\r\nRING\r\n");
    Queue(kCmdListCalls);
}

void TCommThread::OnBusy(std::string& buffer)
{
    m_state = kReplyHandled;
    RemoveFirst(buffer, "\r\nBUSY\r\n");
    Queue(kCmdHangUp);
    m_host.SetCommandButtonsEnabled(true);
}

void TCommThread::OnNoCarrier(std::string& buffer)
{
    m_state = kReplyHandled;
    RemoveFirst(buffer, "\r\nNO CARRIER\r\n");
    Techno("Отбой вызова!"_cp, kBlue);
    Event(kStatusAlarm, kModemTel, "Отбой вызова!"_cp);
}

void TCommThread::OnCallOver(std::string& buffer)
{
    buffer.clear();
    m_state = kReplyHandled;
}

void TCommThread::OnHangUp(std::string& buffer)
{
    buffer.clear();
    m_state = kReplyHandled;
}

void TCommThread::OnIncomingCall(std::string& buffer)
{
    buffer.erase(0, buffer.find("+CLCC:") + 1);
    // The caller's number stands quoted, as the modem gives it (not hex).
    const std::size_t quote = buffer.find(",\"");
    const std::string number = quote == std::string::npos ? std::string() : buffer.substr(quote + 2, 12);
    Techno(Str("\"ТРЕВОГА\" - входящий вызов с телефона: "_cp) + number, kBlue);
    Event(kStatusAlarm, number, kCallAlarm);
    m_host.SetGuardState(m_host.FindShortNameByNumber(number, std::string()), kGuardAlarm);
    buffer.clear();
    m_state = kReplyHandled;
    // Answer and hang up: the station never speaks, the call only raises the alarm.
    Queue(kCmdAnswer);
    Techno("Выдана команда на подъем трубки."_cp, kBlue);
    m_clock.SleepMs(2000);
    Queue(kCmdHangUp);
    Techno("Выдана команда на отбой."_cp, kBlue);
}

void TCommThread::OnLinkTest(std::string& buffer)
{
    m_host.SetLinkText(Str("на связи"_cp));
    Techno("GSM-модем на связи."_cp, kGreen);
    Event(kStatusOnline, kModemTel, "Соединение с GSM-модулем установлено"_cp);
    buffer.clear();
    m_state = kReplyHandled;
}

void TCommThread::OnSignalLevel(std::string& buffer)
{
    Techno(buffer, kNavy);
    std::optional<double> level;
    const std::size_t at = buffer.find("+CSQ:");
    if (at != std::string::npos) {
        buffer.erase(0, std::min(buffer.size(), at + 6)); // "+CSQ:" and the blank after it
        const std::size_t comma = buffer.find(',');
        if (comma != std::string::npos)
            level = TextToFloat(std::string_view(buffer).substr(0, comma));
    }
    if (level)
        m_host.ShowSignalLevel(*level);
    else
        Techno("Ошибка при определении уровня сигнала"_cp, kRed);
    buffer.clear();
    m_state = kReplyHandled;
}

void TCommThread::OnBalance(std::string& buffer)
{
    Techno(buffer, kBlue);
    const std::size_t colon = buffer.find(':'); // the row saw "+CUSD: ", so there is one
    buffer.erase(0, std::min(buffer.size(), colon + 2));
    const std::size_t start = buffer.find(", \"");
    const std::size_t end = buffer.find("\",");
    std::string hex;
    if (start != std::string::npos && end != std::string::npos && end > start + 3)
        hex = buffer.substr(start + 3, end - start - 3);
    // Not hex: the pass fails, UssdPending stays set until the give-up time.
    const std::string text = Ucs2HexToText(hex);
    m_host.AddBalanceLine(text);
    Event("Баланс"_cp, kModemTel, text);
    buffer.clear();
    m_state = kReplyHandled;
    m_modem.UssdPending = false;
}

void TCommThread::OnReadSms(std::string& buffer)
{
    std::uint16_t index = m_modem.SmsIndex;
    ReadReply reply;
    try {
        reply = ParseReadReply(buffer, index);
        m_modem.SmsIndex = index;
        if (reply.found) {
            Techno("Есть принятое сообщение."_cp, kGreen);
            // Queued before decoding, so a message that cannot be read is deleted too
            // instead of being read again at every poll.
            Queue(DeleteSmsCommand(index));
            const std::string text = Ucs2HexToText(reply.bodyHex);
            const std::uint8_t guard =
                ClassifyGuardMessage(text, [this](Sound sound) { m_host.PlaySound(sound); });
            const std::string number = Ucs2HexToText(reply.numberHex);
            const std::string shortName = m_host.FindShortNameByNumber(number, std::string());
            m_host.SetGuardState(shortName, guard);
            const std::uint8_t info = ClassifyInfoMessage(text);
            m_host.SetInfoState(shortName, info);
            Techno(Str("Принято новое SMS - сообщение: \rТелефон: "_cp) + number + "\r" + Str("Сообщение:"_cp) + text,
                   kGreen);
            Techno("SMlen=" + std::to_string(index), kGreen);
            Event(MessageStatus(guard, info), number, Str("Новое сообщение:"_cp) + text);
        }
    } catch (...) {
        Techno(Str("Ошибка в SMS - сообщении.\r\nТелефон: "_cp) + reply.numberHex + "\r\n" + Str("Сообщение: "_cp)
                   + reply.bodyHex,
               kRed);
        Event("Внимание"_cp, kModemTel, "Ошибка в SMS-сообщении:"_cp);
    }
    buffer.clear();
    m_state = kReplyHandled;
}

void TCommThread::OnDeleted(std::string& buffer)
{
    buffer.clear();
    m_state = kReplyHandled;
    Techno("SMS удалена из памяти SIM"_cp, kGreen);
}

void TCommThread::OnTextMode(std::string& buffer)
{
    buffer.clear();
    m_state = kReplyHandled;
    Techno("Включен текстовый режим"_cp, kGreen);
}

void TCommThread::OnCharset(std::string& buffer)
{
    if (Contains(buffer, "\"UCS2\""))
        m_modem.CharsetUcs2 = true;
    buffer.clear();
    m_state = kReplyHandled;
    Techno("Выбрана кодировка UNICODE"_cp, kGreen);
}

void TCommThread::OnTextParams(std::string& buffer)
{
    buffer.clear();
    m_state = kReplyHandled;
    Techno("Выполнена настройка текстового режима"_cp, kGreen);
}

void TCommThread::OnSmsSent(std::string& buffer)
{
    buffer.clear();
    m_state = kReplyHandled;
    Techno(kSmsSent, kGreen);
    Event(kSmsSent, kModemTel, kSmsSent);
    m_host.SetStatusEdit(std::string(kSmsSent));
    EndSend(true);
    m_host.SetCommandButtonsEnabled(true);
}

void TCommThread::EndSend(bool sent)
{
    m_modem.SmsSending = false;
    if (const TModem::SmsOutcome outcome = m_modem.TakeSmsOutcome())
        outcome(sent);
}

void TCommThread::OnMemoryCount(std::string& buffer)
{
    m_clock.SleepMs(2000);
    Techno(buffer, kGreen);
    // A count that is not a number fails the pass; the next memory poll tries again.
    const std::int64_t count = TakeMemoryCount(buffer);
    buffer.clear();
    m_state = kReplyHandled;
    // A modem that comes back has often restarted, in PDU mode: its text mode
    // is set again before the message is read, or the read would take the PDU
    // for a damaged message, and delete it.
    if (m_modem.LinkLost)
        RestoreLink();
    if (count != 0)
        Queue(ReadSmsCommand(m_modem.SmsIndex));
    else
        m_modem.SmsIndex = 1;
}

void TCommThread::RestoreLink()
{
    try {
        m_port.Close();
        m_clock.SleepMs(1000);
        m_port.Open();
    } catch (...) {
        Techno("Ком-порт \"обзвона\" не доступен"_cp, kRed);
    }
    // The modem may have been power-cycled: set the text mode again.
    Queue(kCmdTextMode);
    Queue(kCmdCharsetUcs2);
    Queue(kCmdTextParams);
    m_modem.LinkLost = false;
    Event(kStatusOnline, kModemTel, "Соединение с GSM-модулем восстановлено"_cp);
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
