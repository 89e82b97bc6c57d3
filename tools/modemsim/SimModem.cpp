#include "tools/modemsim/SimModem.h"

#include "tools/modemsim/Ucs2Hex.h"

#include <algorithm>
#include <ctime>

namespace kv::modemsim {
namespace {

constexpr char kCtrlZ = 0x1A;
constexpr char kEsc = 0x1B;
constexpr char kBackspace = 0x08;
constexpr size_t kMaxSentLines = 10000;

// Modems take commands in either case; quoted arguments keep theirs.
std::string UpperOutsideQuotes(std::string_view s)
{
    std::string out(s);
    bool quoted = false;
    for (char& c : out) {
        if (c == '"')
            quoted = !quoted;
        else if (!quoted && c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

bool ParseNumber(std::string_view s, int& value)
{
    if (s.empty() || s.size() > 6)
        return false;
    int v = 0;
    for (const char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    value = v;
    return true;
}

bool StartsWith(std::string_view s, std::string_view prefix)
{
    return s.substr(0, prefix.size()) == prefix;
}

// The quoted string at the start of `s`: its contents, and what follows the closing quote.
bool TakeQuoted(std::string_view s, std::string& contents, std::string_view& rest)
{
    if (s.empty() || s.front() != '"')
        return false;
    const size_t close = s.find('"', 1);
    if (close == std::string_view::npos)
        return false;
    contents = std::string(s.substr(1, close - 1));
    rest = s.substr(close + 1);
    return true;
}

} // namespace

SimModem::SimModem(ModemOptions options)
    : m_options(std::move(options)), m_rng(m_options.seed), m_balance("Баланс: 150.00 р.")
{
}

// ---------------------------------------------------------------- station side

void SimModem::Receive(std::string_view bytes, Millis now)
{
    m_now = now;
    if (!m_plugged)
        return;
    for (const char c : bytes) {
        RecordSent(c);
        if (m_silent)
            continue;
        if (m_prompt)
            HandlePromptByte(c);
        else
            HandleCommandByte(c);
    }
    FlushEcho();
}

void SimModem::RecordSent(char c)
{
    m_sentPartial.push_back(c);
    if (c == '\r' || c == kCtrlZ || c == kEsc || m_sentPartial.size() >= 2 * kMaxLine) {
        m_sentLines.push_back(EscapeBytes(m_sentPartial));
        m_sentPartial.clear();
        if (m_sentLines.size() > kMaxSentLines)
            m_sentLines.pop_front();
    }
}

void SimModem::HandleCommandByte(char c)
{
    if (m_echo)
        m_echoPending.push_back(c);
    switch (c) {
    case '\r': {
        const std::string line = std::move(m_line);
        const bool overflow = m_lineOverflow;
        m_line.clear();
        m_lineOverflow = false;
        if (overflow)
            Error();
        else
            ExecuteLine(line);
        return;
    }
    case kCtrlZ:
    case kEsc:
        // A text that reached us outside the prompt (the prompt was refused) ends
        // here instead of being glued in front of the next command.
        m_line.clear();
        m_lineOverflow = false;
        return;
    case kBackspace:
        if (!m_line.empty())
            m_line.pop_back();
        return;
    case '\n':
        return;
    default:
        if (m_line.size() < kMaxLine)
            m_line.push_back(c);
        else
            m_lineOverflow = true;
        return;
    }
}

void SimModem::HandlePromptByte(char c)
{
    if (c == kCtrlZ) {
        m_prompt = false;
        SubmitSms();
        return;
    }
    if (c == kEsc) {
        m_prompt = false;
        m_smsText.clear();
        Ok();
        return;
    }
    if (c == '\r') {
        // Each line of a multi-line text gets a fresh prompt.
        m_echoPending += "\r\n> ";
        c = '\n';
    } else if (m_echo) {
        m_echoPending.push_back(c);
    }
    if (m_smsText.size() < kMaxLine)
        m_smsText.push_back(c);
    else
        m_smsOverflow = true;
}

void SimModem::ExecuteLine(const std::string& line)
{
    size_t at = std::string::npos;
    for (size_t i = 0; i + 1 < line.size(); ++i) {
        if ((line[i] == 'A' || line[i] == 'a') && (line[i + 1] == 'T' || line[i + 1] == 't')) {
            at = i;
            break;
        }
    }
    // Like a real modem, a line without the AT prefix gets no answer at all.
    if (at == std::string::npos)
        return;
    std::string body = line.substr(at + 2);
    while (!body.empty() && body.back() == ' ')
        body.pop_back();
    if (m_failNext || m_failAll) {
        m_failNext = false;
        Error();
        return;
    }
    Execute(body, UpperOutsideQuotes(body));
}

void SimModem::Execute(const std::string& body, const std::string& upper)
{
    if (upper.empty()) {
        Ok();
    } else if (upper == "E0" || upper == "E") {
        m_echo = false;
        Ok();
    } else if (upper == "E1") {
        m_echo = true;
        Ok();
    } else if (upper == "+CMGF=0" || upper == "+CMGF=1") {
        m_textMode = upper.back() == '1';
        Ok();
    } else if (upper == "+CMGF?") {
        Reply(std::string("\r\n+CMGF: ") + (m_textMode ? "1" : "0") + "\r\n\r\nOK\r\n");
    } else if (StartsWith(upper, "+CSCS")) {
        CmdCharset(upper);
    } else if (StartsWith(upper, "+CSMP=")) {
        Ok();
    } else if (upper == "+CSQ") {
        Reply("\r\n+CSQ: " + std::to_string(m_signal) + ",0\r\n\r\nOK\r\n");
    } else if (upper == "+CPMS?") {
        const auto used = std::to_string(std::count_if(std::begin(m_slots), std::end(m_slots),
                                                       [](const Slot& s) { return s.used; }));
        const std::string store = "\"SM_P\"," + used + ",25";
        Reply("\r\n+CPMS: " + store + "," + store + "," + store + "\r\n\r\nOK\r\n");
    } else if (StartsWith(upper, "+CMGR=")) {
        CmdReadSms(upper);
    } else if (StartsWith(upper, "+CMGD=")) {
        CmdDeleteSms(upper);
    } else if (StartsWith(upper, "+CMGS=")) {
        CmdSendSms(body);
    } else if (StartsWith(upper, "D")) {
        CmdDial(body);
    } else if (upper == "A") {
        CmdAnswer();
    } else if (upper == "H" || upper == "H0") {
        CmdHangUp();
    } else if (upper == "+CLCC") {
        CmdListCalls();
    } else if (StartsWith(upper, "+CUSD=")) {
        CmdUssd(body);
    } else {
        Error();
    }
}

void SimModem::CmdCharset(const std::string& upper)
{
    if (upper == "+CSCS?") {
        Reply("\r\n+CSCS: \"" + m_charset + "\"\r\n\r\nOK\r\n");
        return;
    }
    for (const char* set : {"UCS2", "IRA", "GSM"}) {
        if (upper == std::string("+CSCS=\"") + set + "\"") {
            m_charset = set;
            Ok();
            return;
        }
    }
    Error();
}

void SimModem::CmdReadSms(const std::string& upper)
{
    int index = 0;
    if (!m_textMode || !ParseNumber(std::string_view(upper).substr(6), index) || index < 1 ||
        index > kSimSlots) {
        Error();
        return;
    }
    Slot& slot = m_slots[index - 1];
    if (!slot.used) {
        Ok();
        return;
    }
    StoredSms& sms = slot.sms;
    Reply("\r\n+CMGR: \"" + sms.status + "\",\"" + ModemText(sms.number) + "\",,\"" + sms.stamp + "\"\r\n" +
          ModemText(sms.text) + "\r\n\r\nOK\r\n");
    if (sms.status == "REC UNREAD")
        sms.status = "REC READ";
}

void SimModem::CmdDeleteSms(const std::string& upper)
{
    std::string_view args = std::string_view(upper).substr(6);
    int index = 0;
    int flag = 0;
    const size_t comma = args.find(',');
    if (!ParseNumber(args.substr(0, comma), index) ||
        (comma != std::string_view::npos && !ParseNumber(args.substr(comma + 1), flag)) || flag > 4 ||
        index > kSimSlots || (flag == 0 && index < 1)) {
        Error();
        return;
    }
    if (flag == 0) {
        m_slots[index - 1].used = false;
        Ok();
        return;
    }
    // Delete flags of 27.005: 1 read, 2 read and sent, 3 read, sent and unsent, 4 all.
    for (Slot& slot : m_slots) {
        if (!slot.used)
            continue;
        const std::string& st = slot.sms.status;
        const bool remove = st == "REC READ" || (flag >= 2 && st == "STO SENT") ||
                            (flag >= 3 && st == "STO UNSENT") || flag == 4;
        if (remove)
            slot.used = false;
    }
    Ok();
}

void SimModem::CmdSendSms(const std::string& body)
{
    std::string raw;
    std::string_view rest;
    if (!m_textMode || !TakeQuoted(std::string_view(body).substr(6), raw, rest) || raw.empty()) {
        Error();
        return;
    }
    const auto number = StationText(raw);
    if (!number) {
        Error();
        return;
    }
    m_prompt = true;
    m_smsNumber = *number;
    m_smsText.clear();
    m_smsOverflow = false;
    Reply("\r\n> ");
}

void SimModem::SubmitSms()
{
    const bool overflow = m_smsOverflow;
    m_smsOverflow = false;
    std::string text = std::move(m_smsText);
    m_smsText.clear();
    if (m_failNext || m_failAll || overflow) {
        m_failNext = false;
        Error();
        return;
    }
    const auto decoded = StationText(text);
    if (!decoded) {
        Error();
        return;
    }
    const int reference = m_nextReference;
    m_nextReference = (m_nextReference + 1) % 256;
    m_outbox.push_back(SentSms{reference, m_charset, m_smsNumber, *decoded});
    Reply("\r\n+CMGS: " + std::to_string(reference) + "\r\n\r\nOK\r\n");
}

void SimModem::CmdDial(const std::string& body)
{
    std::string rest = body.substr(1);
    while (!rest.empty() && rest.front() == ' ')
        rest.erase(0, 1);
    // Only voice calls: a data call (no ';') has nothing to connect to.
    if (rest.size() < 2 || rest.back() != ';' ||
        std::any_of(m_calls.begin(), m_calls.end(), [](const Call& c) { return !c.incoming; })) {
        Error();
        return;
    }
    const std::string number = rest.substr(0, rest.size() - 1);
    Call call;
    call.id = m_nextCallId++;
    call.incoming = false;
    call.number = number;
    call.record = m_callRecords.size();
    m_callRecords.push_back(CallRecord{number, "dialling"});
    m_calls.push_back(call);
    Ok();
    const auto rule = m_numberRules.find(number);
    const DialRule& r = rule != m_numberRules.end() ? rule->second : m_defaultRule;
    if (r.answer == DialAnswer::Busy)
        AddTimer(TimerKind::DialVerdict, m_now + Draw(r.minDelay, r.maxDelay), call.id);
}

void SimModem::CmdAnswer()
{
    for (Call& call : m_calls) {
        if (call.incoming && !call.active) {
            call.active = true;
            m_timers.erase(std::remove_if(m_timers.begin(), m_timers.end(),
                                          [](const Timer& t) { return t.kind == TimerKind::Ring; }),
                           m_timers.end());
            Ok();
            return;
        }
    }
    Reply("\r\nNO CARRIER\r\n");
}

void SimModem::CmdHangUp()
{
    while (!m_calls.empty())
        EndCall(m_calls.front().id, "hung up");
    Ok();
}

void SimModem::CmdListCalls()
{
    std::string reply;
    const bool anyActive = std::any_of(m_calls.begin(), m_calls.end(), [](const Call& c) { return c.active; });
    bool ringingSeen = false;
    int position = 0;
    for (const Call& call : m_calls) {
        ++position;
        if (!call.incoming)
            continue;
        // 0 active, 4 incoming (ringing), 5 waiting behind another call.
        int state = 0;
        if (!call.active) {
            state = (anyActive || ringingSeen) ? 5 : 4;
            ringingSeen = true;
        }
        const int type = !call.number.empty() && call.number.front() == '+' ? 145 : 129;
        reply += "\r\n+CLCC: " + std::to_string(position) + ",1," + std::to_string(state) + ",0,0,\"" +
                 call.number + "\"," + std::to_string(type);
    }
    if (!reply.empty())
        reply += "\r\n";
    Reply(reply + "\r\nOK\r\n");
}

void SimModem::CmdUssd(const std::string& body)
{
    std::string_view args = std::string_view(body).substr(6);
    const size_t comma = args.find(',');
    int mode = 0;
    if (!ParseNumber(args.substr(0, comma), mode) || mode > 2) {
        Error();
        return;
    }
    if (comma == std::string_view::npos) {
        if (mode == 2)
            m_timers.erase(std::remove_if(m_timers.begin(), m_timers.end(),
                                          [](const Timer& t) { return t.kind == TimerKind::UssdAnswer; }),
                           m_timers.end());
        Ok();
        return;
    }
    std::string raw;
    std::string_view rest;
    if (!TakeQuoted(args.substr(comma + 1), raw, rest)) {
        Error();
        return;
    }
    int scheme = 15;
    if (!rest.empty() && (rest.front() != ',' || !ParseNumber(rest.substr(1), scheme))) {
        Error();
        return;
    }
    const auto request = StationText(raw);
    if (!request) {
        Error();
        return;
    }
    m_sentLines.push_back("ussd: " + EscapeText(*request));
    Ok();
    if (mode == 1)
        AddTimer(TimerKind::UssdAnswer, m_now + m_options.ussdDelay, 0);
}

// ---------------------------------------------------------------- output

void SimModem::Reply(std::string bytes)
{
    if (m_truncateNext) {
        m_truncateNext = false;
        bytes.resize(bytes.size() / 2);
    }
    FlushEcho();
    Enqueue(std::move(bytes), m_now + Draw(m_options.replyDelayMin, m_options.replyDelayMax), true);
}

void SimModem::Unsolicited(std::string bytes)
{
    FlushEcho();
    Enqueue(std::move(bytes), m_now, true);
}

void SimModem::FlushEcho()
{
    if (m_echoPending.empty())
        return;
    std::string echo = std::move(m_echoPending);
    m_echoPending.clear();
    Enqueue(std::move(echo), m_now, true);
}

void SimModem::Enqueue(std::string bytes, Millis due, bool splittable)
{
    if (!m_plugged || m_silent || bytes.empty())
        return;
    if (!m_out.empty())
        due = std::max(due, m_out.back().due);
    if (m_backlog + bytes.size() > kMaxBacklog)
        return;
    m_backlog += bytes.size();
    if (m_split && splittable) {
        for (const char c : bytes) {
            m_out.push_back(Chunk{due, std::string(1, c), 0});
            due += m_options.splitGap;
        }
        return;
    }
    m_out.push_back(Chunk{due, std::move(bytes), 0});
}

std::string SimModem::TakeOutput(Millis now, size_t maxBytes)
{
    std::string out;
    while (!m_out.empty() && out.size() < maxBytes) {
        Chunk& chunk = m_out.front();
        if (chunk.due > now)
            break;
        const size_t room = maxBytes - out.size();
        if (chunk.flood > 0) {
            const auto n = static_cast<size_t>(std::min<std::uint64_t>(chunk.flood, room));
            for (size_t i = 0; i < n; ++i)
                out.push_back(static_cast<char>(m_rng() & 0xFF));
            chunk.flood -= n;
            if (chunk.flood == 0)
                m_out.pop_front();
            continue;
        }
        const size_t n = std::min(chunk.bytes.size(), room);
        out.append(chunk.bytes, 0, n);
        m_backlog -= n;
        if (n == chunk.bytes.size())
            m_out.pop_front();
        else
            chunk.bytes.erase(0, n);
    }
    return out;
}

std::optional<Millis> SimModem::NextOutput() const
{
    if (m_out.empty())
        return std::nullopt;
    return m_out.front().due;
}

void SimModem::Inject(std::string_view bytes, Millis now)
{
    m_now = now;
    Unsolicited(std::string(bytes));
}

void SimModem::Flood(std::uint64_t count, Millis now)
{
    m_now = now;
    if (!m_plugged || m_silent || count == 0)
        return;
    FlushEcho();
    const Millis due = m_out.empty() ? now : std::max(now, m_out.back().due);
    m_out.push_back(Chunk{due, {}, count});
}

// ---------------------------------------------------------------- timers and calls

void SimModem::AddTimer(TimerKind kind, Millis due, int callId)
{
    m_timers.push_back(Timer{due, m_timerOrder++, kind, callId});
}

void SimModem::CancelTimers(int callId)
{
    m_timers.erase(std::remove_if(m_timers.begin(), m_timers.end(),
                                  [callId](const Timer& t) { return t.callId == callId && t.kind != TimerKind::Ring; }),
                   m_timers.end());
}

std::optional<Millis> SimModem::NextTimer() const
{
    std::optional<Millis> next;
    for (const Timer& t : m_timers) {
        if (!next || t.due < *next)
            next = t.due;
    }
    return next;
}

void SimModem::Advance(Millis now)
{
    m_now = now;
    for (;;) {
        auto due = m_timers.end();
        for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
            if (it->due <= now && (due == m_timers.end() || it->due < due->due ||
                                   (it->due == due->due && it->order < due->order)))
                due = it;
        }
        if (due == m_timers.end())
            return;
        const Timer timer = *due;
        m_timers.erase(due);
        switch (timer.kind) {
        case TimerKind::Ring: {
            const bool active = std::any_of(m_calls.begin(), m_calls.end(), [](const Call& c) { return c.active; });
            const bool ringing = std::any_of(m_calls.begin(), m_calls.end(),
                                             [](const Call& c) { return c.incoming && !c.active; });
            if (ringing && !active) {
                Unsolicited("\r\nRING\r\n");
                AddTimer(TimerKind::Ring, std::max(timer.due + m_options.ringPeriod, now + 1), 0);
            }
            break;
        }
        case TimerKind::DialVerdict:
            if (std::any_of(m_calls.begin(), m_calls.end(), [&](const Call& c) { return c.id == timer.callId; })) {
                EndCall(timer.callId, "busy");
                Unsolicited("\r\nBUSY\r\n");
            }
            break;
        case TimerKind::UssdAnswer:
            Unsolicited("\r\n+CUSD: 0, \"" + Utf8ToUcs2Hex(m_balance) + "\", 72\r\n");
            break;
        }
    }
}

void SimModem::Ring(std::string number, Millis now)
{
    m_now = now;
    // The network cannot reach a modem that is not plugged in.
    if (!m_plugged)
        return;
    Call call;
    call.id = m_nextCallId++;
    call.incoming = true;
    call.number = std::move(number);
    const bool ringing = std::any_of(m_calls.begin(), m_calls.end(), [](const Call& c) { return c.incoming && !c.active; });
    const bool active = std::any_of(m_calls.begin(), m_calls.end(), [](const Call& c) { return c.active; });
    m_calls.push_back(std::move(call));
    // A call that arrives behind another one waits without RING of its own.
    if (!ringing && !active) {
        Unsolicited("\r\nRING\r\n");
        AddTimer(TimerKind::Ring, now + m_options.ringPeriod, 0);
    }
}

bool SimModem::FarEndHangsUp(Millis now, std::string_view number)
{
    m_now = now;
    std::vector<int> ids;
    for (const Call& call : m_calls) {
        if (number.empty() || call.number == number)
            ids.push_back(call.id);
    }
    if (ids.empty())
        return false;
    for (const int id : ids)
        EndCall(id, "no carrier");
    Unsolicited("\r\nNO CARRIER\r\n");
    return true;
}

void SimModem::EndCall(int callId, const char* outcome)
{
    const auto it = std::find_if(m_calls.begin(), m_calls.end(), [callId](const Call& c) { return c.id == callId; });
    if (it == m_calls.end())
        return;
    if (!it->incoming && m_callRecords[it->record].outcome == "dialling")
        m_callRecords[it->record].outcome = outcome;
    CancelTimers(callId);
    m_calls.erase(it);
    const bool ringing = std::any_of(m_calls.begin(), m_calls.end(), [](const Call& c) { return c.incoming && !c.active; });
    if (!ringing)
        m_timers.erase(std::remove_if(m_timers.begin(), m_timers.end(),
                                      [](const Timer& t) { return t.kind == TimerKind::Ring; }),
                       m_timers.end());
}

std::vector<std::string> SimModem::RingingCalls() const
{
    std::vector<std::string> numbers;
    for (const Call& call : m_calls) {
        if (call.incoming && !call.active)
            numbers.push_back(call.number);
    }
    return numbers;
}

// ---------------------------------------------------------------- plugging

void SimModem::PowerOn()
{
    m_echo = true;
    m_textMode = false;
    m_charset = "GSM";
    m_prompt = false;
    m_line.clear();
    m_lineOverflow = false;
    m_smsNumber.clear();
    m_smsText.clear();
    m_smsOverflow = false;
    m_echoPending.clear();
}

void SimModem::Unplug()
{
    while (!m_calls.empty())
        EndCall(m_calls.front().id, "lost");
    m_timers.clear();
    m_out.clear();
    m_backlog = 0;
    m_plugged = false;
    PowerOn();
}

void SimModem::PlugIn()
{
    PowerOn();
    m_plugged = true;
}

void SimModem::SetSilent(bool on)
{
    m_silent = on;
    // Whatever was half-typed when the modem went deaf is gone.
    m_line.clear();
    m_lineOverflow = false;
    m_echoPending.clear();
    if (on) {
        m_out.clear();
        m_backlog = 0;
    }
}

// ---------------------------------------------------------------- control side

std::optional<int> SimModem::StoreSms(std::string number, std::string text)
{
    for (int i = 0; i < kSimSlots; ++i) {
        Slot& slot = m_slots[i];
        if (slot.used)
            continue;
        slot.used = true;
        slot.sms = StoredSms{i + 1, "REC UNREAD", std::move(number), std::move(text), StampNow()};
        return i + 1;
    }
    return std::nullopt;
}

std::vector<StoredSms> SimModem::Messages() const
{
    std::vector<StoredSms> list;
    for (const Slot& slot : m_slots) {
        if (slot.used)
            list.push_back(slot.sms);
    }
    return list;
}

std::vector<std::string> SimModem::TakeSentLines()
{
    std::vector<std::string> lines(m_sentLines.begin(), m_sentLines.end());
    m_sentLines.clear();
    return lines;
}

// ---------------------------------------------------------------- helpers

Millis SimModem::Draw(Millis lo, Millis hi)
{
    if (hi <= lo)
        return lo;
    return std::uniform_int_distribution<Millis>(lo, hi)(m_rng);
}

std::string SimModem::StampNow() const
{
    if (m_options.stampNow)
        return m_options.stampNow();
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char buf[32];
    std::strftime(buf, sizeof buf, "%y/%m/%d,%H:%M:%S+12", &local);
    return buf;
}

std::string SimModem::ModemText(std::string_view utf8) const
{
    return m_charset == "UCS2" ? Utf8ToUcs2Hex(utf8) : Utf8ToIra(utf8);
}

std::optional<std::string> SimModem::StationText(std::string_view bytes) const
{
    if (m_charset == "UCS2")
        return Ucs2HexToUtf8(bytes);
    return std::string(bytes);
}

} // namespace kv::modemsim
