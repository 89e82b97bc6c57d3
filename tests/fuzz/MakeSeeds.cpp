// fuzz_make_seeds <corpus folder>: writes the seed inputs of the fuzzers,
// each into <corpus folder>/<fuzzer>/:
//   fuzz_table_loader   files of each station table as the station saves them,
//                       and the journal in each older format the loader reads;
//   fuzz_ucs2           hex texts as devices and the network send them;
//   fuzz_read_reply     the read and list replies of the modem transcripts;
//   fuzz_reply_dispatch every reply (with its command in flight) and whole
//                       conversation of the transcripts;
//   fuzz_sms_pdu        deliveries and sends of every coding, address and
//                       header the codec writes, as hex text and as octets.
// Run by hand when the formats change; the output is committed.
#include "codec/SmsPdu.h"
#include "codec/Ucs2.h"
#include "data/Extended80.h"
#include "data/MemTable.h"
#include "data/RecordEvent.h"
#include "data/RecordStore.h"
#include "data/Schemas.h"
#include "data/TableFormat.h"
#include "data/Text.h"
#include "tests/fuzz/Harnesses.h"
#include "tests/support/Cp1251.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace kv;
using namespace kv::literals;

namespace {

fs::path g_out;
std::set<std::string> g_written; // per fuzzer and content: no duplicate seeds

void Put(const std::string& fuzzer, const std::string& name, const std::string& bytes)
{
    if (!g_written.insert(fuzzer + '\0' + bytes).second)
        return;
    const fs::path dir = g_out / fuzzer;
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + (dir / name).string());
}

// ------------------------------------------------------------ table files

void AppendRow(MemTable& t, const std::vector<std::pair<const char*, std::string>>& texts,
               const std::vector<std::pair<const char*, bool>>& flags = {})
{
    t.Append();
    for (const auto& [name, value] : texts)
        t.FieldByName(name).SetAsString(value);
    for (const auto& [name, value] : flags)
        t.FieldByName(name).SetAsBoolean(value);
    t.Post();
}

// The table in format `version` (100 to 250), item by item as that format
// had it; the station itself only writes 251.
std::string OlderFormat(const MemTable& t, int version)
{
    std::string b = "TPF0";
    auto raw = [&b](int v) { b.push_back(static_cast<char>(v)); };
    auto integer = [&](std::int32_t v) {
        if (v >= -128 && v <= 127) {
            raw(0x02);
            raw(v & 0xFF);
        } else if (v >= -32768 && v <= 32767) {
            raw(0x03);
            raw(v & 0xFF);
            raw((v >> 8) & 0xFF);
        } else {
            raw(0x04);
            for (int i = 0; i < 4; ++i)
                raw((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF);
        }
    };
    auto text = [&](std::string_view s) {
        if (s.size() <= 255) {
            raw(0x06);
            raw(static_cast<int>(s.size()));
        } else {
            raw(0x0C);
            for (int i = 0; i < 4; ++i)
                raw((s.size() >> (8 * i)) & 0xFF);
        }
        b += s;
    };
    auto boolean = [&](bool v) { raw(v ? 0x09 : 0x08); };
    auto real = [&](double v) {
        raw(0x05);
        const Extended80 e = DoubleToExtended(v);
        b.append(reinterpret_cast<const char*>(e.data()), e.size());
    };

    if (version > 100)
        integer(version);
    raw(0x01);
    for (const FieldDef& f : t.Fields()) {
        text(f.name);
        text(FieldTypeName(f.type));
        integer(f.size);
        text(f.DisplayName());
        text(f.editMask);
        integer(f.EffectiveDisplayWidth());
        boolean(f.required);
        boolean(f.readOnly);
        if (version >= 250)
            text("Data");
        if (version >= 251)
            text(f.defaultExpression);
    }
    raw(0x00);
    if (version >= 200) {
        raw(0x01);
        raw(0x00);
    }
    raw(0x01);
    for (std::size_t r = 0; r < t.TotalRecordCount(); ++r) {
        const RecordHandle h = t.RecordAt(r);
        if (version >= 230) {
            raw(0x01);
            integer(0);
        }
        for (int f = 0; f < t.FieldCount(); ++f) {
            const bool null = t.IsNull(h, f);
            if (version >= 249) {
                boolean(null);
                if (null)
                    continue;
            }
            // Before null flags a value always stands; zero and empty stand for null.
            switch (detail::StorageOf(t.Fields()[static_cast<std::size_t>(f)].type)) {
            case detail::Storage::Int32: integer(null ? 0 : t.Integer(h, f)); break;
            case detail::Storage::Bool: boolean(!null && t.Boolean(h, f)); break;
            case detail::Storage::Float64: real(null ? 0.0 : t.Float(h, f)); break;
            case detail::Storage::Text: text(null ? std::string_view() : t.TextView(h, f)); break;
            }
        }
        if (version >= 230)
            raw(0x00);
    }
    raw(0x00);
    return b;
}

void TableSeeds()
{
    const TableFormat format;
    const std::string fuzzer = "fuzz_table_loader";
    auto lookup = [](const std::string& tel) {
        return tel == "+79111111111" ? std::string("Объект1"_cp) : std::string(8, ' ');
    };

    MemTable journal;
    DefineJournal(journal);
    Put(fuzzer, "journal_empty", format.SaveToBytes(journal));
    RecordEvent(journal, "На связи"_cp, "GSM-модем №1"_cp, "Соединение с GSM-модулем установлено"_cp, nullptr,
                40179.5);
    RecordEvent(journal, "На охране"_cp, "+79111111111", "Новое сообщение:Поставлено на охрану"_cp, lookup,
                40179.75);
    RecordEvent(journal, "Тревога"_cp, "+79222222222", "\"ТРЕВОГА\" - входящий вызов с телефона"_cp, lookup,
                45000.123456);
    const std::string journal251 = format.SaveToBytes(journal);
    if (OlderFormat(journal, 251) != journal251)
        throw std::runtime_error("the older-format writer disagrees with the saver at 251");
    Put(fuzzer, "journal_251", journal251);
    for (const int version : {100, 200, 230, 249, 250})
        Put(fuzzer, "journal_" + std::to_string(version), OlderFormat(journal, version));

    MemTable description;
    DefineDescriptionTable(description);
    AppendRow(description,
              {{"k1", "0"}, {"name", Str("Склад"_cp)}, {"adress", Str("ул. Лесная, 5"_cp)},
               {"simplename", Str("Объект1"_cp)}, {"simcard", "+79111111111"},
               {"devicedescription", std::string(300, 'x')}, {"dialtime", "08:00"}},
              {{"dialenable", true}, {"drosvel", false}});
    AppendRow(description, {{"k1", "1"}, {"simplename", Str("Гараж"_cp)}, {"simcard", "+79222222222"},
                            {"devicedescription", Str("Датчик движения"_cp)}});
    Put(fuzzer, "description_251", format.SaveToBytes(description));
    Put(fuzzer, "description_230", OlderFormat(description, 230));

    MemTable devices;
    DefineDeviceTable(devices);
    AppendRow(devices, {{"device", Str("Склад"_cp)}});
    AppendRow(devices, {{"device", Str("Гараж"_cp)}});
    Put(fuzzer, "device_251", format.SaveToBytes(devices));

    MemTable users;
    DefineSecurityTable(users);
    AppendRow(users, {{"user", Str("Администратор"_cp)}, {"password", "1234"}});
    AppendRow(users, {{"user", Str("Оператор"_cp)}, {"password", ""}});
    Put(fuzzer, "security_251", format.SaveToBytes(users));
}

// ------------------------------------------------------------ hex texts

void Ucs2Seeds()
{
    const std::string fuzzer = "fuzz_ucs2";
    const std::pair<const char*, std::string> texts[] = {
        {"armed", Str("Поставлено на охрану"_cp)},
        {"disarmed", Str("Снято с охраны"_cp)},
        {"alarm_latin", Str("Внимaние ТPEBОГА"_cp)},
        {"temperature", Str("Температура +21"_cp)},
        {"number", "+79111111111"},
        {"balance", Str("Баланс 120.50 р."_cp)},
        {"yo", Str("Ёё"_cp)},
        {"all_bytes_high", [] {
             std::string s;
             for (int b = 0x7F; b <= 0xFF; ++b)
                 s.push_back(static_cast<char>(b));
             return s;
         }()},
    };
    for (const auto& [name, text] : texts)
        Put(fuzzer, name, TextToUcs2Hex(text));
    Put(fuzzer, "lower_case", "041f04400438043204350442");
    Put(fuzzer, "short_group_3", "041");
    Put(fuzzer, "short_group_2", "04");
    Put(fuzzer, "lone_fifth", "04100");
    Put(fuzzer, "numero_sign", "2116");
    Put(fuzzer, "zero_group", "0000");
    Put(fuzzer, "blank_inside", "04 10");
    Put(fuzzer, "quote_inside", "0041\"0042");
}

// ------------------------------------------------------------ SMS transfer PDUs

void SmsPduSeeds()
{
    const std::string fuzzer = "fuzz_sms_pdu";
    using sms::Coding;
    using sms::Concat;
    const std::u16string alarm = sms::StationTextToUtf16("Внимание ТРЕВОГА! Объект Склад, датчик 3"_cp);
    const std::u16string ascii = u"Battery low {12%} [zone 3] ~ | \\ ^ \u20AC";
    const std::vector<std::u16string> longParts = sms::SplitForSms(alarm + alarm, Coding::Ucs2);
    std::vector<std::pair<std::string, std::string>> pdus = {
        {"gsm7_international", sms::EncodeDeliverPdu("+79168999100", "+79161234567", "26/12/09,23:05:00+12",
                                                     Coding::Gsm7, ascii)},
        {"gsm7_national", sms::EncodeDeliverPdu("", "89161234567", "26/12/09,23:05:00-04", Coding::Gsm7, u"hellohello")},
        {"ucs2_alarm", sms::EncodeDeliverPdu("+79168999100", "+79161234567", "26/12/09,23:05:00+12", Coding::Ucs2,
                                             alarm)},
        {"eight_bit", sms::EncodeDeliverPdu("+79168999100", "013", "26/12/09,23:05:00+12", Coding::Eight, u"A\u00E9")},
        {"alphanumeric", sms::EncodeDeliverPdu("+79168999100", "Guard", "26/12/09,23:05:00+12", Coding::Gsm7, ascii)},
        {"concat8_ucs2", sms::EncodeDeliverPdu("+79168999100", "+79161234567", "26/12/09,23:05:00+12", Coding::Ucs2,
                                               longParts[0], Concat{0xA7, false, 2, 1})},
        {"concat16_gsm7", sms::EncodeDeliverPdu("+79168999100", "+79161234567", "26/12/09,23:05:00+12",
                                                Coding::Gsm7, ascii, Concat{0x1234, true, 3, 2})},
        {"concat8_gsm7_fill", sms::EncodeDeliverPdu("", "+79161234567", "26/12/09,23:05:00+12", Coding::Gsm7,
                                                    u"hello", Concat{0xA7, false, 2, 1})},
        {"unknown_element", "00440B919761214365F7000812305101020321" "0D0A0A030000000003A702020422"},
        {"tutorial", "07911326040000F0040B911346610089F60000208062917314080CC8F71D14969741F977FD07"},
    };
    for (const sms::OutgoingPdu& p : sms::EncodeSubmit("+79161234567", alarm + alarm, 0x1A7, true))
        pdus.emplace_back("submit_" + std::to_string(pdus.size()), p.hex);
    for (const auto& [name, hex] : pdus) {
        // As hex text, and as octets with each coding of the user data alone.
        Put(fuzzer, name + "_hex", std::string{'\x01', '\xFF'} + hex);
        const std::vector<std::uint8_t> octets = *sms::HexToOctets(hex);
        Put(fuzzer, name + "_octets", std::string{'\x08', '\xFF'} + std::string(octets.begin(), octets.end()));
    }
    Put(fuzzer, "user_data_gsm7_header", std::string{'\x08', '\x0C'} + std::string("\x05\x00\x03\xA7\x02\x01\xD0\x65\x36\xFB\x0D", 11));
    Put(fuzzer, "user_data_ucs2", std::string{'\x04', '\xFF'} + std::string("\x04\x22\x04\x10", 4));
}

// ------------------------------------------------------------ modem replies

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
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
            break;
        default: throw std::runtime_error(std::string("unknown escape \\") + c);
        }
    }
    return out;
}

// The pieces of a transcript reply: "[+<ms> ]<bytes>" joined by " ;; ".
std::vector<std::string> ReplyPieces(const std::string& reply)
{
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (;;) {
        const std::size_t sep = reply.find(" ;; ", start);
        std::string piece = reply.substr(start, sep == std::string::npos ? std::string::npos : sep - start);
        if (piece.size() > 1 && piece[0] == '+' && std::isdigit(static_cast<unsigned char>(piece[1]))) {
            const std::size_t sp = piece.find(' ');
            const std::string digits = piece.substr(1, sp == std::string::npos ? std::string::npos : sp - 1);
            if (digits.find_first_not_of("0123456789") == std::string::npos)
                piece = sp == std::string::npos ? std::string() : piece.substr(sp + 1);
        }
        if (!piece.empty())
            pieces.push_back(Unescape(piece));
        if (sep == std::string::npos)
            break;
        start = sep + 4;
    }
    return pieces;
}

std::string Joined(const std::vector<std::string>& pieces, char separator)
{
    std::string out;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i)
            out.push_back(separator);
        out += pieces[i];
    }
    return out;
}

// The dispatch fuzzer's command for a transcript line the modem answers.
char CommandSelector(const std::string& line)
{
    for (std::size_t i = 0; i < std::size(fuzz::kDispatchCommands); ++i)
        if (line == fuzz::kDispatchCommands[i])
            return static_cast<char>(i);
    for (std::size_t i = 0; i < std::size(fuzz::kDispatchCommands); ++i) {
        const std::string_view known = fuzz::kDispatchCommands[i];
        if (line.compare(0, 7, known.substr(0, 7)) == 0)
            return static_cast<char>(i);
    }
    return static_cast<char>(std::size(fuzz::kDispatchCommands));
}

void TranscriptSeeds(const fs::path& transcripts)
{
    std::vector<fs::path> files;
    for (const fs::directory_entry& e : fs::directory_iterator(transcripts))
        if (e.path().extension() == ".txt")
            files.push_back(e.path());
    std::sort(files.begin(), files.end());

    for (const fs::path& file : files) {
        const std::string stem = file.stem().string();
        std::ifstream in(file, std::ios::binary);
        int flags = 0;
        int n = 0;
        std::vector<std::string> conversation;
        std::string raw;
        while (std::getline(in, raw)) {
            if (raw.empty() || raw[0] == '#')
                continue;
            const std::string line = test::Utf8ToCp1251(raw);
            const std::size_t sp = line.find(' ');
            const std::string word = line.substr(0, sp);
            const std::string rest = sp == std::string::npos ? std::string() : line.substr(sp + 1);
            std::vector<std::string> pieces;
            char command = static_cast<char>(std::size(fuzz::kDispatchCommands));
            if (word == "flag") {
                const int bit = rest.starts_with("SmsSending") ? 1 : rest.starts_with("UssdPending") ? 2 : 4;
                flags = rest.ends_with(" 1") ? (flags | bit) : (flags & ~bit);
            } else if (word == "on" || word == "always") {
                const std::size_t arrow = rest.find(" => ");
                if (arrow != std::string::npos) {
                    pieces = ReplyPieces(rest.substr(arrow + 4));
                    command = CommandSelector(Unescape(rest.substr(0, arrow)));
                }
            } else if (word == "rx") {
                const std::size_t at = rest.find(' ');
                if (at != std::string::npos)
                    pieces = {Unescape(rest.substr(at + 1))};
            }
            if (pieces.empty())
                continue;
            Put("fuzz_reply_dispatch", stem + "_" + std::to_string(++n),
                std::string{static_cast<char>(flags), command} + Joined(pieces, '\0'));
            conversation.insert(conversation.end(), pieces.begin(), pieces.end());

            // The message parser sees the pieces as they stand together in the buffer.
            std::string whole;
            for (const std::string& piece : pieces)
                whole += piece;
            if (whole.find("+CMGL:") != std::string::npos)
                Put("fuzz_read_reply", stem + "_" + std::to_string(n), '\x28' + whole);
            else if (const std::size_t read = whole.find("+CMGR:"); read != std::string::npos)
                Put("fuzz_read_reply", stem + "_" + std::to_string(n), '\x00' + whole);
        }
        if (conversation.size() > 1)
            Put("fuzz_reply_dispatch", stem + "_all",
                std::string{static_cast<char>(flags), static_cast<char>(std::size(fuzz::kDispatchCommands))}
                    + Joined(conversation, '\0'));
    }
    Put("fuzz_read_reply", "empty_index_bare_ok", std::string(1, '\x04') + "AT+CMGR=5\r\r\nOK\r\n");
    Put("fuzz_read_reply", "empty_index_siemens", std::string(1, '\x04') + "\r\n+CMGR: 0,,0\r\n\r\nOK\r\n");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: fuzz_make_seeds <corpus folder>\n";
        return 2;
    }
    try {
        g_out = argv[1];
        TableSeeds();
        Ucs2Seeds();
        SmsPduSeeds();
        TranscriptSeeds(fs::path(KORVALEN_TEST_SOURCE_DIR) / "tests" / "modem" / "transcripts");
    } catch (const std::exception& e) {
        std::cerr << "fuzz_make_seeds: " << e.what() << "\n";
        return 1;
    }
    std::cout << g_written.size() << " seeds written to " << g_out.string() << "\n";
    return 0;
}
