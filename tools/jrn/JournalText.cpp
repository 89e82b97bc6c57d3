#include "tools/jrn/JournalText.h"

#include "tools/jrn/ReportCommand.h"

#include "data/DurableJournal.h"
#include "data/MemTable.h"
#include "data/RecordStore.h"
#include "data/TableFormat.h"
#include "data/TextExport.h"
#include "timing/DateTime.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <stdexcept>
#include <vector>

namespace kv::jrn {

namespace {

bool IsBinary(FieldType t)
{
    switch (t) {
    case FieldType::Bytes:
    case FieldType::VarBytes:
    case FieldType::Blob:
    case FieldType::Graphic:
    case FieldType::ParadoxOle:
    case FieldType::DBaseOle:
    case FieldType::TypedBinary:
        return true;
    default:
        return false;
    }
}

// Values the tool formats itself (numbers, dates, flags, hex): a spreadsheet
// may count with them. Everything else is text from outside, an SMS included.
bool IsFormatted(FieldType t)
{
    return detail::StorageOf(t) != detail::Storage::Text || IsBinary(t);
}

std::string Hex(std::string_view bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out = "0x";
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

std::string Iso(double value, FieldType type)
{
    const DateTimeParts p = DecodeDateTime(value);
    char buf[48];
    if (type == FieldType::Date)
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
    else if (type == FieldType::Time)
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.hour, p.minute, p.second);
    else
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                      p.second);
    std::string s = buf;
    if (p.msec != 0 && type != FieldType::Date) {
        std::snprintf(buf, sizeof buf, ".%03d", p.msec);
        s += buf;
    }
    return s;
}

// The station's own form, whatever the desktop's language; no milliseconds,
// as in the station's windows and export.
std::string Fixed(double value, FieldType type)
{
    if (type == FieldType::Time)
        return FixedTimeText(value);
    const std::string text = FixedDateTimeText(value);
    return type == FieldType::Date ? text.substr(0, text.find(' ')) : text;
}

// A value as UTF-8 text; false when null.
bool ValueText(const MemTable& t, RecordHandle r, int f, const Options& options, std::string& out)
{
    if (t.IsNull(r, f))
        return false;
    const FieldType type = t.Fields()[static_cast<std::size_t>(f)].type;
    if (type == FieldType::DateTime || type == FieldType::Date || type == FieldType::Time)
        out = options.iso ? Iso(t.DateTime(r, f), type) : Fixed(t.DateTime(r, f), type);
    else if (type == FieldType::Boolean)
        out = t.Boolean(r, f) ? "true" : "false";
    else if (IsBinary(type))
        out = Hex(t.TextView(r, f));
    else
        out = kv::Cp1251ToUtf8(t.Text(r, f));
    return true;
}

std::string Escaped(std::string_view s)
{
    std::string out;
    for (unsigned char c : s) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\')
            out += "\\\\";
        else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else
            out.push_back(static_cast<char>(c));
    }
    return out;
}

} // namespace

std::string Cp1251ToUtf8(std::string_view text) { return kv::Cp1251ToUtf8(text); }

void Dump(const MemTable& t, std::ostream& out, const Options& options)
{
    out << "Fields: " << t.FieldCount() << '\n';
    for (int f = 0; f < t.FieldCount(); ++f) {
        const FieldDef& d = t.Fields()[static_cast<std::size_t>(f)];
        out << "  " << f + 1 << ". " << Cp1251ToUtf8(d.name) << ' ' << FieldTypeName(d.type) << " size " << d.size
            << " label \"" << Cp1251ToUtf8(d.DisplayName()) << "\" width " << d.EffectiveDisplayWidth();
        if (d.kind != FieldKind::Data)
            out << " kind " << FieldKindName(d.kind);
        out << '\n';
    }
    out << "Records: " << t.TotalRecordCount() << '\n';
    std::string value;
    for (std::size_t i = 0; i < t.TotalRecordCount(); ++i) {
        const RecordHandle r = t.RecordAt(i);
        out << '[' << i + 1 << "]\n";
        for (int f = 0; f < t.FieldCount(); ++f) {
            out << "  " << Cp1251ToUtf8(t.Fields()[static_cast<std::size_t>(f)].name) << ": ";
            if (ValueText(t, r, f, options, value))
                out << Escaped(value) << '\n';
            else
                out << "(null)\n";
        }
    }
}

void WriteCsv(const MemTable& t, std::ostream& out, const Options& options)
{
    const char sep = options.separator;
    for (int f = 0; f < t.FieldCount(); ++f) {
        if (f)
            out << sep;
        out << kv::CsvField(Cp1251ToUtf8(t.Fields()[static_cast<std::size_t>(f)].name), sep);
    }
    out << "\r\n";
    std::string value;
    for (std::size_t i = 0; i < t.TotalRecordCount(); ++i) {
        const RecordHandle r = t.RecordAt(i);
        for (int f = 0; f < t.FieldCount(); ++f) {
            if (f)
                out << sep;
            if (ValueText(t, r, f, options, value))
                out << kv::CsvField(value, sep, IsFormatted(t.Fields()[static_cast<std::size_t>(f)].type));
        }
        out << "\r\n";
    }
}

namespace {

constexpr const char* kUsage =
    "usage: korvalen-jrn [--iso] [--sep C] dump|csv|check FILE\n"
    "       korvalen-jrn report [--from DATE] [--to DATE] [--object NAME] [--pdf FILE] [--csv FILE]\n"
    "       korvalen-jrn --help, korvalen-jrn report --help\n"
    "  dump   fields and records as text\n"
    "  csv    records as CSV with a header of field names (\";\" between fields)\n"
    "  check  OK and the record count, or why the file does not load\n"
    "  report the shift report of a period (see korvalen-jrn report --help)\n"
    "FILE is a table file (t1.bin ... t6.bin, a saved .jrn); the rows a running\n"
    "station holds in its log segments (FILE.log.N) are read with it.\n"
    "  --iso    date-times as yyyy-mm-ddThh:mm:ss.zzz instead of dd.mm.yyyy hh:mm:ss\n"
    "  --sep C  the CSV separator C instead of \";\" (\"--sep ,\" for commas, \"--sep tab\")\n"
    "  --help   this text\n";

// The table file a log segment belongs to ("t3.bin" for "t3.bin.log.2"),
// or nothing when the name is not one of a segment.
std::string TableOfSegment(const std::string& path)
{
    const std::string::size_type at = path.rfind(".log.");
    if (at == std::string::npos || at == 0)
        return {};
    const std::string digits = path.substr(at + 5);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
        return {};
    return path.substr(0, at);
}

bool StartsAsSegment(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    char magic[4] = {};
    return in.read(magic, 4) && std::memcmp(magic, "KVJL", 4) == 0;
}

} // namespace

int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    if (argc >= 2 && std::strcmp(argv[1], "report") == 0)
        return RunReport(argc, argv, out, err);
    Options options;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            out << kUsage;
            out.flush();
            return out ? 0 : 1;
        }
        if (arg == "--iso") {
            options.iso = true;
        } else if (arg == "--sep" || arg.rfind("--sep=", 0) == 0) {
            std::string sep = arg.size() > 5 ? arg.substr(6) : (i + 1 < argc ? argv[++i] : "");
            if (sep == "tab" || sep == "\\t")
                sep = "\t";
            // A quote or a line break would make every row unreadable.
            if (sep.size() != 1 || sep == "\"" || sep == "\r" || sep == "\n") {
                err << "korvalen-jrn: --sep takes one character (not a quote or a line break)\n" << kUsage;
                return 2;
            }
            options.separator = sep[0];
        } else if (arg.size() > 1 && arg[0] == '-') {
            err << "korvalen-jrn: unknown option " << arg << '\n' << kUsage;
            return 2;
        } else {
            words.push_back(arg);
        }
    }
    const std::string command = words.size() == 2 ? words[0] : "";
    if (command != "dump" && command != "csv" && command != "check") {
        err << kUsage;
        return 2;
    }
    const std::string& file = words[1];
    const std::string owner = TableOfSegment(file);
    if (!owner.empty() || StartsAsSegment(file)) {
        err << file << " is a log segment of a table, not a table: give the table file"
            << (owner.empty() ? std::string() : " " + owner) << " instead; its log segments are read with it\n";
        return 1;
    }
    MemTable table;
    std::size_t fromLog = 0;
    try {
        fromLog = DurableJournal::ReadWithLog(table, file, TableFormat());
    } catch (const std::exception& e) {
        err << Cp1251ToUtf8(e.what()) << '\n';
        return 1;
    }
    if (command == "check") {
        out << "OK " << table.TotalRecordCount();
        if (fromLog > 0)
            out << " (" << fromLog << " of them from the log segments)";
        out << '\n';
    } else if (command == "dump") {
        Dump(table, out, options);
    } else {
        WriteCsv(table, out, options);
    }
    out.flush();
    return out ? 0 : 1;
}

} // namespace kv::jrn
