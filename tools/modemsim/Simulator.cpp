#include "tools/modemsim/Simulator.h"

#include "data/Text.h"
#include "tools/modemsim/Ucs2Hex.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace kv::modemsim {
namespace {

constexpr size_t kChunk = 4096;
// Bytes moved per port and pass, so that a flood never starves the control channel.
constexpr size_t kPassBudget = 64 * 1024;

const char* const kHelp[] = {
    "sms M NUMBER TEXT       a message arrives (TEXT may use \\n \\r \\\\ \\xNN): prints its index,",
    "                        or \"waiting\" when the SIM is full (stored once one is deleted)",
    "longsms M NUMBER [bits=8|16] [coding=gsm|ucs2] [ref=N] [order=3,1,2] TEXT",
    "                        a long text in parts (split as a phone does): prints each part's index",
    "                        in the order stored; order repeats a part or leaves one out",
    "part M NUMBER [bits=8|16] [coding=gsm|ucs2] REF TOTAL N TEXT",
    "                        one part of a concatenated message",
    "ring M NUMBER           incoming call: RING every 5 s until answered",
    "hangup M [NUMBER]       the far end hangs up: NO CARRIER",
    "dial M busy|nocarrier|noanswer|nodialtone|answer SECONDS [NUMBER] | dial M never [NUMBER]",
    "                        how the far end of ATD answers (all numbers, or one)",
    "urc M TEXT              an unsolicited line, when the modem's family lets one come",
    "urcbody M TEXT          an unsolicited line between the next read or listed header and its body",
    "noise M on|off          harmless unsolicited codes of the family at random moments",
    "family M [NAME]         the family from the next power-on (plug); without NAME: current and next",
    "indications M on|off    off: the modem has no new-message indications (AT+CNMI refused)",
    "refuse M cusd4|cme132   the next balance answer is a refusal",
    "contact M NUMBER NAME   a phonebook entry: NAME stands in the alpha of messages and calls",
    "error M                 ERROR for the next command",
    "errorall M on|off       ERROR for every command",
    "garbage M HEX           raw bytes now",
    "flood M BYTES           that many pseudo-random bytes",
    "split M on|off          replies byte by byte",
    "truncate M              the next reply cut in half",
    "silent M on|off         no echo, no replies",
    "echo M on|off",
    "signal M N",
    "balance M TEXT",
    "unplug M | plug M",
    "sim M | sent M | calls M | outbox M | network M | status M",
    "pdus M                  each stored message as PDU mode lists it: INDEX STATUS PDU",
    "texts M                 the texts sent, a concatenated send's parts joined",
    "quit",
};

Millis SteadyNow()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string_view NextToken(std::string_view& rest)
{
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t'))
        rest.remove_prefix(1);
    size_t end = 0;
    while (end < rest.size() && rest[end] != ' ' && rest[end] != '\t')
        ++end;
    const std::string_view token = rest.substr(0, end);
    rest.remove_prefix(end);
    return token;
}

std::string_view Remainder(std::string_view rest)
{
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t'))
        rest.remove_prefix(1);
    return rest;
}

bool ParseInteger(std::string_view s, long long lo, long long hi, long long& value)
{
    if (s.empty() || s.size() > 18)
        return false;
    const std::string text(s);
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end != text.c_str() + text.size() || v < lo || v > hi)
        return false;
    value = v;
    return true;
}

bool ParseSwitch(std::string_view s, bool& on)
{
    if (s == "on") {
        on = true;
        return true;
    }
    if (s == "off") {
        on = false;
        return true;
    }
    return false;
}

bool ParseHexBytes(std::string_view hex, std::string& bytes)
{
    if (hex.empty() || hex.size() % 2 != 0)
        return false;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = HexDigitValue(hex[i]);
        const int lo = HexDigitValue(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        bytes.push_back(static_cast<char>(hi * 16 + lo));
    }
    return true;
}

// The key=value options in front of a long message or part: bits, coding,
// ref and order. False on an unknown key or value.
struct PartOptions {
    bool wide = false;
    std::optional<kv::sms::Coding> coding;
    std::optional<unsigned> reference;
    std::vector<int> order;
};

bool TakePartOptions(std::string_view& rest, PartOptions& options)
{
    for (;;) {
        std::string_view scan = rest;
        const std::string_view token = NextToken(scan);
        const size_t eq = token.find('=');
        if (eq == std::string_view::npos)
            return true;
        const std::string_view key = token.substr(0, eq);
        const std::string_view value = token.substr(eq + 1);
        long long n = 0;
        if (key == "bits" && (value == "8" || value == "16")) {
            options.wide = value == "16";
        } else if (key == "coding" && (value == "gsm" || value == "ucs2")) {
            options.coding = value == "gsm" ? kv::sms::Coding::Gsm7 : kv::sms::Coding::Ucs2;
        } else if (key == "ref" && ParseInteger(value, 0, 65535, n)) {
            options.reference = static_cast<unsigned>(n);
        } else if (key == "order" && !value.empty()) {
            for (std::string_view list = value; !list.empty();) {
                const size_t comma = list.find(',');
                if (!ParseInteger(list.substr(0, comma), 1, 255, n))
                    return false;
                options.order.push_back(static_cast<int>(n));
                list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
            }
        } else {
            return false;
        }
        rest = scan;
    }
}

std::string DeliveryLine(const Delivery& delivery)
{
    return !delivery.stored ? "waiting" : delivery.index ? std::to_string(delivery.index) : "routed";
}

ControlReply Fail(std::string message)
{
    ControlReply reply;
    reply.ok = false;
    reply.error = "error " + std::move(message);
    return reply;
}

bool WriteAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                pollfd p{fd, POLLOUT, 0};
                ::poll(&p, 1, 1000);
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

} // namespace

Simulator::Simulator(SimulatorOptions options) : m_options(std::move(options))
{
    m_options.modems = std::clamp(m_options.modems, 1, kMaxModems);
    for (int i = 0; i < m_options.modems; ++i) {
        ModemOptions modemOptions = m_options.modem;
        if (m_options.family)
            modemOptions.family = m_options.family;
        modemOptions.seed = m_options.seed * 7919u + static_cast<std::uint32_t>(i);
        auto port = std::make_unique<Port>();
        port->modem = std::make_unique<SimModem>(modemOptions);
        m_ports.push_back(std::move(port));
    }
}

Simulator::~Simulator()
{
    for (auto& port : m_ports)
        Unplug(*port);
}

bool Simulator::Start(std::string& error, Millis now)
{
    if (!m_options.linkDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(m_options.linkDir, ec);
        if (ec) {
            error = "cannot create " + m_options.linkDir + ": " + ec.message();
            return false;
        }
    }
    for (size_t i = 0; i < m_ports.size(); ++i) {
        Port& port = *m_ports[i];
        if (!m_options.linkDir.empty())
            port.linkPath = (std::filesystem::path(m_options.linkDir) / ("modem" + std::to_string(i + 1))).string();
        if (!Plug(port, error))
            return false;
    }
    if (m_options.demo) {
        SimModem* ringRound = m_ports.size() > 1 ? m_ports[1]->modem.get() : nullptr;
        m_demo = std::make_unique<DemoScript>(*m_ports[0]->modem, ringRound, m_options.seed,
                                              [](const std::string& line) { std::cerr << line << std::endl; });
        m_demo->Start(now);
    }
    if (m_options.noise)
        for (auto& port : m_ports)
            port->modem->SetNoise(true, now);
    return true;
}

bool Simulator::Plug(Port& port, std::string& error)
{
    if (!port.link.Open(error))
        return false;
    port.pending.clear();
    port.modem->PlugIn();
    if (!port.linkPath.empty()) {
        // Re-point the link in one step, so that an opener never finds it missing
        // or half made.
        const std::string temporary = port.linkPath + ".new";
        std::error_code ec;
        std::filesystem::remove(temporary, ec);
        std::filesystem::create_symlink(port.link.SlavePath(), temporary, ec);
        if (!ec)
            std::filesystem::rename(temporary, port.linkPath, ec);
        if (ec) {
            error = "cannot link " + port.linkPath + ": " + ec.message();
            port.link.Close();
            port.modem->Unplug();
            return false;
        }
    }
    return true;
}

void Simulator::Unplug(Port& port)
{
    if (!port.linkPath.empty()) {
        std::error_code ec;
        std::filesystem::remove(port.linkPath, ec);
    }
    port.link.Close();
    port.pending.clear();
    port.modem->Unplug();
}

std::string Simulator::PortPath(int number) const
{
    const Port& port = *m_ports.at(number - 1);
    return port.linkPath.empty() ? port.link.SlavePath() : port.linkPath;
}

std::vector<std::string> Simulator::PortLines() const
{
    std::vector<std::string> lines;
    for (size_t i = 0; i < m_ports.size(); ++i)
        lines.push_back("modem" + std::to_string(i + 1) + " " + PortPath(static_cast<int>(i + 1)));
    return lines;
}

ControlReply Simulator::Execute(std::string_view line, Millis now)
{
    std::string_view rest = line;
    const std::string_view command = NextToken(rest);
    ControlReply reply;
    if (command.empty())
        return Fail("empty command");
    if (command == "quit") {
        reply.quit = true;
        return reply;
    }
    if (command == "help") {
        reply.lines.assign(std::begin(kHelp), std::end(kHelp));
        return reply;
    }
    static constexpr std::string_view kModemCommands[] = {
        "sms",     "ring",   "hangup",  "dial",  "error",   "errorall", "garbage",     "flood",  "split",
        "truncate", "silent", "echo",   "signal", "balance", "unplug",  "plug",        "sim",    "sent",
        "calls",   "outbox", "urc",     "noise", "family",  "refuse",   "indications", "contact", "status",
        "network", "urcbody", "longsms", "part", "pdus", "texts"};
    if (std::find(std::begin(kModemCommands), std::end(kModemCommands), command) == std::end(kModemCommands))
        return Fail("unknown command " + EscapeText(command));

    static constexpr std::pair<std::string_view, int> kMostArguments[] = {
        {"ring", 1},  {"hangup", 1}, {"dial", 3}, {"error", 0}, {"errorall", 1}, {"garbage", 1},
        {"flood", 1}, {"split", 1},  {"truncate", 0}, {"silent", 1}, {"echo", 1}, {"signal", 1},
        {"unplug", 0}, {"plug", 0},  {"sim", 0},  {"sent", 0},  {"calls", 0},  {"outbox", 0},
        {"noise", 1}, {"family", 1}, {"refuse", 1}, {"indications", 1}, {"status", 0}, {"network", 0},
        {"pdus", 0}, {"texts", 0}};
    for (const auto& [name, most] : kMostArguments) {
        if (name != command)
            continue;
        std::string_view scan = rest;
        NextToken(scan);
        int count = 0;
        while (!NextToken(scan).empty())
            ++count;
        if (count > most)
            return Fail("too many arguments for " + std::string(command));
    }

    const std::string_view modemToken = NextToken(rest);
    long long number = 0;
    if (!ParseInteger(modemToken, 1, static_cast<long long>(m_ports.size()), number))
        return Fail("no modem " + EscapeText(modemToken));
    Port& port = *m_ports[static_cast<size_t>(number - 1)];
    SimModem& modem = *port.modem;
    const std::string name = "modem" + std::to_string(number);
    const bool plugged = port.link.IsOpen();
    auto needPlugged = [&]() { return plugged ? ControlReply{} : Fail(name + " is unplugged"); };

    if (command == "sms") {
        const std::string_view phone = NextToken(rest);
        if (phone.empty())
            return Fail("usage: sms M NUMBER TEXT");
        const Delivery delivery = modem.StoreSms(std::string(phone), UnescapeText(Remainder(rest)));
        reply.lines.push_back(DeliveryLine(delivery));
    } else if (command == "longsms") {
        const char* usage = "usage: longsms M NUMBER [bits=8|16] [coding=gsm|ucs2] [ref=N] [order=3,1,2] TEXT";
        const std::string_view phone = NextToken(rest);
        PartOptions options;
        if (phone.empty() || !TakePartOptions(rest, options) || (options.reference && !options.wide && *options.reference > 255))
            return Fail(usage);
        const std::string text = UnescapeText(Remainder(rest));
        if (text.empty())
            return Fail(usage);
        const auto deliveries = modem.StoreLongSms(std::string(phone), text, options.coding, options.wide,
                                                   options.reference, options.order);
        if (!deliveries)
            return Fail("order names a part the text does not have");
        for (const Delivery& d : *deliveries)
            reply.lines.push_back(DeliveryLine(d));
    } else if (command == "part") {
        const char* usage = "usage: part M NUMBER [bits=8|16] [coding=gsm|ucs2] REF TOTAL N TEXT";
        const std::string_view phone = NextToken(rest);
        PartOptions options;
        long long ref = 0, total = 0, n = 0;
        if (phone.empty() || !TakePartOptions(rest, options) || !options.order.empty() || options.reference ||
            !ParseInteger(NextToken(rest), 0, options.wide ? 65535 : 255, ref) ||
            !ParseInteger(NextToken(rest), 1, 255, total) || !ParseInteger(NextToken(rest), 1, total, n))
            return Fail(usage);
        const std::string text = UnescapeText(Remainder(rest));
        if (text.empty())
            return Fail(usage);
        reply.lines.push_back(DeliveryLine(modem.StorePart(
            std::string(phone), text, options.coding,
            kv::sms::Concat{static_cast<unsigned>(ref), options.wide, static_cast<unsigned>(total),
                            static_cast<unsigned>(n)})));
    } else if (command == "ring") {
        const std::string_view phone = NextToken(rest);
        if (phone.empty())
            return Fail("usage: ring M NUMBER");
        if (!plugged)
            return needPlugged();
        modem.Ring(std::string(phone), now);
    } else if (command == "hangup") {
        if (!plugged)
            return needPlugged();
        if (!modem.FarEndHangsUp(now, NextToken(rest)))
            return Fail("no call on " + name);
    } else if (command == "dial") {
        static constexpr std::pair<std::string_view, DialAnswer> kAnswers[] = {
            {"busy", DialAnswer::Busy},          {"nocarrier", DialAnswer::NoCarrier},
            {"noanswer", DialAnswer::NoAnswer},  {"nodialtone", DialAnswer::NoDialtone},
            {"answer", DialAnswer::Answer},      {"never", DialAnswer::Never}};
        const std::string_view how = NextToken(rest);
        const auto answer = std::find_if(std::begin(kAnswers), std::end(kAnswers),
                                         [&](const auto& a) { return a.first == how; });
        if (answer == std::end(kAnswers))
            return Fail("usage: dial M busy|nocarrier|noanswer|nodialtone|answer SECONDS [NUMBER] | "
                        "dial M never [NUMBER]");
        DialRule rule;
        rule.answer = answer->second;
        if (rule.answer != DialAnswer::Never) {
            const std::string seconds(NextToken(rest));
            char* end = nullptr;
            const double s = std::strtod(seconds.c_str(), &end);
            if (seconds.empty() || end != seconds.c_str() + seconds.size() || !std::isfinite(s) || s < 0 ||
                s > 86400)
                return Fail("usage: dial M " + std::string(how) + " SECONDS [NUMBER]");
            rule.minDelay = rule.maxDelay = static_cast<Millis>(std::llround(s * 1000));
        }
        const std::string_view phone = NextToken(rest);
        if (phone.empty())
            modem.SetDialRule(rule);
        else
            modem.SetDialRule(std::string(phone), rule);
    } else if (command == "error") {
        modem.FailNext();
    } else if (command == "truncate") {
        modem.TruncateNext();
    } else if (command == "urc") {
        const std::string text = UnescapeText(Remainder(rest));
        if (text.empty())
            return Fail("usage: urc M TEXT");
        if (!plugged)
            return needPlugged();
        modem.InjectUrc(text, now);
    } else if (command == "urcbody") {
        const std::string text = UnescapeText(Remainder(rest));
        if (text.empty())
            return Fail("usage: urcbody M TEXT");
        if (!plugged)
            return needPlugged();
        modem.InjectUrcInBody(text);
    } else if (command == "family") {
        const std::string_view family = NextToken(rest);
        if (family.empty()) {
            reply.lines.push_back(std::string(modem.CurrentFamily().name) + " " + std::string(modem.NextFamily().name));
        } else if (const Family* f = FindFamily(family)) {
            modem.SetNextFamily(*f);
        } else {
            return Fail("no family " + EscapeText(family) + " (" + FamilyNames() + ")");
        }
    } else if (command == "refuse") {
        const std::string_view how = NextToken(rest);
        if (how == "cusd4")
            modem.RefuseNextUssd(UssdRefusal::Cusd4);
        else if (how == "cme132")
            modem.RefuseNextUssd(UssdRefusal::Cme132);
        else
            return Fail("usage: refuse M cusd4|cme132");
    } else if (command == "contact") {
        const std::string_view phone = NextToken(rest);
        const std::string contact = UnescapeText(Remainder(rest));
        if (phone.empty() || contact.empty())
            return Fail("usage: contact M NUMBER NAME");
        modem.SetContact(std::string(phone), contact);
    } else if (command == "status") {
        reply.lines = modem.Settings();
    } else if (command == "network") {
        for (const auto& [phone, text] : modem.Waiting())
            reply.lines.push_back(EscapeText(phone) + " " + EscapeText(text));
    } else if (command == "errorall" || command == "split" || command == "silent" || command == "echo" ||
               command == "noise" || command == "indications") {
        bool on = false;
        if (!ParseSwitch(NextToken(rest), on))
            return Fail("usage: " + std::string(command) + " M on|off");
        if (command == "errorall")
            modem.SetFailAll(on);
        else if (command == "split")
            modem.SetSplit(on);
        else if (command == "silent") {
            modem.SetSilent(on);
            if (on)
                port.pending.clear();
        } else if (command == "noise")
            modem.SetNoise(on, now);
        else if (command == "indications")
            modem.SetIndications(on);
        else
            modem.SetEcho(on);
    } else if (command == "garbage") {
        std::string bytes;
        if (!ParseHexBytes(NextToken(rest), bytes))
            return Fail("usage: garbage M HEX (pairs of hex digits)");
        if (!plugged)
            return needPlugged();
        modem.Inject(bytes, now);
    } else if (command == "flood") {
        long long count = 0;
        if (!ParseInteger(NextToken(rest), 0, 1LL << 40, count))
            return Fail("usage: flood M BYTES");
        if (!plugged)
            return needPlugged();
        modem.Flood(static_cast<std::uint64_t>(count), now);
    } else if (command == "signal") {
        long long level = 0;
        if (!ParseInteger(NextToken(rest), -999, 999, level))
            return Fail("usage: signal M N");
        modem.SetSignal(static_cast<int>(level));
    } else if (command == "balance") {
        modem.SetBalance(UnescapeText(Remainder(rest)));
    } else if (command == "unplug") {
        if (!plugged)
            return Fail(name + " is already unplugged");
        Unplug(port);
    } else if (command == "plug") {
        if (plugged)
            return Fail(name + " is already plugged in");
        std::string error;
        if (!Plug(port, error))
            return Fail(error);
        reply.lines.push_back(PortPath(static_cast<int>(number)));
    } else if (command == "sim") {
        // The modem's own memory, where a family has one, is listed after the SIM.
        for (const StoredSms& sms : modem.Messages())
            reply.lines.push_back((sms.medium == Medium::Phone ? "ME " : "") + std::to_string(sms.index) + " " +
                                  sms.status + " " + EscapeText(sms.number) + " " + EscapeText(sms.text));
    } else if (command == "sent") {
        reply.lines = modem.TakeSentLines();
    } else if (command == "calls") {
        int n = 0;
        for (const CallRecord& call : modem.Calls())
            reply.lines.push_back(std::to_string(++n) + " " + EscapeText(call.number) + " " + call.outcome);
    } else if (command == "pdus") {
        for (const StoredSms& sms : modem.Messages())
            reply.lines.push_back((sms.medium == Medium::Phone ? "ME " : "") + std::to_string(sms.index) + " " +
                                  sms.status + " " + modem.PduOf(sms));
    } else if (command == "texts") {
        for (const SentSms& sms : modem.SentTexts())
            reply.lines.push_back(EscapeText(sms.number) + " " + EscapeText(sms.text));
    } else if (command == "outbox") {
        for (const SentSms& sms : modem.Outbox())
            reply.lines.push_back(std::to_string(sms.reference) + " " + sms.charset + " " + EscapeText(sms.number) +
                                  " " + EscapeText(sms.text));
    }
    return reply;
}

int Simulator::Pump(Millis now)
{
    for (auto& port : m_ports)
        port->modem->Advance(now);
    if (m_demo)
        m_demo->Advance(now);
    for (auto& port : m_ports) {
        if (port->link.IsOpen())
            ServicePort(*port, now);
    }
    std::optional<Millis> next;
    auto consider = [&next](std::optional<Millis> t) {
        if (t && (!next || *t < *next))
            next = t;
    };
    for (const auto& port : m_ports) {
        consider(port->modem->NextTimer());
        // Output that waits for the pty to drain is woken by POLLOUT, not by time.
        if (port->pending.empty())
            consider(port->modem->NextOutput());
    }
    if (m_demo)
        consider(m_demo->NextWake());
    if (!next)
        return -1;
    return static_cast<int>(std::clamp<Millis>(*next - now, 0, 60000));
}

void Simulator::ServicePort(Port& port, Millis now)
{
    size_t moved = 0;
    while (moved < kPassBudget) {
        if (port.pending.empty()) {
            port.pending = port.modem->TakeOutput(now, kChunk);
            if (port.pending.empty())
                return;
        }
        const ssize_t n = ::write(port.link.MasterFd(), port.pending.data(), port.pending.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN)
                port.pending.clear();
            return;
        }
        port.pending.erase(0, static_cast<size_t>(n));
        moved += static_cast<size_t>(n);
    }
}

void Simulator::ReadPort(Port& port, Millis now)
{
    char buffer[kChunk];
    for (size_t total = 0; total < kPassBudget;) {
        const ssize_t n = ::read(port.link.MasterFd(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        port.modem->Receive(std::string_view(buffer, static_cast<size_t>(n)), now);
        total += static_cast<size_t>(n);
    }
}

void Simulator::AddPollFds(std::vector<pollfd>& fds) const
{
    for (const auto& port : m_ports) {
        if (!port->link.IsOpen())
            continue;
        short events = POLLIN;
        if (!port->pending.empty())
            events |= POLLOUT;
        fds.push_back(pollfd{port->link.MasterFd(), events, 0});
    }
}

int Simulator::Run(int controlIn, int controlOut, int signalFd)
{
    std::string input;
    bool discarding = false; // inside an over-long control line
    for (;;) {
        Millis now = SteadyNow();
        const int timeout = Pump(now);

        std::vector<pollfd> fds;
        fds.push_back(pollfd{controlIn, POLLIN, 0});
        fds.push_back(pollfd{signalFd, POLLIN, 0});
        const size_t firstPort = fds.size();
        AddPollFds(fds);
        std::vector<Port*> polled;
        for (auto& port : m_ports) {
            if (port->link.IsOpen())
                polled.push_back(port.get());
        }
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::cerr << "modemsim: poll: " << std::strerror(errno) << std::endl;
            return 1;
        }
        now = SteadyNow();
        if (signalFd >= 0 && (fds[1].revents & POLLIN)) {
            signalfd_siginfo info{};
            [[maybe_unused]] const ssize_t got = ::read(signalFd, &info, sizeof info);
            return 0;
        }
        for (size_t i = 0; i < polled.size(); ++i) {
            const short revents = fds[firstPort + i].revents;
            if (revents & POLLIN)
                ReadPort(*polled[i], now);
            if ((revents & (POLLHUP | POLLERR | POLLNVAL)) && !(revents & POLLIN)) {
                // Our own slave descriptor should make this impossible; drop the
                // port rather than spin on it.
                std::cerr << "modemsim: pseudo-terminal failed, modem unplugged" << std::endl;
                Unplug(*polled[i]);
            }
        }
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        char buffer[kChunk];
        const ssize_t n = ::read(controlIn, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) {
            // A last command without its newline still counts.
            if (!discarding && !input.empty())
                input.push_back('\n');
            else
                return 0;
        } else {
            input.append(buffer, static_cast<size_t>(n));
        }
        size_t newline;
        while ((newline = input.find('\n')) != std::string::npos) {
            std::string line = input.substr(0, newline);
            input.erase(0, newline + 1);
            if (discarding) {
                discarding = false;
                continue;
            }
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            const ControlReply reply = Execute(line, SteadyNow());
            std::string text;
            for (const std::string& l : reply.lines)
                text += l + "\n";
            text += reply.ok ? "ok\n" : reply.error + "\n";
            if (!WriteAll(controlOut, text) || reply.quit)
                return 0;
        }
        if (n <= 0)
            return 0;
        if (input.size() > kMaxControlLine) {
            input.clear();
            if (!discarding && !WriteAll(controlOut, "error line too long\n"))
                return 0;
            discarding = true;
        }
    }
}

} // namespace kv::modemsim
