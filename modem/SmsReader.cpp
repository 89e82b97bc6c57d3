#include "modem/SmsReader.h"

#include "codec/Ucs2.h"
#include "modem/AtFields.h"

namespace kv {

namespace {

bool IsPlainNumber(std::string_view s)
{
    std::size_t i = s.starts_with('+') ? 1 : 0;
    if (i == s.size())
        return false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (!((c >= '0' && c <= '9') || c == '*' || c == '#' || c == 'p' || c == 'P' || c == 'w' || c == 'W'))
            return false;
    }
    return true;
}

bool LooksLikeDate(std::string_view s) { return s.find('/') != std::string_view::npos; }

// Under the UCS2 set some modems give the status string as UCS2 hex too.
std::string StatusText(const AtField& field)
{
    if (field.quoted && IsPrintableUcs2Hex(field.text))
        return Ucs2HexToText(field.text);
    return field.text;
}

// The fields after <oa> in text mode: [<alpha>],<scts>[,<tooa>,...]. Some
// modems leave the alpha out altogether, so the time stamp is the first field
// that holds a date, and the number type the first number after it.
void ReadSenderFields(const std::vector<AtField>& fields, std::size_t numberAt, StoredMessage& m)
{
    m.numberField = AtFieldText(fields, numberAt);
    std::size_t i = numberAt + 1;
    for (; i < fields.size(); ++i) {
        if (LooksLikeDate(fields[i].text)) {
            m.timestamp = fields[i].text;
            ++i;
            break;
        }
    }
    if (i < fields.size() && !fields[i].quoted)
        m.numberType = AtFieldInt(fields, i);
    // +CMGR and +CMT under AT+CSDH=1: <tooa>,<fo>,<pid>,<dcs>,<sca>,<tosca>,<length>.
    // +CMGL gains only <tooa>,<length>, too few to be taken for these.
    if (i + 6 < fields.size()) {
        m.firstOctet = AtFieldInt(fields, i + 1);
        m.dcs = AtFieldInt(fields, i + 3);
    }
}

} // namespace

std::optional<MemoryState> ParseMemoryState(std::string_view line)
{
    const std::vector<AtField> fields = SplitAtFields(AtArguments(line));
    MemoryState state;
    // With names: "SM",used,total,"SM",used,total,...; the set form has none.
    const bool named = !fields.empty() && !AtFieldInt(fields, 0);
    const std::size_t first = named ? 1 : 0;
    const std::optional<int> used = AtFieldInt(fields, first);
    if (!used || *used < 0)
        return std::nullopt;
    state.used = *used;
    state.total = AtFieldInt(fields, first + 1).value_or(0);
    state.receiveUsed = state.used;
    state.receiveTotal = state.total;
    if (named) {
        state.readStorage = fields[0].text;
        state.receiveStorage = state.readStorage;
        if (fields.size() > 6 && fields[6].quoted) {
            state.receiveStorage = fields[6].text;
            state.receiveUsed = AtFieldInt(fields, 7).value_or(0);
            state.receiveTotal = AtFieldInt(fields, 8).value_or(0);
        }
    }
    return state;
}

std::optional<StoredMessage> ParseStoredMessage(const ModemLine& line)
{
    const std::string_view text = line.text;
    const bool list = text.starts_with("+CMGL:");
    const bool delivered = text.starts_with("+CMT:");
    if (!list && !delivered && !text.starts_with("+CMGR:"))
        return std::nullopt;
    const std::vector<AtField> fields = SplitAtFields(AtArguments(text));
    StoredMessage m;
    m.body = line.body.value_or(std::string());
    if (delivered) {
        // Text mode: <oa>,[<alpha>],<scts>; PDU mode: [<alpha>],<length>.
        m.status = "REC UNREAD";
        m.pdu = fields.empty() || !fields[0].quoted;
        if (!m.pdu)
            ReadSenderFields(fields, 0, m);
        return m;
    }
    std::size_t stat = 0;
    if (list) {
        const std::optional<int> index = AtFieldInt(fields, 0);
        if (!index || *index < 0)
            return std::nullopt;
        m.index = *index;
        stat = 1;
    }
    if (stat >= fields.size())
        return std::nullopt;
    if (!fields[stat].quoted) {
        // PDU mode: <stat>,[<alpha>],<length>; no length, or 0, is an empty index.
        const std::optional<int> length = AtFieldInt(fields, stat + 2);
        m.empty = !length || *length == 0;
        m.pdu = !m.empty;
        static constexpr std::string_view kStatuses[] = {"REC UNREAD", "REC READ", "STO UNSENT", "STO SENT"};
        const std::optional<int> status = AtFieldInt(fields, stat);
        if (m.pdu && status && *status >= 0 && *status < 4)
            m.status = kStatuses[*status];
        return m;
    }
    m.status = StatusText(fields[stat]);
    ReadSenderFields(fields, stat + 1, m);
    return m;
}

bool IsReceivedStatus(std::string_view status) { return status == "REC UNREAD" || status == "REC READ"; }

std::vector<StoredMessage> ParseStoredMessages(std::string reply, std::string_view command, bool ucs2)
{
    TLineReader reader;
    reader.Expect(command);
    reader.SetUcs2Bodies(ucs2);
    const std::string prefix = ReplyPrefixOf(command);
    std::vector<StoredMessage> messages;
    for (const ModemLine& line : reader.Take(reply)) {
        if (line.kind != LineKind::Reply || !line.text.starts_with(prefix))
            continue;
        if (std::optional<StoredMessage> m = ParseStoredMessage(line))
            messages.push_back(std::move(*m));
    }
    return messages;
}

std::optional<std::string> DecodeNumberField(std::string_view field, std::optional<int> type)
{
    std::string number;
    if (field.empty())
        return number;
    if (IsPrintableUcs2Hex(field))
        number = Ucs2HexToText(field);
    else if (IsPlainNumber(field))
        number = std::string(field);
    else
        return std::nullopt;
    if (type == 145 && !number.empty() && number.front() != '+' && IsPlainNumber(number))
        number.insert(number.begin(), '+');
    return number;
}

} // namespace kv
