#include "modem/LineReader.h"

#include "codec/Ucs2.h"
#include "data/Text.h"
#include "modem/AtFields.h"

#include <algorithm>
#include <array>

namespace kv {

namespace {

constexpr char kCtrlZ = '\x1A';

// Codes a modem sends on its own, by the start of their line. Lines starting
// with '^' (one maker's private codes) are all of this kind.
constexpr std::array kUnsolicitedPrefixes = {
    std::string_view("+CMTI:"),  std::string_view("+CMT:"),    std::string_view("+CDSI:"),
    std::string_view("+CDS:"),   std::string_view("+CBM:"),    std::string_view("+CBMI:"),
    std::string_view("+CRING:"), std::string_view("+CLIP:"),   std::string_view("+CCWA:"),
    std::string_view("+COLP:"),  std::string_view("+CUSD:"),   std::string_view("+CREG:"),
    std::string_view("+CGREG:"), std::string_view("+CEREG:"),  std::string_view("+CIEV:"),
    std::string_view("+CTZV:"),  std::string_view("+CTZE:"),   std::string_view("+CTZU:"),
    std::string_view("*PSUTTZ:"), std::string_view("DST:"),    std::string_view("+CPIN:"),
    std::string_view("+CFUN:"),  std::string_view("+CME ERROR:"), std::string_view("+CMS ERROR:"),
    std::string_view("+CSQN:"),  std::string_view("+QIND:"),   std::string_view("+SIND:"),
    std::string_view("+WIND:"),  std::string_view("+STIN:"),   std::string_view("+CALV:"),
    std::string_view("+PBREADY"), std::string_view("UNDER-VOLTAGE"), std::string_view("OVER-VOLTAGE"),
};
constexpr std::array kUnsolicitedWords = {
    std::string_view("RING"),       std::string_view("NO CARRIER"), std::string_view("BUSY"),
    std::string_view("NO ANSWER"),  std::string_view("NO DIALTONE"), std::string_view("RDY"),
    std::string_view("Call Ready"), std::string_view("SMS Ready"),  std::string_view("PB DONE"),
    std::string_view("NORMAL POWER DOWN"),
};

} // namespace

FinalResult FinalResultOf(std::string_view line, bool calling)
{
    if (line == "OK")
        return FinalResult::Ok;
    if (line == "ERROR" || line.starts_with("+CMS ERROR") || line.starts_with("+CME ERROR")
        || line == "COMMAND NOT SUPPORT")
        return FinalResult::Error;
    if (!calling)
        return FinalResult::None;
    if (line == "BUSY")
        return FinalResult::Busy;
    if (line == "NO CARRIER")
        return FinalResult::NoCarrier;
    if (line == "NO ANSWER" || line == "NO DIALTONE" || line == "NO DIAL TONE")
        return FinalResult::NoAnswer;
    if (line.starts_with("CONNECT"))
        return FinalResult::Connect;
    return FinalResult::None;
}

bool IsUnsolicitedCode(std::string_view line)
{
    if (line.starts_with('^'))
        return true;
    for (std::string_view word : kUnsolicitedWords)
        if (line == word)
            return true;
    for (std::string_view prefix : kUnsolicitedPrefixes)
        if (line.starts_with(prefix))
            return true;
    return false;
}

std::string ReplyPrefixOf(std::string_view command)
{
    while (!command.empty() && command.back() == '\r')
        command.remove_suffix(1);
    if (!command.empty() && command.back() == kCtrlZ)
        return "+CMGS:";
    if (command.size() < 4 || !(command.starts_with("AT+") || command.starts_with("AT^")))
        return {};
    const std::string_view name = command.substr(2);
    const std::size_t end = name.find_first_of("=?;");
    return std::string(name.substr(0, end)) + ":";
}

void TLineReader::Expect(std::string_view command)
{
    std::string_view c = command;
    while (!c.empty() && c.back() == '\r')
        c.remove_suffix(1);
    m_command = std::string(TrimBlanksAndBreaks(c));
    m_prefix = ReplyPrefixOf(command);
    m_active = !m_command.empty();
    m_calling = c.starts_with("ATD") || c == "ATA";
    m_sending = c.starts_with("AT+CMGS=");
    m_done = false;
}

std::optional<std::size_t> TLineReader::LineEnd(std::string_view bytes, std::size_t from) const
{
    bool quoted = false;
    for (std::size_t i = from; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '"')
            quoted = !quoted;
        else if (c == '\n' && (!quoted || (i > from && bytes[i - 1] == '\r')))
            return i;
    }
    return std::nullopt;
}

bool TLineReader::PromptAt(std::string_view bytes, std::size_t from, std::size_t& end) const
{
    std::size_t p = from;
    while (p < bytes.size() && (bytes[p] == '\r' || bytes[p] == '\n' || bytes[p] == ' '))
        ++p;
    if (p >= bytes.size() || bytes[p] != '>')
        return false;
    end = p + 1;
    if (end < bytes.size() && bytes[end] == ' ')
        ++end;
    return true;
}

bool TLineReader::HasBody(std::string_view text)
{
    const bool read = text.starts_with("+CMGR:");
    const bool list = text.starts_with("+CMGL:");
    if (text.starts_with("+CMT:"))
        return true;
    if (!read && !list)
        return false;
    const std::vector<AtField> fields = SplitAtFields(AtArguments(text));
    const std::size_t stat = list ? 1 : 0;
    if (stat < fields.size() && fields[stat].quoted)
        return true; // text mode: "REC UNREAD", "REC READ", ...
    // PDU mode: <stat>,[<alpha>],<length>; a length of 0 ("+CMGR: 0,,0") is an empty index.
    const std::optional<int> length = AtFieldInt(fields, stat + 2);
    return length && *length > 0;
}

LineKind TLineReader::Classify(const std::string& text)
{
    if (!m_active || m_done)
        return LineKind::Unsolicited;
    if (text == m_command)
        return LineKind::Echo;
    if (FinalResultOf(text, m_calling) != FinalResult::None)
        return LineKind::Final;
    if (!m_prefix.empty() && text.starts_with(m_prefix))
        return LineKind::Reply;
    if (IsUnsolicitedCode(text))
        return LineKind::Unsolicited;
    return LineKind::Reply;
}

std::vector<ModemLine> TLineReader::Take(std::string& bytes)
{
    std::vector<ModemLine> out;
    std::size_t pos = 0;
    std::size_t blanks = 0; // bytes of blank lines not yet given to a line
    while (!(m_active && m_done)) {
        std::size_t end = 0;
        if (m_sending && m_active && !m_header && PromptAt(bytes, pos, end)) {
            out.push_back({LineKind::Prompt, ">", std::nullopt, bytes.substr(pos - blanks, end - pos + blanks)});
            pos = end;
            blanks = 0;
            m_done = true;
            break;
        }
        const std::optional<std::size_t> lineEnd = LineEnd(bytes, pos);
        if (!lineEnd)
            break;
        const std::string_view raw = std::string_view(bytes).substr(pos, *lineEnd + 1 - pos);
        const std::size_t start = pos - blanks;
        pos = *lineEnd + 1;
        std::string text(TrimBlanksAndBreaks(raw));
        if (m_header && m_ucs2Bodies) {
            if (TakeUcs2Body(text, bytes.substr(start, pos - start), out)) {
                blanks = 0;
                continue;
            }
            // A final result or the next header: the waiting header is finished.
            FinishHeader(out);
        } else if (m_header) {
            m_header->body = std::move(text);
            m_header->raw += bytes.substr(start, pos - start);
            out.push_back(std::move(*m_header));
            m_header.reset();
            blanks = 0;
            continue;
        }
        if (text.empty()) {
            blanks += raw.size();
            continue;
        }
        ModemLine line{Classify(text), std::move(text), std::nullopt, bytes.substr(start, pos - start)};
        blanks = 0;
        if ((line.kind == LineKind::Reply || line.kind == LineKind::Unsolicited) && HasBody(line.text)) {
            m_header = std::move(line);
            continue;
        }
        const bool final = line.kind == LineKind::Final;
        out.push_back(std::move(line));
        if (final) {
            m_done = true;
            break;
        }
    }
    bytes.erase(0, pos - blanks);
    return out;
}

bool TLineReader::TakeUcs2Body(std::string& text, std::string_view raw, std::vector<ModemLine>& out)
{
    if (text.empty()) {
        m_header->raw += raw;
        m_headerBlank = true;
        return true;
    }
    const bool hex = std::all_of(text.begin(), text.end(), [](char c) { return HexDigitValue(c) >= 0; });
    if (hex) {
        // What came before it was noise on the line, not the body.
        if (m_oddLine)
            out.push_back(std::move(*m_oddLine));
        m_oddLine.reset();
        m_header->body = std::move(text);
        m_header->raw += raw;
        out.push_back(std::move(*m_header));
        m_header.reset();
        m_headerBlank = false;
        return true;
    }
    const bool final = m_active && !m_done && FinalResultOf(text, m_calling) != FinalResult::None;
    if (final || HasBody(text))
        return false;
    if (IsUnsolicitedCode(text)) {
        // A RING or a +CMTI between a header and its body: the body is still to come.
        out.push_back({LineKind::Unsolicited, std::move(text), std::nullopt, std::string(raw)});
        return true;
    }
    if (m_oddLine)
        out.push_back(std::move(*m_oddLine));
    m_oddLine = ModemLine{LineKind::Unsolicited, std::move(text), std::nullopt, std::string(raw)};
    return true;
}

void TLineReader::FinishHeader(std::vector<ModemLine>& out)
{
    if (m_oddLine) {
        // No hex came: the odd line was the body, and the message is damaged.
        m_header->body = std::move(m_oddLine->text);
        m_header->raw += m_oddLine->raw;
        out.push_back(std::move(*m_header));
    } else if (m_headerBlank) {
        m_header->body = std::string();
        out.push_back(std::move(*m_header));
    }
    // A header with no line at all after it is no message read: it is left in
    // the SIM for the next read rather than taken as an empty text.
    m_header.reset();
    m_oddLine.reset();
    m_headerBlank = false;
}

void TLineReader::DropPartial(std::string& bytes)
{
    bytes.clear();
    m_header.reset();
    m_oddLine.reset();
    m_headerBlank = false;
}

void TLineReader::Resync(std::string& bytes)
{
    const std::size_t newline = bytes.find('\n');
    bytes.erase(0, newline == std::string::npos ? bytes.size() : newline + 1);
    m_header.reset();
    m_oddLine.reset();
    m_headerBlank = false;
}

} // namespace kv
