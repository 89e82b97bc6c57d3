#include "tests/fuzz/Harnesses.h"

#include "codec/SmsPdu.h"
#include "codec/Ucs2.h"
#include "data/LastContacts.h"
#include "data/MemTable.h"
#include "data/RecordStore.h"
#include "data/TableFormat.h"
#include "data/Text.h"
#include "modem/Commands.h"
#include "modem/CommThread.h"
#include "modem/Modem.h"
#include "modem/SmsReader.h"
#include "timing/DateTime.h"
#include "tests/support/FakePort.h"
#include "tests/support/RecordingHost.h"
#include "tests/support/TestClock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <set>
#include <string_view>
#include <vector>

// Bytes the sanitizer's allocator holds for the program; only there under
// AddressSanitizer, so the memory bound is checked only in such builds.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));

namespace kv::fuzz {

using namespace kv::literals;

namespace {

FailureHandler g_onFailure = nullptr;

[[noreturn]] void Fail(const std::string& message)
{
    if (g_onFailure)
        g_onFailure(message);
    std::fprintf(stderr, "fuzz property failed: %s\n", message.c_str());
    std::abort();
}

// Messages with details are built only on failure: the checks run millions of times.
void Require(bool ok, const char* message)
{
    if (!ok)
        Fail(message);
}

std::string_view AsText(const std::uint8_t* data, std::size_t size)
{
    return {reinterpret_cast<const char*>(data), size};
}

// Station bytes readable in a message.
std::string Shown(std::string_view bytes)
{
    std::string out;
    for (const char ch : bytes) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += ch;
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

// ------------------------------------------------------------ table loader

// A load may hold this many bytes of memory per byte of file, plus the slack.
// The densest honest file (one-byte values of an old format) costs about 30.
constexpr std::size_t kLoadExpansion = 64;
constexpr std::size_t kLoadSlack = 64 * 1024;

std::size_t HeapInUse()
{
    return __sanitizer_get_current_allocated_bytes ? __sanitizer_get_current_allocated_bytes() : 0;
}

bool IsLoaderMessage(const std::string& m)
{
    return m == "Invalid stream format" || m == "Stream read error" || m == "Invalid property value"
           || m == "Couldnt determine field count for load."
           // The type name is the file's: a zero byte in it ends what() early.
           || m.starts_with("Unknown field type (");
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// What was loaded satisfies the cut rules of its fields.
void CheckLoadedTexts(const MemTable& table)
{
    const auto& fields = table.Fields();
    for (std::size_t r = 0; r < table.TotalRecordCount(); ++r) {
        const RecordHandle h = table.RecordAt(r);
        for (std::size_t f = 0; f < fields.size(); ++f) {
            const FieldDef& def = fields[f];
            if (detail::StorageOf(def.type) != detail::Storage::Text || table.IsNull(h, static_cast<int>(f)))
                continue;
            const std::string_view text = table.TextView(h, static_cast<int>(f));
            if (def.type == FieldType::String || def.type == FieldType::FixedChar) {
                Require(text.find('\0') == std::string_view::npos, "a string field holds a zero byte");
                Require(def.size <= 0 || text.size() <= static_cast<std::size_t>(def.size),
                        "a string field holds more than its width");
            }
        }
    }
}

// Every value of every written field of `a` is in `b`, field for field.
void CheckSameRecords(const MemTable& a, const MemTable& b)
{
    std::vector<int> written;
    for (int f = 0; f < a.FieldCount(); ++f)
        if (a.Fields()[static_cast<std::size_t>(f)].HoldsData())
            written.push_back(f);
    Require(static_cast<std::size_t>(b.FieldCount()) == written.size(), "the reload has other fields");
    Require(a.TotalRecordCount() == b.TotalRecordCount(), "the reload has another number of records");
    for (std::size_t i = 0; i < written.size(); ++i) {
        const FieldDef& da = a.Fields()[static_cast<std::size_t>(written[i])];
        const FieldDef& db = b.Fields()[i];
        if (da.name != db.name || da.type != db.type || da.size != db.size)
            Fail("field " + Shown(da.name) + " changed in the reload");
    }
    for (std::size_t r = 0; r < a.TotalRecordCount(); ++r) {
        const RecordHandle ha = a.RecordAt(r);
        const RecordHandle hb = b.RecordAt(r);
        for (std::size_t i = 0; i < written.size(); ++i) {
            const int fa = written[i];
            const int fb = static_cast<int>(i);
            bool same = a.IsNull(ha, fa) == b.IsNull(hb, fb);
            if (same && !a.IsNull(ha, fa)) {
                switch (detail::StorageOf(a.Fields()[static_cast<std::size_t>(fa)].type)) {
                case detail::Storage::Int32: same = a.Integer(ha, fa) == b.Integer(hb, fb); break;
                case detail::Storage::Bool: same = a.Boolean(ha, fa) == b.Boolean(hb, fb); break;
                case detail::Storage::Float64: same = SameBits(a.Float(ha, fa), b.Float(hb, fb)); break;
                case detail::Storage::Text: same = a.TextView(ha, fa) == b.TextView(hb, fb); break;
                }
            }
            if (!same)
                Fail("record " + std::to_string(r) + " field " + std::to_string(fa) + " changed in the reload");
        }
    }
}

// ------------------------------------------------------------ UCS2

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// ------------------------------------------------------------ reply dispatch

constexpr std::size_t kMaxPieces = 32;

void CheckModem(const TModem& modem, const test::RecordingHost& host)
{
    Require(modem.SmsIndex >= 1, "SmsIndex fell below 1");
    Require(modem.PendingCount() < TModem::kRingSize, "the command ring overflowed");
    std::set<std::string> deletes;
    for (const std::string& line : modem.PendingCommands()) {
        if (line.empty() || (line.back() != '\r' && line.back() != kCtrlZ))
            Fail("queued command not ended by CR or Ctrl-Z: " + Shown(line));
        if (line.starts_with("AT+CMGD="))
            deletes.insert(line);
    }
    // A message leaves the SIM only after its row is on disk.
    if (deletes.size() > host.Of("synced").size())
        Fail("a delete was queued for a message whose row is not on disk");
}

} // namespace

void SetFailureHandler(FailureHandler handler) { g_onFailure = handler; }

int FuzzTableLoader(const std::uint8_t* data, std::size_t size)
{
    const TableFormat format;
    const std::size_t heapBefore = HeapInUse();
    MemTable table;
    bool loaded = true;
    try {
        format.LoadFromBytes(table, AsText(data, size));
    } catch (const ETableFileError& e) {
        if (!IsLoaderMessage(e.what()))
            Fail(std::string("undocumented loader message: ") + e.what());
        loaded = false;
    }
    if (heapBefore) {
        const std::size_t held = HeapInUse() - heapBefore;
        if (held > kLoadExpansion * size + kLoadSlack)
            Fail("a file of " + std::to_string(size) + " bytes holds " + std::to_string(held) + " bytes");
    }
    CheckLoadedTexts(table);

    // Whatever the table holds now, all of the file or what came before a failure,
    // survives a save and a reload unchanged.
    const auto& fields = table.Fields();
    if (std::none_of(fields.begin(), fields.end(), [](const FieldDef& f) { return f.HoldsData(); })) {
        Require(!loaded || !fields.empty(), "a load without fields succeeded");
        return 0;
    }
    const std::string saved = format.SaveToBytes(table);
    MemTable reloaded;
    try {
        format.LoadFromBytes(reloaded, saved);
    } catch (const ETableFileError& e) {
        Fail(std::string("a saved table does not load again: ") + e.what());
    }
    CheckSameRecords(table, reloaded);
    Require(format.SaveToBytes(reloaded) == saved, "saving the reloaded table gives other bytes");
    return 0;
}

int FuzzLastContacts(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes = AsText(data, size);
    const ParsedContacts read = ParseLastContacts(bytes);
    const std::size_t lines = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1;
    Require(read.contacts.size() + static_cast<std::size_t>(read.damaged) <= lines, "more entries than lines");
    Require(read.ours || read.contacts.empty(), "entries read outside the section");
    const ParsedContacts again = ParseLastContacts(LastContactsText(read.contacts));
    Require(again.ours && again.damaged == 0, "the file as written does not read back clean");
    Require(again.contacts.size() == read.contacts.size(), "a device was lost or gained writing the file");
    for (const auto& [tel, c] : read.contacts) {
        const auto it = again.contacts.find(tel);
        Require(it != again.contacts.end(), "a number changed writing the file");
        Require(it->second.kind == c.kind && it->second.silent == c.silent &&
                    FixedDateTimeText(it->second.at) == FixedDateTimeText(c.at),
                "a contact changed writing the file");
    }
    return 0;
}

int FuzzUcs2(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes = AsText(data, size);

    // Decoding: groups of four, a short last group of two or three, a lone last
    // character ignored; any other non-hex character fails the whole text.
    const std::size_t read = size % 4 == 1 ? size - 1 : size;
    const bool allHex = std::all_of(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(read), IsHexDigit);
    try {
        const std::string text = Ucs2HexToText(bytes);
        Require(allHex, "a text with a non-hex character decoded");
        Require(text.size() == (size + 2) / 4, "decoded length is not the number of groups");
        std::string upper(bytes);
        for (char& c : upper)
            if (c >= 'a' && c <= 'f')
                c = static_cast<char>(c - 'a' + 'A');
        Require(Ucs2HexToText(upper) == text, "hex letters decode differently in another case");
    } catch (const EConvertError&) {
        Require(!allHex, "a hex text failed to decode");
    }

    // Encoding: four upper-case digits per byte; decoding gives the bytes back,
    // but for a zero byte (comes back a blank).
    const std::string hex = TextToUcs2Hex(bytes);
    Require(hex.size() == 4 * size, "encoding is not four digits per byte");
    Require(std::all_of(hex.begin(), hex.end(), [](char c) { return IsHexDigit(c) && !(c >= 'a' && c <= 'f'); }),
            "encoding holds a character other than an upper-case hex digit");
    std::string expected(bytes);
    for (char& c : expected) {
        if (c == '\0')
            c = ' ';
    }
    Require(Ucs2HexToText(hex) == expected, "encoded text does not decode back");
    return 0;
}

int FuzzReadReply(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const bool list = data[0] >= 40;
    const std::string command = list ? ListSmsCommand(false) : ReadSmsCommand(1u + data[0]);
    const std::string reply(AsText(data + 1, size - 1));

    for (const bool ucs2 : {false, true}) {
        for (const StoredMessage& m : ParseStoredMessages(reply, command, ucs2)) {
            Require(m.body.find("\r\n") == std::string::npos, "a body runs past its line");
            Require(reply.find(m.body) != std::string::npos, "a body is not a piece of the reply");
            Require(reply.find(m.numberField) != std::string::npos, "a number is not a piece of the reply");
            Require(!list || m.index >= 0 || m.pdu || m.empty, "a listed message has no index");
            Require(!(m.pdu && m.empty), "a message is both empty and in PDU mode");
            Require(!ucs2 || m.body.empty() || !IsUnsolicitedCode(m.body), "a code taken as a body under UCS2");
        }
    }

    // The reply's hex digits as the number and its text as the body of a
    // well-formed header (in either form) come back whole.
    const std::string firstHalf = reply.substr(0, reply.size() / 2);
    std::string number;
    std::copy_if(firstHalf.begin(), firstHalf.end(), std::back_inserter(number), IsHexDigit);
    std::string body = reply.substr(reply.size() / 2);
    body = body.substr(0, body.find_first_of("\"\r\n"));
    while (!body.empty() && (body.front() == ' ' || body.front() == '\t'))
        body.erase(0, 1);
    while (!body.empty() && (body.back() == ' ' || body.back() == '\t'))
        body.pop_back();
    for (const std::string_view status : {"REC UNREAD", "REC READ"}) {
        const std::string header = list ? "+CMGL: 7,\"" : "+CMGR: \"";
        const std::string wellFormed = "\r\n" + header + std::string(status) + "\",\"" + number
                                       + "\",\"\",\"24/05/01,10:00:00+12\"\r\n" + body + "\r\n\r\nOK\r\n";
        const std::vector<StoredMessage> parsed = ParseStoredMessages(wellFormed, command);
        if (parsed.size() != 1 || parsed[0].numberField != number || parsed[0].body != body
            || parsed[0].status != status || parsed[0].index != (list ? 7 : -1))
            Fail("number or body cut wrongly from " + Shown(wellFormed));
    }
    return 0;
}

int FuzzReplyDispatch(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::uint8_t flags = data[0];
    std::vector<std::string> pieces(1);
    for (std::size_t i = 2; i < size; ++i) {
        if (data[i] != 0)
            pieces.back().push_back(static_cast<char>(data[i]));
        else if (pieces.size() < kMaxPieces)
            pieces.emplace_back();
    }

    test::TestClock clock;
    test::RecordingHost host;
    host.AddDevice("+79111111111", std::string("Объект1"_cp));
    test::FakePort port;
    TModem modem;
    modem.Running = true;
    TCommThread worker(modem, port, host, clock, nullptr);
    modem.SmsSending = (flags & 1) != 0;
    modem.UssdPending = (flags & 2) != 0;
    modem.LinkLost = (flags & 4) != 0;
    modem.CharsetUcs2 = (flags & 8) == 0;
    if (data[1] < std::size(kDispatchCommands))
        worker.BeginReplyFor(kDispatchCommands[data[1]]);

    for (const std::string& piece : pieces) {
        modem.AppendReceived(piece);
        if (worker.DispatchReceived())
            Require(worker.ExchangeState() == TCommThread::kReplyHandled, "the reply ended unhandled");
        CheckModem(modem, host);
        // Settled: one more look at the same bytes does nothing more.
        const std::string rest = modem.RxSnapshot();
        const std::size_t calls = host.Log().Entries().size();
        const std::size_t queued = modem.PendingCount();
        worker.DispatchReceived();
        if (modem.RxSnapshot() != rest || host.Log().Entries().size() != calls || modem.PendingCount() != queued)
            Fail("the dispatch did not settle: " + Shown(rest));
        // Blank lines stay in front of a line still arriving (its bytes in the
        // technological journal); a whole line never does.
        const std::size_t text = rest.find_first_not_of("\r\n \t");
        if (text != std::string::npos && rest.find("\r\n", text) != std::string::npos)
            Fail("a whole line was left unread: " + Shown(rest));
    }
    return 0;
}

namespace {

// What must hold of any decoded user data: a text no longer than its octets
// allow, station text one byte per character, and an encoding that brings
// the same units back (split into parts and rejoined).
void CheckUserData(const sms::UserData& ud, sms::Coding coding, std::size_t octets)
{
    const std::size_t most = coding == sms::Coding::Ucs2 ? octets / 2 : coding == sms::Coding::Eight ? octets
                                                                                                      : octets * 8 / 7;
    Require(ud.units.size() <= most, "more characters than the octets hold");
    Require(ud.text.size() <= ud.units.size(), "station text longer than its characters");
    Require(ud.text.find('\0') == std::string::npos, "a zero byte in station text");
    if (ud.concat)
        Require(ud.concat->part >= 1 && ud.concat->part <= ud.concat->total && ud.concat->total <= 255
                    && ud.concat->reference <= (ud.concat->wide ? 0xFFFFu : 0xFFu),
                "a concatenation element out of its range");

    std::u16string joined;
    for (const std::u16string& part : sms::SplitForSms(ud.units, coding))
        joined += part;
    Require(joined == ud.units, "split parts do not rejoin to the text");

    joined.clear();
    const std::vector<sms::OutgoingPdu> sent = sms::EncodeSubmit("+79161234567", ud.units, 42);
    for (const sms::OutgoingPdu& pdu : sent) {
        const std::optional<sms::Submit> back = sms::DecodeSubmitPdu(pdu.hex);
        Require(back.has_value(), "an encoded part does not decode");
        Require(pdu.tpduLength == sms::TpduLength(pdu.hex), "the length for the send is not the TPDU's");
        Require(back->data.concat.has_value() == (sent.size() > 1), "parts without their header, or one with it");
        joined += back->data.units;
    }
    Require(joined == ud.units, "an encoded text does not decode back");
}

} // namespace

int FuzzSmsPdu(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::uint8_t mode = data[0];
    const int length = data[1] == 0xFF ? -1 : data[1];
    const std::span<const std::uint8_t> rest(data + 2, size - 2);

    // The rest as a modem's hex text, or its octets written as hex.
    std::string hex;
    if (mode & 1) {
        hex.assign(AsText(rest.data(), rest.size()));
    } else {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        for (const std::uint8_t o : rest) {
            hex.push_back(kDigits[o >> 4]);
            hex.push_back(kDigits[o & 0xF]);
        }
    }

    std::string why;
    if (const std::optional<sms::Deliver> d = sms::DecodeDeliverPdu(hex, &why)) {
        Require((d->firstOctet & 0x03) == 0, "a PDU of another type decoded as a delivery");
        Require(sms::TpduLength(hex) >= 0, "a decoded PDU has no length");
        Require(d->timestamp.size() == 20, "the time stamp is not yy/MM/dd,hh:mm:ss+zz");
        CheckUserData(d->data, d->coding, rest.size());
        if (!d->alphanumericSender && d->sender.find_first_of("abc") == std::string::npos) {
            // Written again as a delivery, the text and its header come back.
            const std::string again = sms::EncodeDeliverPdu(d->smsc, d->sender, d->timestamp, d->coding,
                                                            d->data.units, d->data.concat);
            const std::optional<sms::Deliver> e = sms::DecodeDeliverPdu(again);
            Require(e.has_value(), "a delivery written again does not decode");
            Require(e->data.units == d->data.units && e->sender == d->sender && e->smsc == d->smsc,
                    "a delivery written again decodes differently");
            Require(e->data.concat.has_value() == d->data.concat.has_value(), "the header is lost writing it again");
        }
    } else {
        Require(!why.empty(), "a PDU refused without a reason");
    }
    why.clear();
    if (const std::optional<sms::Submit> s = sms::DecodeSubmitPdu(hex, &why))
        CheckUserData(s->data, s->coding, rest.size());
    else
        Require(!why.empty(), "a SUBMIT refused without a reason");

    // The octets as a text-mode modem shows the user data.
    const sms::Coding coding = static_cast<sms::Coding>((mode >> 1) % 3);
    if (const std::optional<sms::UserData> ud = sms::DecodeUserData(rest, (mode & 8) != 0, coding, length))
        CheckUserData(*ud, coding, rest.size());
    return 0;
}

} // namespace kv::fuzz
