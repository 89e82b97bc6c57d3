#pragma once
// The second layer of a modem's dialogue, shared by both workers: the reply to
// the command in flight gathered from the line reader, and the tables that act
// on it, one row per recognised reply keyed by the command and how its reply
// ended, and one row per unsolicited code.
#include "modem/LineReader.h"

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// What a command line is, for the dispatch.
enum class AtCommand {
    Any, Other, LinkTest, Signal, Memory, Storage, List, Read, Delete, TextMode, HeaderFields, Charset,
    TextParams, IndicationsTest, Indications, SendCommand, SendText, ListCalls, Answer, HangUp, Dial, Ussd,
};
// How its reply ended.
enum class ReplyEnd { Any, Ok, Error, Prompt, Busy, NoCarrier, NoAnswer, Timeout, Incomplete };

AtCommand CommandOf(std::string_view line);
ReplyEnd EndOf(const ModemLine& final);

struct ModemReply {
    std::string command; // as written
    AtCommand cmd = AtCommand::Other;
    ReplyEnd end = ReplyEnd::Timeout;
    std::string finalText;
    std::vector<ModemLine> lines; // the reply's own lines, bodies attached
    std::string raw;              // its bytes, the unsolicited ones left out
    bool damaged = false;         // the buffer lost bytes in the middle of it
};

// The first line that starts with `prefix`.
const ModemLine* LineStarting(const std::vector<ModemLine>& lines, std::string_view prefix);

// One look at the receive buffer: the echo, lines and final result of the
// command the reader expects go into `reply`, every other whole line to
// `unsolicited`. Once the final result (or the prompt) is in, the reader
// expects nothing more and what followed it goes to `unsolicited` too.
// Returns whether the reply is complete.
bool ReadReply(TLineReader& reader, std::string& buffer, ModemReply& reply,
               const std::function<void(const ModemLine&)>& unsolicited);

template <class Owner>
struct ReplyRow {
    AtCommand cmd;
    ReplyEnd end;
    void (Owner::*handle)(const ModemReply& reply);

    bool Takes(const ModemReply& reply) const
    {
        return (cmd == AtCommand::Any || cmd == reply.cmd) && (end == ReplyEnd::Any || end == reply.end);
    }
};

template <class Owner>
struct UnsolicitedRow {
    // A code ending in ':' matches the start of a line, any other the whole line.
    std::string_view code;
    void (Owner::*handle)(const ModemLine& line);

    bool Takes(const ModemLine& line) const
    {
        return code.back() == ':' ? line.text.starts_with(code) : line.text == code;
    }
};

// The first row that takes `item` (the rows are checked in their order), or none.
template <class Row, class Item>
const Row* RowFor(std::span<const Row> rows, const Item& item)
{
    for (const Row& row : rows)
        if (row.Takes(item))
            return &row;
    return nullptr;
}

} // namespace kv
