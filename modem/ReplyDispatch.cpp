#include "modem/ReplyDispatch.h"

#include "modem/Commands.h"

namespace kv {

AtCommand CommandOf(std::string_view line)
{
    if (!line.empty() && line.back() == kCtrlZ)
        return AtCommand::SendText;
    struct Prefix {
        std::string_view start;
        AtCommand cmd;
    };
    using C = AtCommand;
    // Longer starts before the shorter ones they begin with.
    static constexpr Prefix kPrefixes[] = {
        {"AT\r", C::LinkTest},        {"AT+CSQ", C::Signal},       {"AT+CPMS?", C::Memory},
        {"AT+CPMS=", C::Storage},     {"AT+CMGL", C::List},        {"AT+CMGR=", C::Read},
        {"AT+CMGD=", C::Delete},      {"AT+CMGF", C::TextMode},    {"AT+CSDH", C::HeaderFields},
        {"AT+CSCS", C::Charset},
        {"AT+CSMP", C::TextParams},   {"AT+CNMI=?", C::IndicationsTest}, {"AT+CNMI=", C::Indications},
        {"AT+CMGS=", C::SendCommand}, {"AT+CLCC", C::ListCalls},   {"AT+CUSD=", C::Ussd},
        {"ATA", C::Answer},           {"ATH", C::HangUp},          {"ATD", C::Dial},
    };
    for (const Prefix& p : kPrefixes)
        if (line.starts_with(p.start))
            return p.cmd;
    return C::Other;
}

ReplyEnd EndOf(const ModemLine& final)
{
    if (final.kind == LineKind::Prompt)
        return ReplyEnd::Prompt;
    switch (FinalResultOf(final.text, true)) {
    case FinalResult::Ok:
    case FinalResult::Connect: return ReplyEnd::Ok;
    case FinalResult::Busy: return ReplyEnd::Busy;
    case FinalResult::NoCarrier: return ReplyEnd::NoCarrier;
    case FinalResult::NoAnswer: return ReplyEnd::NoAnswer;
    case FinalResult::Error:
    case FinalResult::None: break;
    }
    return ReplyEnd::Error;
}

const ModemLine* LineStarting(const std::vector<ModemLine>& lines, std::string_view prefix)
{
    for (const ModemLine& line : lines)
        if (line.text.starts_with(prefix))
            return &line;
    return nullptr;
}

bool ReadReply(TLineReader& reader, std::string& buffer, ModemReply& reply,
               const std::function<void(const ModemLine&)>& unsolicited)
{
    bool complete = false;
    for (ModemLine& line : reader.Take(buffer)) {
        switch (line.kind) {
        case LineKind::Unsolicited: unsolicited(line); break;
        case LineKind::Echo: reply.raw += line.raw; break;
        case LineKind::Reply:
            reply.raw += line.raw;
            reply.lines.push_back(std::move(line));
            break;
        case LineKind::Final:
        case LineKind::Prompt:
            reply.raw += line.raw;
            reply.end = EndOf(line);
            reply.finalText = line.text;
            complete = true;
            break;
        }
    }
    if (!complete)
        return false;
    // What follows the final result is not part of the reply.
    reader.Expect({});
    for (const ModemLine& line : reader.Take(buffer))
        unsolicited(line);
    return true;
}

} // namespace kv
