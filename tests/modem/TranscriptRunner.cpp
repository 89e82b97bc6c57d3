// Modem 1 transcripts: tests/modem/transcripts/*.txt, one exchange per file, each
// its own CTest case (CMake globs the folder). A new modem quirk is a new file.
//
// Format. The file is UTF-8 and is turned into code page 1251 line by line; then
// \r \n \t \\ and \xHH stand for their bytes. Blank lines and lines starting with
// '#' are comments. Directives run top to bottom on modem 1's worker in virtual
// time (the worker starts at 0 ms; its first pass ends its sleep at 500 ms):
//   device <number> <short name>      an entry of the register's lookup table
//   flag <SmsSending|UssdPending|LinkLost> <0|1>
//   smsindex <n>
//   portfail <write|open>             the port fails its writes / its opening
//   journal <durable|written|fail>    how the journal takes rows from now on: on
//                                     disk ("synced" follows the row), logged but
//                                     not yet on disk (tag pending), or not at all
//   journal settle                    a later sync covers every pending row
//   hostfail <kind>                   the next host call of that kind ("findname",
//                                     "techno", "event", ...) fails
//   restart                           a new worker, as after the station was
//                                     killed: same modem, port, journal (with
//                                     the tags of its rows) and parts file
//   multipartwait <seconds>           how long the worker waits for missing parts
//   partsfile <bytes>                 the parts file holds these bytes (before a restart)
//   stored <n>                        the parts file on disk holds n waiting parts
// Unless the transcript answers them itself, the modem refuses "AT+CMGF=0" (it
// has no PDU mode) and takes "AT+CSDH=1".
//   queue <line>                      the station queues a command line now
//   sendsms <number> <text>           a device command queued as the card does (SendSms)
//   escalate <number> <text> || <one-SMS form>
//                                     an escalation queued as the desk does (SendUcs2Sms);
//                                     its outcome is logged as "outcome sent|failed"
//   pdus <n> <text>                   the PDUs sent so far are n parts of one message,
//                                     each after its "AT+CMGS=<length>", that join to <text>
//   on <line> => <reply>              the modem answers the next write of <line>
//   always <line> => <reply>          ... and every later one
//       A <line> ending in '*' matches every line that starts with it. A <reply>
//       is one or more pieces "[+<ms> ]<bytes>" joined by " ;; ", each sent <ms>
//       after the write (at once when omitted; write "+0 " before bytes that
//       themselves start with '+' and a digit). An empty reply is silence.
//   rx <ms> <bytes>                   unsolicited modem bytes at virtual time <ms>
//   run <ms>                          worker passes until virtual time reaches <ms>
//   expect [@<from>-<to>] <entry>     the next such entry after the one the previous
//                                     expect found, optionally within that time
//   never <entry>                     no such entry so far
//   count <n> <entry>                 exactly n such entries so far
//   state <SmsSending|UssdPending|LinkLost|SmsIndex|Queue> <value>
// An <entry> ending in '*' stands for every entry that starts with it.
// Entries are what the worker did, in order: "sent <line>", "open", "close",
// "techno <red|green|blue|navy|orange> <text>", "event <status> | <tel> | <event>",
// "signal <level>", "findname <number>", "guard <name> <code>", "info <name> <code>",
// "buttons on", "statusedit <text>", "linktext <text>", "balance <text>",
// "linklost", "warning <text>", "sound <Alarm|On|Off|SmsInfo>", "synced",
// "eventfailed <status> | <tel> | <event>", "alarmmark <name>".
#include "codec/SmsPdu.h"
#include "data/SmsParts.h"
#include "modem/CommThread.h"
#include "modem/Modem.h"
#include "modem/SendSms.h"
#include "tests/support/CallLog.h"
#include "tests/support/Cp1251.h"
#include "tests/support/FakePort.h"
#include "tests/support/RecordingHost.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestClock.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace kv::test {
namespace {

std::string Unescape(const std::string& s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        switch (c) {
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case '\\': out += '\\'; break;
        case 'x':
            if (i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1]))
                && std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
                out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
                i += 2;
                break;
            }
            throw std::runtime_error("bad \\x escape");
        default: throw std::runtime_error(std::string("unknown escape \\") + c);
        }
    }
    return out;
}

// Station bytes made readable in a failure message.
std::string Printable(const std::string& cp1251)
{
    std::string out;
    for (const char ch : cp1251) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else if (c < 0x80) {
            out += ch;
        } else {
            try {
                out += Cp1251ToUtf8(std::string(1, ch));
            } catch (const std::exception&) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\x%02X", c);
                out += buf;
            }
        }
    }
    return out;
}

bool EntryMatches(const std::string& wanted, const std::string& entry)
{
    if (!wanted.empty() && wanted.back() == '*')
        return entry.starts_with(std::string_view(wanted).substr(0, wanted.size() - 1));
    return entry == wanted;
}

std::pair<std::string, std::string> SplitWord(const std::string& s)
{
    const std::size_t sp = s.find(' ');
    if (sp == std::string::npos)
        return {s, ""};
    return {s.substr(0, sp), s.substr(sp + 1)};
}

std::vector<FakePort::Piece> ParseReply(const std::string& text)
{
    std::vector<FakePort::Piece> pieces;
    std::size_t start = 0;
    for (;;) {
        const std::size_t sep = text.find(" ;; ", start);
        std::string piece = text.substr(start, sep == std::string::npos ? std::string::npos : sep - start);
        std::uint32_t delay = 0;
        if (piece.size() > 1 && piece[0] == '+' && std::isdigit(static_cast<unsigned char>(piece[1]))) {
            const std::size_t sp = piece.find(' ');
            const std::string digits = piece.substr(1, sp == std::string::npos ? std::string::npos : sp - 1);
            if (digits.find_first_not_of("0123456789") == std::string::npos) {
                delay = static_cast<std::uint32_t>(std::stoul(digits));
                piece = sp == std::string::npos ? std::string() : piece.substr(sp + 1);
            }
        }
        pieces.push_back({delay, Unescape(piece)});
        if (sep == std::string::npos)
            break;
        start = sep + 4;
    }
    return pieces;
}

class TranscriptTest : public ::testing::Test {
public:
    explicit TranscriptTest(std::filesystem::path path) : m_path(std::move(path)) {}

    void TestBody() override
    {
        std::ifstream in(m_path, std::ios::binary);
        ASSERT_TRUE(in) << "cannot read " << m_path;
        modem.Running = true;
        port.DeliverTo([this](const std::string& bytes) { modem.AppendReceived(bytes); });
        port.Otherwise("AT+CMGF=0\r", "AT+CMGF=0\r\r\nERROR\r\n");
        port.Otherwise("AT+CSDH=1\r", "AT+CSDH=1\r\r\nOK\r\n");
        StartWorker();

        std::string raw;
        int lineNo = 0;
        while (std::getline(in, raw)) {
            ++lineNo;
            if (!raw.empty() && raw.back() == '\r')
                raw.pop_back();
            if (raw.empty() || raw[0] == '#')
                continue;
            std::string line;
            try {
                line = Utf8ToCp1251(raw);
            } catch (const std::exception& e) {
                ADD_FAILURE_AT(m_path.string().c_str(), lineNo) << "not convertible to code page 1251: " << e.what();
                continue;
            }
            try {
                Run(line, lineNo);
            } catch (const std::exception& e) {
                ADD_FAILURE_AT(m_path.string().c_str(), lineNo) << e.what() << ": " << raw;
            }
        }
    }

private:
    void StartWorker()
    {
        worker.reset();
        modem.Running = true;
        worker = std::make_unique<TCommThread>(modem, port, host, clock, [] { return TileSaveResult::Saved; },
                                               folder.File(kSmsPartsFile));
        if (multipartWait)
            worker->SetMultipartWait(*multipartWait);
    }

    void Run(const std::string& line, int lineNo)
    {
        const auto [word, rest] = SplitWord(line);
        if (word == "device") {
            const auto [number, name] = SplitWord(rest);
            host.AddDevice(Unescape(number), Unescape(name));
        } else if (word == "flag") {
            const auto [name, value] = SplitWord(rest);
            Flag(name) = value == "1";
        } else if (word == "smsindex") {
            modem.SmsIndex = static_cast<std::uint16_t>(std::stoi(rest));
        } else if (word == "portfail") {
            if (rest == "write")
                port.FailWrites(true);
            else if (rest == "open")
                port.FailOpen(true);
            else
                throw std::runtime_error("portfail takes write or open");
        } else if (word == "journal") {
            if (rest == "durable")
                host.SetJournalWrite(JournalWrite::Durable);
            else if (rest == "written")
                host.SetJournalWrite(JournalWrite::Written);
            else if (rest == "fail")
                host.SetJournalWrite(std::nullopt);
            else if (rest == "settle")
                host.SettlePending();
            else
                throw std::runtime_error("journal takes durable, written, fail or settle");
        } else if (word == "hostfail") {
            host.FailNext(rest);
        } else if (word == "restart") {
            // What the killed station had queued and half-received is gone.
            while (modem.TakeCommand() || modem.TakeSend()) {
            }
            modem.ClearRx();
            modem.SmsSending = false;
            modem.UssdPending = false;
            modem.LinkLost = false;
            StartWorker();
        } else if (word == "multipartwait") {
            multipartWait = std::chrono::seconds(std::stoll(rest));
            worker->SetMultipartWait(*multipartWait);
        } else if (word == "partsfile") {
            WriteFileBytes(folder.File(kSmsPartsFile), Unescape(rest));
        } else if (word == "stored") {
            SmsPartStore store(folder.File(kSmsPartsFile));
            store.Load();
            std::size_t parts = 0;
            for (const auto& [id, set] : store.Waiting())
                parts += set.size();
            if (parts != std::stoul(rest))
                ADD_FAILURE_AT(m_path.string().c_str(), lineNo) << parts << " parts stored, not " << rest;
        } else if (word == "sendsms") {
            const auto [number, text] = SplitWord(rest);
            if (!SendSms(modem, Unescape(number), Unescape(text)))
                ADD_FAILURE_AT(m_path.string().c_str(), lineNo) << "not queued";
        } else if (word == "escalate") {
            const auto [number, texts] = SplitWord(rest);
            const std::size_t bar = texts.find(" || ");
            const std::string whole = Unescape(texts.substr(0, bar));
            const std::string oneSms = bar == std::string::npos ? std::string() : Unescape(texts.substr(bar + 4));
            const bool queued = SendUcs2Sms(
                modem, Unescape(number), whole, [this](bool sent) { log.Add(sent ? "outcome sent" : "outcome failed"); },
                oneSms);
            if (!queued)
                ADD_FAILURE_AT(m_path.string().c_str(), lineNo) << "not queued";
        } else if (word == "pdus") {
            const auto [n, text] = SplitWord(rest);
            CheckPdus(std::stoul(n), Unescape(text), lineNo);
        } else if (word == "queue") {
            EnqueueCommand(modem, Unescape(rest));
        } else if (word == "on" || word == "always") {
            const std::size_t arrow = rest.find(" => ");
            const std::string pattern = Unescape(arrow == std::string::npos ? rest : rest.substr(0, arrow));
            const std::string reply = arrow == std::string::npos ? std::string() : rest.substr(arrow + 4);
            if (word == "on")
                port.On(pattern, ParseReply(reply));
            else
                port.Always(pattern, ParseReply(reply));
        } else if (word == "rx") {
            const auto [ms, bytes] = SplitWord(rest);
            port.Inject(std::stoull(ms), Unescape(bytes));
        } else if (word == "run") {
            const std::uint64_t until = std::stoull(rest);
            while (clock.NowMs() < until)
                worker->Pass();
        } else if (word == "expect") {
            Expect(rest, lineNo);
        } else if (word == "never") {
            const std::string entry = Unescape(rest);
            if (Count(entry) != 0)
                ADD_FAILURE_AT(m_path.string().c_str(), lineNo) << "unexpected: " << Printable(entry) << Dump();
        } else if (word == "count") {
            const auto [n, entryText] = SplitWord(rest);
            const std::string entry = Unescape(entryText);
            if (Count(entry) != std::stoul(n))
                ADD_FAILURE_AT(m_path.string().c_str(), lineNo)
                    << Count(entry) << " times, not " << n << ": " << Printable(entry) << Dump();
        } else if (word == "state") {
            const auto [name, value] = SplitWord(rest);
            const std::string actual = name == "SmsIndex" ? std::to_string(modem.SmsIndex.load())
                                       : name == "Queue"  ? std::to_string(modem.PendingCount())
                                                          : std::string(Flag(name) ? "1" : "0");
            if (actual != value)
                ADD_FAILURE_AT(m_path.string().c_str(), lineNo) << name << " is " << actual << ", not " << value;
        } else {
            throw std::runtime_error("unknown directive '" + word + "'");
        }
    }

    std::atomic<bool>& Flag(const std::string& name)
    {
        if (name == "SmsSending")
            return modem.SmsSending;
        if (name == "UssdPending")
            return modem.UssdPending;
        if (name == "LinkLost")
            return modem.LinkLost;
        throw std::runtime_error("unknown flag " + name);
    }

    void Expect(const std::string& rest, int lineNo)
    {
        std::string text = rest;
        std::uint64_t from = 0;
        std::uint64_t to = UINT64_MAX;
        if (!text.empty() && text[0] == '@') {
            const auto [window, entryText] = SplitWord(text.substr(1));
            const std::size_t dash = window.find('-');
            from = std::stoull(window.substr(0, dash));
            to = dash == std::string::npos ? from : std::stoull(window.substr(dash + 1));
            text = entryText;
        }
        const std::string entry = Unescape(text);
        const std::vector<LogEntry> entries = log.Entries();
        for (std::size_t i = m_next; i < entries.size(); ++i) {
            if (!EntryMatches(entry, entries[i].text))
                continue;
            if (entries[i].ms < from || entries[i].ms > to)
                ADD_FAILURE_AT(m_path.string().c_str(), lineNo)
                    << "at " << entries[i].ms << " ms, not within " << from << "-" << to << ": " << Printable(entry);
            m_next = i + 1;
            return;
        }
        ADD_FAILURE_AT(m_path.string().c_str(), lineNo) << "missing, or out of order: " << Printable(entry) << Dump();
    }

    // Decodes what followed each "AT+CMGS=<length>" and joins the parts.
    void CheckPdus(std::size_t n, const std::string& text, int lineNo)
    {
        const std::vector<LogEntry> entries = log.Entries();
        std::vector<sms::Submit> parts;
        std::string command;
        for (const LogEntry& e : entries) {
            if (!e.text.starts_with("sent "))
                continue;
            const std::string line = e.text.substr(5);
            if (!command.empty() && !line.empty() && line.back() == '\x1A') {
                const std::string hex = line.substr(0, line.size() - 1);
                std::string why;
                const std::optional<sms::Submit> submit = sms::DecodeSubmitPdu(hex, &why);
                if (!submit) {
                    ADD_FAILURE_AT(m_path.string().c_str(), lineNo) << "not a SUBMIT PDU (" << why << "): " << hex;
                    return;
                }
                if ("AT+CMGS=" + std::to_string(sms::TpduLength(hex)) + "\r" != command)
                    ADD_FAILURE_AT(m_path.string().c_str(), lineNo) << Printable(command) << " does not give the length of " << hex;
                parts.push_back(*submit);
            }
            command = line.starts_with("AT+CMGS=") && line.find('"') == std::string::npos ? line : std::string();
        }
        if (parts.size() != n) {
            ADD_FAILURE_AT(m_path.string().c_str(), lineNo) << parts.size() << " PDUs sent, not " << n << Dump();
            return;
        }
        std::u16string joined;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            const std::optional<sms::Concat>& concat = parts[i].data.concat;
            if (n > 1 && (!concat || concat->total != n || concat->part != i + 1 ||
                          concat->reference != parts[0].data.concat->reference)) {
                ADD_FAILURE_AT(m_path.string().c_str(), lineNo) << "part " << i + 1 << " is not part " << i + 1 << " of " << n
                                                       << " with the first one's reference";
                return;
            }
            joined += parts[i].data.units;
        }
        if (sms::Utf16ToStationText(joined) != text)
            ADD_FAILURE_AT(m_path.string().c_str(), lineNo)
                << "the parts join to " << Printable(sms::Utf16ToStationText(joined)) << ", not " << Printable(text);
    }

    std::size_t Count(const std::string& entry) const
    {
        std::size_t n = 0;
        for (const LogEntry& e : log.Entries())
            n += EntryMatches(entry, e.text);
        return n;
    }

    std::string Dump() const
    {
        std::ostringstream out;
        out << "\nqueued:";
        for (const std::string& line : modem.PendingCommands())
            out << " " << Printable(line);
        out << "\nwhat the worker did:";
        std::size_t i = 0;
        for (const LogEntry& e : log.Entries())
            out << "\n" << (i++ == m_next ? "> " : "  ") << e.ms << " " << Printable(e.text);
        return out.str();
    }

    std::filesystem::path m_path;
    TempDir folder;
    std::optional<std::chrono::seconds> multipartWait;
    TestClock clock;
    CallLog log{&clock};
    FakePort port{&clock, &log};
    RecordingHost host{&log};
    TModem modem;
    std::unique_ptr<TCommThread> worker;
    std::size_t m_next = 0;
};

} // namespace
} // namespace kv::test

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::cerr << "usage: modem_transcripts <transcript.txt>\n";
        return 2;
    }
    // Absolute: each test works in a folder of its own.
    const std::filesystem::path path = std::filesystem::absolute(argv[1]);
    ::testing::RegisterTest("Transcript", path.stem().string().c_str(), nullptr, nullptr, __FILE__, __LINE__,
                            [path]() -> ::testing::Test* { return new kv::test::TranscriptTest(path); });
    return RUN_ALL_TESTS();
}
