#include "tools/modemsim/SimModem.h"

#include "tools/modemsim/Ucs2Hex.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace kv::modemsim {
namespace {

constexpr char kCtrlZ = 0x1A;
constexpr char kEsc = 0x1B;
constexpr char kBackspace = 0x08;
constexpr size_t kMaxSentLines = 10000;
// Indications a modem keeps while it is told to buffer them.
constexpr size_t kMaxBuffered = 64;

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

// Comma-separated numbers, each may be empty (kept as -1); false on anything else.
bool ParseNumberList(std::string_view s, std::vector<int>& values, size_t most)
{
    values.clear();
    for (;;) {
        const size_t comma = s.find(',');
        const std::string_view item = s.substr(0, comma);
        int v = -1;
        if (!item.empty() && !ParseNumber(item, v))
            return false;
        values.push_back(v);
        if (values.size() > most)
            return false;
        if (comma == std::string_view::npos)
            return true;
        s.remove_prefix(comma + 1);
    }
}

// "0-3" or "0,2,3" (the inside of one parenthesis) holds `value`.
bool ListHolds(std::string_view list, int value)
{
    while (!list.empty()) {
        const size_t comma = list.find(',');
        const std::string_view item = list.substr(0, comma);
        const size_t dash = item.find('-');
        int lo = 0, hi = 0;
        if (dash == std::string_view::npos) {
            if (ParseNumber(item, lo) && lo == value)
                return true;
        } else if (ParseNumber(item.substr(0, dash), lo) && ParseNumber(item.substr(dash + 1), hi) && lo <= value &&
                   value <= hi) {
            return true;
        }
        if (comma == std::string_view::npos)
            break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

// Whether each given value lies in its list of a test-form answer such as
// "(0-3),(0,1),(1)"; a negative value is one left out and is not checked.
bool TestFormAccepts(std::string_view testForm, const std::vector<int>& values)
{
    std::vector<std::string_view> lists;
    for (size_t open = testForm.find('('); open != std::string_view::npos; open = testForm.find('(', open + 1)) {
        const size_t close = testForm.find(')', open);
        if (close == std::string_view::npos)
            break;
        lists.push_back(testForm.substr(open + 1, close - open - 1));
    }
    if (values.size() > lists.size())
        return false;
    for (size_t i = 0; i < values.size(); ++i)
        if (values[i] >= 0 && !ListHolds(lists[i], values[i]))
            return false;
    return true;
}

// The service centre the simulated network names in every message.
constexpr std::string_view kServiceCentre = "+79000000000";

std::u16string Utf8ToUnits(std::string_view utf8)
{
    const std::string hex = Utf8ToUcs2Hex(utf8);
    std::u16string units;
    for (size_t i = 0; i + 4 <= hex.size(); i += 4)
        units.push_back(static_cast<char16_t>(std::stoul(hex.substr(i, 4), nullptr, 16)));
    return units;
}

std::string UnitsToUtf8(std::u16string_view units)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (const char16_t u : units)
        for (const int shift : {12, 8, 4, 0})
            hex.push_back(kDigits[(u >> shift) & 0xF]);
    return Ucs2HexToUtf8(hex).value_or("");
}

std::string HexOf(const std::vector<std::uint8_t>& octets)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (const std::uint8_t o : octets) {
        hex.push_back(kDigits[o >> 4]);
        hex.push_back(kDigits[o & 0xF]);
    }
    return hex;
}

// As much of the text as one SMS of its coding holds: a network never delivers
// more in one message, however long a text the control channel gave.
std::u16string OneSmsOf(std::u16string_view units, kv::sms::Coding coding)
{
    size_t lo = 0, hi = units.size();
    while (lo < hi) {
        const size_t mid = (lo + hi + 1) / 2;
        if (kv::sms::SplitForSms(units.substr(0, mid), coding).size() == 1)
            lo = mid;
        else
            hi = mid - 1;
    }
    return std::u16string(units.substr(0, lo));
}

kv::sms::Coding CodingFor(std::string_view utf8)
{
    return kv::sms::FitsGsm7(Utf8ToUnits(utf8)) ? kv::sms::Coding::Gsm7 : kv::sms::Coding::Ucs2;
}

int StatusNumber(const std::string& status)
{
    static constexpr std::string_view kStatuses[] = {"REC UNREAD", "REC READ", "STO UNSENT", "STO SENT"};
    const auto* at = std::find(std::begin(kStatuses), std::end(kStatuses), status);
    return at == std::end(kStatuses) ? 0 : static_cast<int>(at - std::begin(kStatuses));
}

bool IsUssdCode(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == '*' || c == '#' || c == '+';
    });
}

const char* CmsText(int code)
{
    switch (code) {
    case 302: return "operation not allowed";
    case 305: return "invalid text mode parameter";
    case 321: return "invalid memory index";
    case 322: return "memory full";
    case 500: return "unknown error";
    default: return "unknown error";
    }
}

} // namespace

SimModem::SimModem(ModemOptions options)
    : m_options(std::move(options)), m_rng(m_options.seed),
      m_family(m_options.family ? m_options.family : &DefaultFamily()), m_nextFamily(m_family),
      m_balance("Баланс: 150.00 р.")
{
    m_sim.resize(static_cast<size_t>(m_family->simSize));
    m_phone.resize(static_cast<size_t>(m_family->phoneSize));
    PowerOn();
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
        if (m_prompt) {
            HandlePromptByte(c);
        } else {
            // A code the modem was about to send crosses the command on the line.
            if (!m_beforeEcho.empty())
                ReleaseBeforeEcho(true);
            HandleCommandByte(c);
        }
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
        if (m_echo && m_family->doubleEcho)
            m_echoPending += m_lineEcho + "\r";
        m_line.clear();
        m_lineEcho.clear();
        m_lineOverflow = false;
        // A new command line ends a call attempt still waiting for its result.
        if (m_dialInFlight)
            EndDialInFlight();
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
        m_lineEcho.clear();
        m_lineOverflow = false;
        return;
    case kBackspace:
        if (!m_line.empty())
            m_line.pop_back();
        break;
    case '\n':
        return;
    default:
        if (m_line.size() < kMaxLine)
            m_line.push_back(c);
        else
            m_lineOverflow = true;
        break;
    }
    if (m_lineEcho.size() < kMaxLine)
        m_lineEcho.push_back(c);
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
        m_echoPending += Frame("\r\n> ");
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
    } else if (upper == "Z" || upper == "&F") {
        PowerOn();
        Ok();
    } else if (upper == "+CMGF=0" || upper == "+CMGF=1") {
        m_textMode = upper.back() == '1';
        Ok();
    } else if (upper == "+CMGF?") {
        Final(std::string("\r\n+CMGF: ") + (m_textMode ? "1" : "0") + "\r\n\r\nOK\r\n");
    } else if (StartsWith(upper, "+CSCS")) {
        CmdCharset(upper);
    } else if (StartsWith(upper, "+CMEE")) {
        CmdErrorMode(upper);
    } else if (StartsWith(upper, "+CSMP=")) {
        Ok();
    } else if (upper == "+CSQ") {
        Final("\r\n+CSQ: " + std::to_string(m_signal) + ",0\r\n\r\nOK\r\n");
    } else if (upper == "+CPIN?") {
        Final("\r\n+CPIN: READY\r\n\r\nOK\r\n");
    } else if (upper == "+CREG?") {
        Final("\r\n+CREG: 0,1\r\n\r\nOK\r\n");
    } else if (StartsWith(upper, "+CREG=")) {
        Ok();
    } else if (StartsWith(upper, "+CPMS")) {
        CmdStorage(upper);
    } else if (StartsWith(upper, "+CNMI")) {
        CmdIndications(upper);
    } else if (StartsWith(upper, "+CLIP")) {
        CmdSwitch(upper, "+CLIP", m_clip);
    } else if (StartsWith(upper, "+CRC")) {
        CmdSwitch(upper, "+CRC", m_crc);
    } else if (StartsWith(upper, "+CSDH")) {
        CmdSwitch(upper, "+CSDH", m_csdh);
    } else if (StartsWith(upper, "+CMGR=")) {
        CmdReadSms(upper);
    } else if (StartsWith(upper, "+CMGL")) {
        CmdListSms(body);
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

// "+NAME=0|1", "+NAME?" and "+NAME=?" of an on/off setting.
void SimModem::CmdSwitch(const std::string& upper, std::string_view name, bool& setting)
{
    const std::string_view rest = std::string_view(upper).substr(name.size());
    const std::string head = "\r\n" + std::string(name) + ": ";
    int value = 0;
    if (rest == "?") {
        // +CLIP also tells whether the network provides the service.
        Final(head + (setting ? "1" : "0") + (name == "+CLIP" ? ",1" : "") + "\r\n\r\nOK\r\n");
    } else if (rest == "=?") {
        Final(head + "(0,1)\r\n\r\nOK\r\n");
    } else if (StartsWith(rest, "=") && ParseNumber(rest.substr(1), value) && value <= 1) {
        setting = value == 1;
        Ok();
    } else {
        Error();
    }
}

void SimModem::CmdCharset(const std::string& upper)
{
    if (upper == "+CSCS?") {
        Final("\r\n+CSCS: \"" + m_charset + "\"\r\n\r\nOK\r\n");
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

void SimModem::CmdErrorMode(const std::string& upper)
{
    int mode = 0;
    if (upper == "+CMEE?")
        Final("\r\n+CMEE: " + std::to_string(m_cmee) + "\r\n\r\nOK\r\n");
    else if (upper == "+CMEE=?")
        Final("\r\n+CMEE: (0-2)\r\n\r\nOK\r\n");
    else if (StartsWith(upper, "+CMEE=") && ParseNumber(std::string_view(upper).substr(6), mode) && mode <= 2) {
        m_cmee = mode;
        Ok();
    } else {
        Error();
    }
}

void SimModem::CmdIndications(const std::string& upper)
{
    // A modem without indications knows no such command.
    if (!m_indications) {
        Error();
        return;
    }
    if (upper == "+CNMI=?") {
        Final("\r\n+CNMI: " + std::string(m_family->cnmiTest) + "\r\n\r\nOK\r\n");
        return;
    }
    if (upper == "+CNMI?") {
        std::vector<std::string> fields;
        for (const int v : m_cnmi)
            fields.push_back(std::to_string(v));
        Final("\r\n+CNMI: " + Join(fields) + "\r\n\r\nOK\r\n");
        return;
    }
    std::vector<int> values;
    if (!StartsWith(upper, "+CNMI=") || !ParseNumberList(std::string_view(upper).substr(6), values, 5)) {
        Error();
        return;
    }
    // Omitted values keep the ones in force; the given ones must be offered.
    if (!TestFormAccepts(m_family->cnmiTest, values)) {
        CmsError(302);
        return;
    }
    for (size_t i = 0; i < values.size(); ++i) {
        if (values[i] >= 0)
            m_cnmi[i] = values[i];
    }
    Ok();
    // Indications kept while buffering follow the OK (bfr 0) or are dropped (bfr 1).
    if (m_cnmi[0] != 0) {
        std::vector<std::string> buffered = std::move(m_modemBuffer);
        m_modemBuffer.clear();
        if (m_cnmi[4] == 0)
            for (std::string& bytes : buffered)
                Enqueue(Frame(std::move(bytes)), m_now, true);
    }
}

void SimModem::CmdStorage(const std::string& upper)
{
    const auto entry = [this](int which) {
        const Medium medium = Memory(which);
        const int total = static_cast<int>(Store(medium).size());
        return std::vector<std::string>{std::to_string(Used(medium)), std::to_string(total)};
    };
    if (upper == "+CPMS?") {
        std::vector<std::string> fields;
        for (int i = 0; i < 3; ++i) {
            fields.push_back("\"" + m_mem[i] + "\"");
            for (std::string& f : entry(i))
                fields.push_back(std::move(f));
        }
        Final("\r\n+CPMS: " + Join(fields) + "\r\n\r\nOK\r\n");
        return;
    }
    if (upper == "+CPMS=?") {
        std::string names;
        for (const StorageName& s : m_family->storages)
            if (!Store(s.medium).empty())
                names += (names.empty() ? "\"" : ",\"") + std::string(s.name) + "\"";
        Final("\r\n+CPMS: (" + names + "),(" + names + "),(" + names + ")\r\n\r\nOK\r\n");
        return;
    }
    if (!StartsWith(upper, "+CPMS=")) {
        Error();
        return;
    }
    std::string_view rest = std::string_view(upper).substr(6);
    std::vector<std::string> names;
    while (names.size() < 3) {
        std::string name;
        if (!TakeQuoted(rest, name, rest)) {
            Error();
            return;
        }
        names.push_back(name);
        if (rest.empty())
            break;
        if (rest.front() != ',') {
            Error();
            return;
        }
        rest.remove_prefix(1);
    }
    if (!rest.empty()) {
        Error();
        return;
    }
    for (const std::string& name : names) {
        const auto medium = MediumOf(name);
        if (!medium || Store(*medium).empty()) {
            CmsError(302);
            return;
        }
    }
    for (size_t i = 0; i < names.size(); ++i)
        m_mem[i] = names[i];
    std::vector<std::string> fields;
    for (int i = 0; i < 3; ++i)
        for (std::string& f : entry(i))
            fields.push_back(std::move(f));
    Final("\r\n+CPMS: " + Join(fields) + "\r\n\r\nOK\r\n");
    // A receiving memory with room takes what waits at the network.
    RetryNetwork();
}

void SimModem::CmdReadSms(const std::string& upper)
{
    int index = 0;
    if (!ParseNumber(std::string_view(upper).substr(6), index)) {
        Error();
        return;
    }
    std::vector<Slot>& store = Store(Memory(0));
    if (index < 1 || index > static_cast<int>(store.size())) {
        CmsError(321);
        return;
    }
    Slot& slot = store[static_cast<size_t>(index - 1)];
    if (!slot.used) {
        switch (m_family->emptyRead) {
        case EmptyRead::BareOk: Ok(); break;
        case EmptyRead::ZeroHeader: Final("\r\n+CMGR: 0,,0\r\n\r\nOK\r\n"); break;
        case EmptyRead::Cms500: CmsError(500); break;
        case EmptyRead::Cms321: CmsError(321); break;
        case EmptyRead::PlainError: Error(); break;
        }
        return;
    }
    // Announced a moment ago, the message is not yet readable.
    if (m_family->earlyReadMs > 0 && slot.announced && !slot.earlyRefused &&
        m_now - *slot.announced < m_family->earlyReadMs) {
        slot.earlyRefused = true;
        CmsError(321);
        return;
    }
    StoredSms& sms = slot.sms;
    if (m_textMode)
        Final("\r\n+CMGR: " + MessageHeader(sms) + "\r\n" + TakeUrcInBody() + MessageBody(sms) + "\r\n\r\nOK\r\n");
    else
        Final("\r\n+CMGR: " + PduHeader(sms) + "\r\n" + TakeUrcInBody() + PduOf(sms) + "\r\n\r\nOK\r\n");
    if (sms.status == "REC UNREAD")
        sms.status = "REC READ";
}

void SimModem::CmdListSms(const std::string& body)
{
    std::string_view args = std::string_view(body).substr(5);
    std::string status = "REC UNREAD";
    static constexpr std::string_view kStatuses[] = {"REC UNREAD", "REC READ", "STO UNSENT", "STO SENT", "ALL"};
    if (!m_textMode) {
        // PDU mode: the status as its number, 0 to 4.
        int n = 0;
        if (!args.empty() && (args.front() != '=' || !ParseNumber(args.substr(1), n) || n > 4)) {
            Error();
            return;
        }
        status = kStatuses[n];
    } else if (!args.empty()) {
        std::string_view rest;
        if (args.front() != '=' || !TakeQuoted(args.substr(1), status, rest) || !rest.empty()) {
            Error();
            return;
        }
        if (m_charset == "UCS2") {
            const auto decoded = Ucs2HexToUtf8(status);
            if (decoded && !status.empty())
                status = *decoded;
            else if (m_family->listStatusHex) {
                CmsError(305);
                return;
            }
        }
        for (char& c : status)
            c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    if (std::find(std::begin(kStatuses), std::end(kStatuses), status) == std::end(kStatuses)) {
        CmsError(305);
        return;
    }
    std::string reply;
    for (Slot& slot : Store(Memory(0))) {
        if (!slot.used || (status != "ALL" && slot.sms.status != status))
            continue;
        reply += "\r\n+CMGL: " + std::to_string(slot.sms.index) + (m_family->blanks ? ", " : ",") +
                 (m_textMode ? MessageHeader(slot.sms, true) : PduHeader(slot.sms)) + "\r\n" + TakeUrcInBody() +
                 (m_textMode ? MessageBody(slot.sms) : PduOf(slot.sms));
        if (slot.sms.status == "REC UNREAD")
            slot.sms.status = "REC READ";
    }
    Final(reply + (reply.empty() ? "" : "\r\n") + "\r\nOK\r\n");
}

void SimModem::CmdDeleteSms(const std::string& upper)
{
    std::string_view args = std::string_view(upper).substr(6);
    int index = 0;
    int flag = 0;
    const size_t comma = args.find(',');
    if (!ParseNumber(args.substr(0, comma), index) ||
        (comma != std::string_view::npos && !ParseNumber(args.substr(comma + 1), flag)) || flag > 4) {
        Error();
        return;
    }
    std::vector<Slot>& store = Store(Memory(0));
    if (index > static_cast<int>(store.size()) || (flag == 0 && index < 1)) {
        CmsError(321);
        return;
    }
    if (flag == 0) {
        store[static_cast<size_t>(index - 1)].used = false;
    } else {
        // Delete flags of 27.005: 1 read, 2 read and sent, 3 read, sent and unsent, 4 all.
        for (Slot& slot : store) {
            if (!slot.used)
                continue;
            const std::string& st = slot.sms.status;
            const bool remove = st == "REC READ" || (flag >= 2 && st == "STO SENT") ||
                                (flag >= 3 && st == "STO UNSENT") || flag == 4;
            if (remove)
                slot.used = false;
        }
    }
    Ok();
    if (!m_network.empty() && !HasTimer(TimerKind::NetworkRetry))
        AddTimer(TimerKind::NetworkRetry, m_now + m_options.networkRetry, 0);
}

void SimModem::CmdSendSms(const std::string& body)
{
    std::string raw;
    std::string_view rest;
    if (!m_textMode) {
        // PDU mode: the length of the TPDU to come.
        int length = 0;
        if (!ParseNumber(std::string_view(body).substr(6), length) || length < 1 || length > 164) {
            Error();
            return;
        }
        m_prompt = true;
        m_smsPduLength = length;
        m_smsNumber.clear();
        m_smsText.clear();
        m_smsOverflow = false;
        Emit("\r\n> ");
        return;
    }
    if (!TakeQuoted(std::string_view(body).substr(6), raw, rest) || raw.empty()) {
        Error();
        return;
    }
    const auto number = StationText(raw);
    if (!number) {
        Error();
        return;
    }
    m_prompt = true;
    m_smsPduLength = -1;
    m_smsNumber = *number;
    m_smsText.clear();
    m_smsOverflow = false;
    Emit("\r\n> ");
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
    if (m_smsPduLength >= 0) {
        // The hex of the PDU; a line break typed into it is no part of it.
        std::erase_if(text, [](char c) { return c == '\n' || c == '\r' || c == ' '; });
        const std::optional<kv::sms::Submit> submit = kv::sms::DecodeSubmitPdu(text);
        if (!submit || kv::sms::TpduLength(text) != m_smsPduLength) {
            CmsError(304);
            return;
        }
        const int reference = m_nextReference;
        m_nextReference = (m_nextReference + 1) % 256;
        m_outbox.push_back(
            SentSms{reference, "PDU", submit->number, UnitsToUtf8(submit->data.units), submit->data.concat});
        Final("\r\n+CMGS: " + std::to_string(reference) + "\r\n\r\nOK\r\n");
        return;
    }
    const auto decoded = StationText(text);
    if (!decoded) {
        Error();
        return;
    }
    const int reference = m_nextReference;
    m_nextReference = (m_nextReference + 1) % 256;
    m_outbox.push_back(SentSms{reference, m_charset, m_smsNumber, *decoded, std::nullopt});
    Final("\r\n+CMGS: " + std::to_string(reference) + "\r\n\r\nOK\r\n");
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
    if (m_family->dialOkWhenUp)
        m_dialInFlight = call.id;
    else
        Ok();
    const auto rule = m_numberRules.find(number);
    const DialRule& r = rule != m_numberRules.end() ? rule->second : m_defaultRule;
    if (r.answer != DialAnswer::Never)
        AddTimer(TimerKind::DialVerdict, m_now + Draw(r.minDelay, r.maxDelay), call.id);
}

void SimModem::DialVerdict(int callId)
{
    const auto call = std::find_if(m_calls.begin(), m_calls.end(), [&](const Call& c) { return c.id == callId; });
    if (call == m_calls.end())
        return;
    const auto rule = m_numberRules.find(call->number);
    const DialAnswer answer = (rule != m_numberRules.end() ? rule->second : m_defaultRule).answer;
    const bool final = m_dialInFlight == callId;
    if (final)
        m_dialInFlight = 0;
    if (answer == DialAnswer::Answer) {
        call->active = true;
        if (m_callRecords[call->record].outcome == "dialling")
            m_callRecords[call->record].outcome = "answered";
        if (final)
            Ok();
        return;
    }
    const char* result = "BUSY";
    const char* outcome = "busy";
    switch (answer) {
    case DialAnswer::NoCarrier: result = "NO CARRIER"; outcome = "no carrier"; break;
    case DialAnswer::NoAnswer:
        result = m_family->noAnswer ? "NO ANSWER" : "NO CARRIER";
        outcome = "no answer";
        break;
    case DialAnswer::NoDialtone: result = "NO DIALTONE"; outcome = "no dialtone"; break;
    default: break;
    }
    EndCall(callId, outcome);
    if (final)
        Final("\r\n" + std::string(result) + "\r\n");
    else
        Unsolicited(result);
}

void SimModem::EndDialInFlight()
{
    const int id = m_dialInFlight;
    m_dialInFlight = 0;
    EndCall(id, "hung up");
    Final("\r\nNO CARRIER\r\n");
}

void SimModem::CmdAnswer()
{
    for (Call& call : m_calls) {
        if (call.incoming && !call.active) {
            call.active = true;
            RemoveTimers(TimerKind::Ring);
            Ok();
            return;
        }
    }
    Final("\r\nNO CARRIER\r\n");
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
        const bool international = !call.number.empty() && call.number.front() == '+';
        const int type = international ? 145 : m_family->clccType161 ? 161 : 129;
        std::vector<std::string> fields = {std::to_string(position), "1", std::to_string(state), "0", "0",
                                           NumberField(call.number, m_family->clccNumberHex), std::to_string(type)};
        if (m_family->clccAlpha)
            fields.push_back(AlphaOf(call.number, EmptyAlpha::Quoted));
        reply += "\r\n+CLCC: " + Join(fields);
    }
    if (!reply.empty())
        reply += "\r\n";
    Final(reply + "\r\nOK\r\n");
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
        if (mode == 2) {
            RemoveTimers(TimerKind::UssdAnswer);
            m_ussdInFlight = false;
        }
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
    std::optional<std::string> request;
    if (m_charset != "UCS2") {
        request = raw;
    } else {
        const auto decoded = raw.empty() ? std::nullopt : Ucs2HexToUtf8(raw);
        const auto plain = IsUssdCode(raw) ? std::optional(raw) : std::nullopt;
        switch (m_family->ussdRequest) {
        case UssdRequest::Ucs2Hex: request = decoded; break;
        case UssdRequest::Plain: request = plain; break;
        case UssdRequest::Either: request = decoded ? decoded : plain; break;
        }
    }
    if (!request) {
        if (m_family->ussdRequest == UssdRequest::Plain)
            CmeError(50);
        else
            Error();
        return;
    }
    m_sentLines.push_back("ussd: " + EscapeText(*request));
    if (mode != 1) {
        Ok();
        return;
    }
    m_ussdPending = m_ussdRefusal;
    m_ussdRefusal = UssdRefusal::None;
    RemoveTimers(TimerKind::UssdAnswer);
    AddTimer(TimerKind::UssdAnswer, m_now + m_options.ussdDelay, 0);
    if (m_family->ussdBeforeOk)
        m_ussdInFlight = true;
    else
        Ok();
}

void SimModem::UssdAnswer()
{
    const bool final = m_ussdInFlight;
    m_ussdInFlight = false;
    const UssdRefusal refusal = m_ussdPending;
    m_ussdPending = UssdRefusal::None;
    if (refusal == UssdRefusal::Cme132) {
        // Refused by the network after the modem had taken the request.
        if (final)
            CmeError(132);
        else
            Unsolicited(CmeLine(132));
        return;
    }
    const std::string comma = m_family->ussdBlanks ? ", " : ",";
    std::string answer;
    if (refusal == UssdRefusal::Cusd4) {
        answer = "+CUSD: 4";
    } else {
        std::string text;
        if (m_family->ussdBareLf) {
            size_t start = 0;
            for (size_t nl; (nl = m_balance.find('\n', start)) != std::string::npos; start = nl + 1)
                text += Utf8ToUcs2Hex(m_balance.substr(start, nl - start)) + "\n";
            text += Utf8ToUcs2Hex(m_balance.substr(start));
        } else {
            text = Utf8ToUcs2Hex(m_balance);
        }
        answer = "+CUSD: 0" + comma + "\"" + text + "\"" + comma + std::to_string(m_family->ussdDcs);
    }
    if (final) {
        // Part of the request's own reply, ahead of its OK.
        std::string reply = m_family->ussdEndFirst ? "\r\n+CUSD: 2\r\n" : "";
        Final(reply + "\r\n" + answer + "\r\n\r\nOK\r\n");
        return;
    }
    if (m_family->ussdEndFirst)
        Unsolicited("+CUSD: 2");
    Unsolicited(answer);
}

// ---------------------------------------------------------------- output

void SimModem::Emit(std::string bytes)
{
    if (m_truncateNext) {
        m_truncateNext = false;
        bytes.resize(bytes.size() / 2);
    }
    FlushEcho();
    Enqueue(Frame(std::move(bytes)), m_now + Draw(m_options.replyDelayMin, m_options.replyDelayMax), true);
}

void SimModem::Final(std::string bytes)
{
    Emit(std::move(bytes));
    ReleaseHeld();
}

void SimModem::CmsError(int code)
{
    Final("\r\n+CMS ERROR: " + (m_cmee == 2 ? std::string(CmsText(code)) : std::to_string(code)) + "\r\n");
}

void SimModem::CmeError(int code) { Final("\r\n" + CmeLine(code) + "\r\n"); }

// Without verbose errors (AT+CMEE=0) a +CME error is a plain ERROR.
std::string SimModem::CmeLine(int code) const
{
    if (m_cmee == 0)
        return "ERROR";
    if (m_cmee == 1)
        return "+CME ERROR: " + std::to_string(code);
    switch (code) {
    case 3: return "+CME ERROR: operation not allowed";
    case 50: return "+CME ERROR: incorrect parameters";
    case 132: return "+CME ERROR: service option not supported";
    default: return "+CME ERROR: unknown";
    }
}

bool SimModem::InFlight() const { return m_prompt || m_dialInFlight != 0 || m_ussdInFlight; }

void SimModem::Unsolicited(const std::string& line, bool indication)
{
    std::string bytes = "\r\n" + line + "\r\n";
    if (indication) {
        // AT+CNMI mode: 0 keep in the modem, 1 drop while the line is busy,
        // 2 hold while busy, 3 send at once.
        switch (m_cnmi[0]) {
        case 0:
            if (m_modemBuffer.size() < kMaxBuffered)
                m_modemBuffer.push_back(std::move(bytes));
            return;
        case 1:
            if (InFlight())
                return;
            break;
        case 2:
            if (InFlight()) {
                m_held.push_back(Frame(std::move(bytes)));
                return;
            }
            break;
        default: break;
        }
    }
    Deliver(std::move(bytes));
}

void SimModem::Deliver(std::string bytes)
{
    switch (m_family->urcTiming) {
    case UrcTiming::AnyTime:
        InsertNow(Frame(std::move(bytes)));
        return;
    case UrcTiming::AfterFinal:
        if (InFlight()) {
            m_held.push_back(Frame(std::move(bytes)));
            return;
        }
        FlushEcho();
        Enqueue(Frame(std::move(bytes)), m_now, true);
        return;
    case UrcTiming::BeforeEcho:
        if (m_beforeEcho.empty())
            AddTimer(TimerKind::UrcRelease, m_now + m_options.urcHold, 0);
        m_beforeEcho.push_back(std::move(bytes));
        return;
    }
}

void SimModem::ReleaseHeld()
{
    std::vector<std::string> held = std::move(m_held);
    m_held.clear();
    for (std::string& bytes : held)
        Enqueue(std::move(bytes), m_now, true);
}

void SimModem::ReleaseBeforeEcho(bool inFrontOfEcho)
{
    RemoveTimers(TimerKind::UrcRelease);
    std::vector<std::string> codes = std::move(m_beforeEcho);
    m_beforeEcho.clear();
    for (std::string& bytes : codes) {
        // In front of an echo the code comes as the line it is, without the
        // line end that would otherwise lead it.
        if (inFrontOfEcho && StartsWith(bytes, "\r\n"))
            bytes.erase(0, 2);
        FlushEcho();
        Enqueue(Frame(std::move(bytes)), m_now, true);
    }
}

std::string SimModem::Frame(std::string bytes) const
{
    if (m_family->lineEnd == "\r\n")
        return bytes;
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            out += m_family->lineEnd;
            ++i;
        } else {
            out.push_back(bytes[i]);
        }
    }
    return out;
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
        bool first = true;
        for (const char c : bytes) {
            m_out.push_back(Chunk{due, std::string(1, c), 0, first});
            first = false;
            due += m_options.splitGap;
        }
        return;
    }
    m_out.push_back(Chunk{due, std::move(bytes), 0, true});
}

// Goes out now, in front of whatever is queued but not yet due (a reply the
// modem is still preparing), never inside a piece already on its way.
void SimModem::InsertNow(std::string bytes)
{
    FlushEcho();
    if (!m_plugged || m_silent || bytes.empty() || m_backlog + bytes.size() > kMaxBacklog)
        return;
    auto at = std::find_if(m_out.begin(), m_out.end(), [this](const Chunk& c) { return c.due > m_now && c.pieceStart; });
    if (at == m_out.end()) {
        Enqueue(std::move(bytes), m_now, true);
        return;
    }
    m_backlog += bytes.size();
    m_out.insert(at, Chunk{m_now, std::move(bytes), 0, true});
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
        if (n == chunk.bytes.size()) {
            m_out.pop_front();
        } else {
            chunk.bytes.erase(0, n);
            chunk.pieceStart = false;
        }
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
    FlushEcho();
    Enqueue(std::string(bytes), m_now, true);
}

void SimModem::InjectUrc(std::string_view line, Millis now)
{
    m_now = now;
    if (m_plugged)
        Unsolicited(std::string(line));
}

void SimModem::SetNoise(bool on, Millis now)
{
    m_now = now;
    m_noise = on;
    RemoveTimers(TimerKind::Noise);
    if (on && m_plugged && !m_family->noise.empty())
        AddTimer(TimerKind::Noise, now + Draw(m_options.noiseMin, m_options.noiseMax), 0);
}

void SimModem::Flood(std::uint64_t count, Millis now)
{
    m_now = now;
    if (!m_plugged || m_silent || count == 0)
        return;
    FlushEcho();
    const Millis due = m_out.empty() ? now : std::max(now, m_out.back().due);
    m_out.push_back(Chunk{due, {}, count, true});
}

// ---------------------------------------------------------------- timers and calls

void SimModem::AddTimer(TimerKind kind, Millis due, int callId)
{
    m_timers.push_back(Timer{due, m_timerOrder++, kind, callId});
}

void SimModem::CancelTimers(int callId)
{
    m_timers.erase(std::remove_if(m_timers.begin(), m_timers.end(),
                                  [callId](const Timer& t) {
                                      return t.callId == callId && t.kind == TimerKind::DialVerdict;
                                  }),
                   m_timers.end());
}

void SimModem::RemoveTimers(TimerKind kind)
{
    m_timers.erase(std::remove_if(m_timers.begin(), m_timers.end(), [kind](const Timer& t) { return t.kind == kind; }),
                   m_timers.end());
}

bool SimModem::HasTimer(TimerKind kind) const
{
    return std::any_of(m_timers.begin(), m_timers.end(), [kind](const Timer& t) { return t.kind == kind; });
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
            const auto ringing = std::find_if(m_calls.begin(), m_calls.end(),
                                              [](const Call& c) { return c.incoming && !c.active; });
            if (ringing != m_calls.end() && !active) {
                std::string ring = m_crc ? "+CRING: VOICE" : "RING";
                if (m_clip) {
                    const bool international = !ringing->number.empty() && ringing->number.front() == '+';
                    ring += "\r\n\r\n+CLIP: " + NumberField(ringing->number, m_family->clccNumberHex) + "," +
                            (international ? "145" : "129") + ",,," +
                            (m_contacts.count(ringing->number) ? AlphaOf(ringing->number, EmptyAlpha::Nothing) : "") +
                            ",0";
                }
                Unsolicited(ring);
                AddTimer(TimerKind::Ring, std::max(timer.due + m_options.ringPeriod, now + 1), 0);
            }
            break;
        }
        case TimerKind::DialVerdict: DialVerdict(timer.callId); break;
        case TimerKind::UssdAnswer: UssdAnswer(); break;
        case TimerKind::NetworkRetry: RetryNetwork(); break;
        case TimerKind::UrcRelease: ReleaseBeforeEcho(false); break;
        case TimerKind::Noise: {
            const auto& noise = m_family->noise;
            if (!noise.empty()) {
                Unsolicited(std::string(noise[static_cast<size_t>(Draw(0, static_cast<Millis>(noise.size()) - 1))]));
                AddTimer(TimerKind::Noise, now + Draw(m_options.noiseMin, m_options.noiseMax), 0);
            }
            break;
        }
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
    if (!ringing && !active)
        AddTimer(TimerKind::Ring, now, 0);
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
    bool answered = false;
    for (const int id : ids) {
        // A call attempt still waiting for its result gets it now.
        if (id == m_dialInFlight) {
            m_dialInFlight = 0;
            EndCall(id, "no carrier");
            Final("\r\nNO CARRIER\r\n");
            answered = true;
            continue;
        }
        EndCall(id, "no carrier");
    }
    if (!answered)
        Unsolicited("NO CARRIER");
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
        RemoveTimers(TimerKind::Ring);
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
    if (m_nextFamily != m_family) {
        m_family = m_nextFamily;
        Rehome();
    }
    m_echo = true;
    m_textMode = false;
    m_charset = "GSM";
    m_cmee = 0;
    std::fill(std::begin(m_cnmi), std::end(m_cnmi), 0);
    m_clip = false;
    m_crc = false;
    m_csdh = false;
    m_mem[0] = std::string(m_family->mem1);
    m_mem[1] = std::string(m_family->mem2);
    m_mem[2] = std::string(m_family->mem3);
    m_prompt = false;
    m_line.clear();
    m_lineEcho.clear();
    m_lineOverflow = false;
    m_smsNumber.clear();
    m_smsText.clear();
    m_smsOverflow = false;
    m_smsPduLength = -1;
    m_echoPending.clear();
    m_dialInFlight = 0;
    m_ussdInFlight = false;
    m_held.clear();
    m_beforeEcho.clear();
    m_modemBuffer.clear();
    RemoveTimers(TimerKind::UrcRelease);
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
    SetNoise(m_noise, m_now);
    if (!m_network.empty())
        AddTimer(TimerKind::NetworkRetry, m_now + m_options.networkRetry, 0);
}

void SimModem::SetSilent(bool on)
{
    m_silent = on;
    // Whatever was half-typed when the modem went deaf is gone.
    m_line.clear();
    m_lineEcho.clear();
    m_lineOverflow = false;
    m_echoPending.clear();
    if (on) {
        m_out.clear();
        m_backlog = 0;
    }
}

// ---------------------------------------------------------------- memories

std::optional<Medium> SimModem::MediumOf(std::string_view storage) const
{
    for (const StorageName& s : m_family->storages)
        if (s.name == storage)
            return s.medium;
    return std::nullopt;
}

Medium SimModem::Memory(int which) const { return MediumOf(m_mem[which]).value_or(Medium::Sim); }

int SimModem::Used(Medium medium) const
{
    const auto& store = Store(medium);
    return static_cast<int>(std::count_if(store.begin(), store.end(), [](const Slot& s) { return s.used; }));
}

std::optional<int> SimModem::StoreIncoming(const Waiter& message)
{
    // Routed straight to the line, the message is not stored (AT+CNMI=,2).
    const int mt = m_indications ? m_cnmi[1] : 0;
    if (m_plugged && mt == 2) {
        StoredSms sms{Medium::Sim, 0, "REC UNREAD", message.number, message.text, message.stamp, message.coding,
                      message.part};
        if (!m_textMode) {
            const std::string pdu = PduOf(sms);
            const std::string alpha = AlphaOf(sms.number, EmptyAlpha::Nothing);
            Unsolicited("+CMT: " + Join({alpha, std::to_string(kv::sms::TpduLength(pdu))}) + "\r\n" + pdu, true);
            return 0;
        }
        std::vector<std::string> fields = {NumberField(sms.number, m_family->numberHex)};
        if (const std::string alpha = AlphaOf(sms.number, m_family->emptyAlpha);
            m_family->emptyAlpha != EmptyAlpha::Omitted || !alpha.empty())
            fields.push_back(alpha);
        fields.push_back(StampField(sms.stamp));
        Unsolicited("+CMT: " + Join(fields) + "\r\n" + MessageBody(sms), true);
        return 0;
    }
    const Medium medium = Memory(2);
    std::vector<Slot>& store = Store(medium);
    for (size_t i = 0; i < store.size(); ++i) {
        Slot& slot = store[i];
        if (slot.used)
            continue;
        slot = Slot{};
        slot.used = true;
        slot.sms = StoredSms{medium,        static_cast<int>(i + 1), "REC UNREAD", message.number,
                             message.text,  message.stamp,           message.coding, message.part};
        if (m_plugged && (mt == 1 || mt == 3)) {
            slot.announced = m_now;
            Unsolicited("+CMTI: \"" + m_mem[2] + "\"" + (m_family->blanks ? ", " : ",") + std::to_string(i + 1), true);
        }
        return static_cast<int>(i + 1);
    }
    return std::nullopt;
}

void SimModem::RetryNetwork()
{
    while (!m_network.empty() && m_plugged && StoreIncoming(m_network.front()))
        m_network.pop_front();
}

// A modem of another family holds the same messages in memories of its own sizes:
// each goes to the lowest free index of its kind of memory (the receiving one when
// the new family has none of that kind); what does not fit waits at the network.
void SimModem::Rehome()
{
    std::vector<Slot> all;
    for (const Slot& s : m_sim)
        if (s.used)
            all.push_back(s);
    for (const Slot& s : m_phone)
        if (s.used)
            all.push_back(s);
    m_sim.assign(static_cast<size_t>(m_family->simSize), Slot{});
    m_phone.assign(static_cast<size_t>(m_family->phoneSize), Slot{});
    const Medium receiving = MediumOf(m_family->mem3).value_or(Medium::Sim);
    std::deque<Waiter> overflow;
    for (Slot& s : all) {
        const Medium medium = Store(s.sms.medium).empty() ? receiving : s.sms.medium;
        auto& store = Store(medium);
        const auto free = std::find_if(store.begin(), store.end(), [](const Slot& x) { return !x.used; });
        if (free == store.end()) {
            overflow.push_back(Waiter{s.sms.number, s.sms.text, s.sms.stamp, s.sms.coding, s.sms.part});
            continue;
        }
        s.sms.medium = medium;
        s.sms.index = static_cast<int>(free - store.begin()) + 1;
        s.announced.reset();
        *free = s;
    }
    m_network.insert(m_network.begin(), overflow.begin(), overflow.end());
}

// ---------------------------------------------------------------- control side

Delivery SimModem::StoreSms(std::string number, std::string text)
{
    const kv::sms::Coding coding = CodingFor(text);
    return Arrive(Waiter{std::move(number), std::move(text), StampNow(), coding, std::nullopt});
}

Delivery SimModem::StorePart(std::string number, std::string text, std::optional<kv::sms::Coding> coding,
                             kv::sms::Concat concat)
{
    const kv::sms::Coding c = coding.value_or(CodingFor(text));
    return Arrive(Waiter{std::move(number), std::move(text), StampNow(), c, concat});
}

std::optional<std::vector<Delivery>> SimModem::StoreLongSms(std::string number, std::string text,
                                                            std::optional<kv::sms::Coding> coding, bool wideReference,
                                                            std::optional<unsigned> reference,
                                                            const std::vector<int>& order)
{
    const std::u16string units = Utf8ToUnits(text);
    const kv::sms::Coding c = coding.value_or(CodingFor(text));
    const std::vector<std::u16string> parts = kv::sms::SplitForSms(units, c, wideReference);
    if (parts.size() > 255)
        return std::nullopt;
    std::vector<int> numbers = order;
    if (numbers.empty())
        for (size_t n = 1; n <= parts.size(); ++n)
            numbers.push_back(static_cast<int>(n));
    if (std::any_of(numbers.begin(), numbers.end(), [&](int n) { return n < 1 || n > static_cast<int>(parts.size()); }))
        return std::nullopt;
    const unsigned mask = wideReference ? 0xFFFF : 0xFF;
    if (!reference) {
        reference = m_nextPartReference & mask;
        m_nextPartReference = (m_nextPartReference + 1) & 0xFFFF;
    }
    std::vector<Delivery> deliveries;
    for (const int n : numbers)
        deliveries.push_back(StorePart(number, UnitsToUtf8(parts[static_cast<size_t>(n - 1)]), c,
                                       kv::sms::Concat{*reference & mask, wideReference,
                                                       static_cast<unsigned>(parts.size()), static_cast<unsigned>(n)}));
    return deliveries;
}

Delivery SimModem::Arrive(Waiter message)
{
    // Later messages queue behind those already waiting, as the network keeps order.
    if (m_network.empty()) {
        if (const auto index = StoreIncoming(message))
            return Delivery{true, *index};
    }
    if (m_network.size() < kMaxWaiting)
        m_network.push_back(std::move(message));
    return Delivery{false, 0};
}

std::vector<StoredSms> SimModem::Messages() const
{
    std::vector<StoredSms> list;
    for (const auto* store : {&m_sim, &m_phone})
        for (const Slot& slot : *store)
            if (slot.used)
                list.push_back(slot.sms);
    return list;
}

std::vector<std::pair<std::string, std::string>> SimModem::Waiting() const
{
    std::vector<std::pair<std::string, std::string>> list;
    for (const Waiter& w : m_network)
        list.emplace_back(w.number, w.text);
    return list;
}

std::vector<std::string> SimModem::Settings() const
{
    std::string cnmi;
    for (const int v : m_cnmi)
        cnmi += (cnmi.empty() ? "" : ",") + std::to_string(v);
    return {"family " + std::string(m_family->name),
            "next-family " + std::string(m_nextFamily->name),
            std::string("echo ") + (m_echo ? "on" : "off"),
            std::string("cmgf ") + (m_textMode ? "1" : "0"),
            "cscs " + m_charset,
            "cmee " + std::to_string(m_cmee),
            "cnmi " + cnmi,
            "cpms " + m_mem[0] + "," + m_mem[1] + "," + m_mem[2],
            std::string("clip ") + (m_clip ? "1" : "0"),
            std::string("crc ") + (m_crc ? "1" : "0"),
            std::string("csdh ") + (m_csdh ? "1" : "0"),
            std::string("indications ") + (m_indications ? "on" : "off"),
            std::string("noise ") + (m_noise ? "on" : "off"),
            "waiting " + std::to_string(m_network.size())};
}

std::vector<std::string> SimModem::TakeSentLines()
{
    std::vector<std::string> lines(m_sentLines.begin(), m_sentLines.end());
    m_sentLines.clear();
    return lines;
}

// ---------------------------------------------------------------- family forms

std::string SimModem::Join(const std::vector<std::string>& fields) const
{
    std::string out;
    for (size_t i = 0; i < fields.size(); ++i)
        out += (i ? (m_family->blanks ? ", " : ",") : "") + fields[i];
    return out;
}

std::string SimModem::Quoted(std::string_view utf8) const { return "\"" + ModemText(utf8) + "\""; }

std::string SimModem::NumberField(const std::string& number, bool hex) const
{
    return "\"" + (hex && m_charset == "UCS2" ? Utf8ToUcs2Hex(number) : Utf8ToIra(number)) + "\"";
}

// The phonebook name of a number, or the family's form of an empty alpha
// (empty for Nothing and Omitted).
std::string SimModem::AlphaOf(const std::string& number, EmptyAlpha empty) const
{
    const auto contact = m_contacts.find(number);
    if (contact != m_contacts.end())
        return Quoted(contact->second);
    return empty == EmptyAlpha::Quoted ? "\"\"" : "";
}

std::string SimModem::StampField(const std::string& stamp) const
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, zone = 0;
    char sign = '+';
    if (std::sscanf(stamp.c_str(), "%2d/%2d/%2d,%2d:%2d:%2d%c%d", &y, &mo, &d, &h, &mi, &s, &sign, &zone) != 8 ||
        (sign != '+' && sign != '-'))
        return "\"" + stamp + "\"";
    char buf[48];
    if (m_family->longYear)
        std::snprintf(buf, sizeof buf, "\"%d/%d/%d,%02d:%02d:%02d\"", 2000 + y, mo, d, h, mi, s);
    else if (m_family->zoneUnpadded)
        std::snprintf(buf, sizeof buf, "\"%02d/%02d/%02d,%02d:%02d:%02d%c%d\"", y, mo, d, h, mi, s, sign, zone);
    else
        std::snprintf(buf, sizeof buf, "\"%02d/%02d/%02d,%02d:%02d:%02d%c%02d\"", y, mo, d, h, mi, s, sign, zone);
    return buf;
}

std::string SimModem::MessageHeader(const StoredSms& sms, bool list) const
{
    std::vector<std::string> fields = {"\"" + sms.status + "\"", NumberField(sms.number, m_family->numberHex)};
    const std::string alpha = AlphaOf(sms.number, m_family->emptyAlpha);
    if (m_family->emptyAlpha != EmptyAlpha::Omitted || !alpha.empty())
        fields.push_back(alpha);
    fields.push_back(StampField(sms.stamp));
    if (m_csdh) {
        const bool international = !sms.number.empty() && sms.number.front() == '+';
        const bool header = sms.part && !m_family->dropsPartHeader;
        // <length> is TP-UDL: septets or octets, the header included where it is shown.
        const int length =
            kv::sms::EncodeUserData(sms.coding, OneSmsOf(Utf8ToUnits(sms.text), sms.coding),
                                    header ? sms.part : std::nullopt)
                .length;
        const std::string tooa = international ? "145" : "129";
        if (list) {
            fields.push_back(tooa);
        } else {
            const int dcs = sms.coding == kv::sms::Coding::Ucs2 ? 8 : sms.coding == kv::sms::Coding::Eight ? 4 : 0;
            for (std::string f : {tooa, std::string(header ? "68" : "4"), std::string("0"), std::to_string(dcs),
                                  NumberField(std::string(kServiceCentre), m_family->numberHex), std::string("145")})
                fields.push_back(std::move(f));
        }
        fields.push_back(std::to_string(length));
    }
    return Join(fields);
}

std::string SimModem::PduHeader(const StoredSms& sms) const
{
    const auto contact = m_contacts.find(sms.number);
    const std::string alpha = contact != m_contacts.end()        ? Quoted(contact->second)
                              : m_family->emptyAlpha == EmptyAlpha::Quoted ? "\"\""
                                                                           : "";
    return Join({std::to_string(StatusNumber(sms.status)), alpha, std::to_string(kv::sms::TpduLength(PduOf(sms)))});
}

std::string SimModem::PduOf(const StoredSms& sms) const
{
    std::u16string units = Utf8ToUnits(sms.text);
    if (!sms.part)
        units = OneSmsOf(units, sms.coding);
    // The sender as the station's text: digits, or an alphanumeric name.
    return kv::sms::EncodeDeliverPdu(kServiceCentre, kv::sms::Utf16ToStationText(Utf8ToUnits(sms.number)), sms.stamp,
                                     sms.coding, units, sms.part);
}

std::vector<SentSms> SimModem::SentTexts() const
{
    std::vector<SentSms> texts;
    std::vector<bool> taken(m_outbox.size(), false);
    for (size_t i = 0; i < m_outbox.size(); ++i) {
        if (taken[i])
            continue;
        const SentSms& first = m_outbox[i];
        if (!first.part) {
            texts.push_back(first);
            continue;
        }
        const auto sameSet = [&](const SentSms& s) {
            return s.part && s.number == first.number && s.part->reference == first.part->reference &&
                   s.part->wide == first.part->wide && s.part->total == first.part->total;
        };
        std::vector<std::optional<size_t>> parts(first.part->total);
        for (size_t j = i; j < m_outbox.size(); ++j)
            if (sameSet(m_outbox[j]) && !parts[m_outbox[j].part->part - 1])
                parts[m_outbox[j].part->part - 1] = j;
        if (std::any_of(parts.begin(), parts.end(), [](const auto& p) { return !p; })) {
            texts.push_back(first);
            continue;
        }
        SentSms whole{first.reference, first.charset, first.number, {}, std::nullopt};
        for (const auto& p : parts) {
            whole.text += m_outbox[*p].text;
            taken[*p] = true;
        }
        // A part sent twice is one send of it.
        for (size_t j = i; j < m_outbox.size(); ++j)
            if (sameSet(m_outbox[j]))
                taken[j] = true;
        texts.push_back(std::move(whole));
    }
    return texts;
}

std::string SimModem::TakeUrcInBody()
{
    if (!m_urcInBody)
        return {};
    std::string code = "\r\n" + *m_urcInBody + "\r\n";
    m_urcInBody.reset();
    return code;
}

std::string SimModem::MessageBody(const StoredSms& sms) const
{
    const std::string padding(static_cast<size_t>(m_family->bodyPadding), ' ');
    // A part shows its user data as hex, the header in front (7-bit text packed
    // after its fill bits), whatever the character set.
    if (sms.part && !m_family->dropsPartHeader)
        return HexOf(kv::sms::EncodeUserData(sms.coding, Utf8ToUnits(sms.text), sms.part).octets) + padding;
    return ModemText(sms.text) + padding;
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
