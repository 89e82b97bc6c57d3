#pragma once
// The first layer of a modem's dialogue, for both workers: splits what the
// modem sent into result lines and tells the reply to the command in flight
// (its echo, its own lines, its final result or the SMS prompt) from the
// unsolicited codes that can come at any moment, before the echo, between a
// reply's lines or after it.
//
// Tolerant of "\r\r\n" and bare "\n" line ends, blanks around a line, a double
// echo or none, the "> " prompt without a line end, and a bare LF inside a
// quoted text (some modems break a USSD text that way). The line after a
// message header (+CMGR, +CMGL, +CMT) is that message's body, whatever it
// looks like; under the UCS2 character set only a line of hex digits (or an
// empty line) can be one, and a code sent between a header and its body is
// taken as the code it is.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

enum class LineKind {
    Echo,        // the command in flight, as the modem repeated it
    Reply,       // a line of the reply to the command in flight
    Final,       // the final result of the command in flight
    Prompt,      // "> ": the modem waits for an SMS text
    Unsolicited, // anything outside a reply: codes of the vocabulary or not
};

struct ModemLine {
    LineKind kind = LineKind::Reply;
    std::string text;                // without line ends and surrounding blanks
    std::optional<std::string> body; // the line after a message header
    std::string raw;                 // the bytes it took, blank lines before it included
};

// The final results of 27.007 and 27.005 ("OK", "ERROR", "+CMS ERROR: ...",
// "+CME ERROR: ..."), and for a call the ones that end a dialling.
enum class FinalResult { None, Ok, Error, Busy, NoCarrier, NoAnswer, Connect };
FinalResult FinalResultOf(std::string_view line, bool calling);

// RING, +CMTI, +CLIP, +CUSD, +CIEV, +CREG, network time and the other codes a
// modem sends on its own (prefixes of the vocabulary).
bool IsUnsolicitedCode(std::string_view line);

// "+CSQ:" for "AT+CSQ\r", "+CMGS:" for an SMS text, empty for "ATD...".
std::string ReplyPrefixOf(std::string_view command);

class TLineReader {
public:
    // The command now in flight, as it was written (empty: none). The reader
    // starts looking for its reply.
    void Expect(std::string_view command);
    // The modem writes texts as UCS2 hex: a body is hex digits or nothing.
    void SetUcs2Bodies(bool on) { m_ucs2Bodies = on; }
    // Takes the complete lines from the front of `bytes`, up to and including
    // the final result of the command in flight; the rest stays in `bytes`
    // (more lines, or a line still arriving).
    std::vector<ModemLine> Take(std::string& bytes);
    // The final result (or the prompt) has been taken.
    bool Done() const { return m_done; }
    // The reply is over without its end: a line it left half-sent goes.
    void DropPartial(std::string& bytes);
    // The receive buffer lost bytes at its front: the first line is not whole.
    void Resync(std::string& bytes);

private:
    std::optional<std::size_t> LineEnd(std::string_view bytes, std::size_t from) const;
    bool PromptAt(std::string_view bytes, std::size_t from, std::size_t& end) const;
    LineKind Classify(const std::string& text);
    static bool HasBody(std::string_view text);
    // Under UCS2: whether `text` settles the header waiting for its body.
    bool TakeUcs2Body(std::string& text, std::string_view raw, std::vector<ModemLine>& out);
    void FinishHeader(std::vector<ModemLine>& out);

    std::string m_command; // without its final CR
    std::string m_prefix;
    bool m_active = false;
    bool m_calling = false;
    bool m_sending = false;
    bool m_done = false;
    std::optional<ModemLine> m_header; // waits for its body
    bool m_ucs2Bodies = false;
    // Under UCS2, what came after the header so far: a blank line (an empty
    // body, unless hex follows), and a line that is neither hex nor a code
    // (the body of a damaged message, unless hex follows).
    bool m_headerBlank = false;
    std::optional<ModemLine> m_oddLine;
};

} // namespace kv
