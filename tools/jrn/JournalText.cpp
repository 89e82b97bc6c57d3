#include "tools/jrn/JournalText.h"

#include "data/MemTable.h"
#include "data/TableFormat.h"
#include "data/TextExport.h"
#include "timing/DateTime.h"

#include <cstdio>
#include <ostream>
#include <stdexcept>

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
    switch (t) {
    case FieldType::SmallInt:
    case FieldType::Integer:
    case FieldType::Word:
    case FieldType::Boolean:
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD:
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::DateTime:
    case FieldType::AutoInc:
    case FieldType::LargeInt:
        return true;
    default:
        return IsBinary(t);
    }
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

// A value as UTF-8 text; false when null.
bool ValueText(const MemTable& t, RecordHandle r, int f, std::string& out)
{
    if (t.IsNull(r, f))
        return false;
    const FieldType type = t.Fields()[static_cast<std::size_t>(f)].type;
    if (type == FieldType::DateTime || type == FieldType::Date || type == FieldType::Time)
        out = Iso(t.DateTime(r, f), type);
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

std::string CsvField(const std::string& s, bool plainValue = false) { return kv::CsvField(s, ',', plainValue); }

} // namespace

std::string Cp1251ToUtf8(std::string_view text) { return kv::Cp1251ToUtf8(text); }

void Dump(const MemTable& t, std::ostream& out)
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
            if (ValueText(t, r, f, value))
                out << Escaped(value) << '\n';
            else
                out << "(null)\n";
        }
    }
}

void WriteCsv(const MemTable& t, std::ostream& out)
{
    for (int f = 0; f < t.FieldCount(); ++f)
        out << (f ? "," : "") << CsvField(Cp1251ToUtf8(t.Fields()[static_cast<std::size_t>(f)].name));
    out << "\r\n";
    std::string value;
    for (std::size_t i = 0; i < t.TotalRecordCount(); ++i) {
        const RecordHandle r = t.RecordAt(i);
        for (int f = 0; f < t.FieldCount(); ++f) {
            if (f)
                out << ',';
            if (ValueText(t, r, f, value))
                out << CsvField(value, IsFormatted(t.Fields()[static_cast<std::size_t>(f)].type));
        }
        out << "\r\n";
    }
}

int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    const std::string command = argc == 3 ? argv[1] : "";
    if (command != "dump" && command != "csv" && command != "check") {
        err << "usage: korvalen-jrn dump|csv|check FILE\n"
               "  dump   fields and records as text\n"
               "  csv    records as CSV with a header of field names\n"
               "  check  OK and the record count, or why the file does not load\n";
        return 2;
    }
    MemTable table;
    try {
        TableFormat().Load(table, argv[2]);
    } catch (const std::exception& e) {
        err << Cp1251ToUtf8(e.what()) << '\n';
        return 1;
    }
    if (command == "check")
        out << "OK " << table.TotalRecordCount() << '\n';
    else if (command == "dump")
        Dump(table, out);
    else
        WriteCsv(table, out);
    out.flush();
    return out ? 0 : 1;
}

} // namespace kv::jrn
