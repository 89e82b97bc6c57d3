#include "tools/jrn/JournalText.h"

#include "data/MemTable.h"
#include "data/TableFormat.h"
#include "timing/DateTime.h"

#include <cerrno>
#include <cstdio>
#include <iconv.h>
#include <ostream>
#include <stdexcept>

namespace kv::jrn {

namespace {

class Converter {
public:
    Converter() : m_cd(iconv_open("UTF-8", "CP1251"))
    {
        if (m_cd == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error("iconv cannot convert from CP1251");
    }
    ~Converter() { iconv_close(m_cd); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    std::string operator()(std::string_view text)
    {
        std::string out;
        out.reserve(text.size() * 2);
        char buffer[1024];
        char* in = const_cast<char*>(text.data());
        std::size_t inLeft = text.size();
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        while (inLeft > 0) {
            char* o = buffer;
            std::size_t oLeft = sizeof buffer;
            const std::size_t r = iconv(m_cd, &in, &inLeft, &o, &oLeft);
            out.append(buffer, static_cast<std::size_t>(o - buffer));
            if (r == static_cast<std::size_t>(-1) && errno == EILSEQ) {
                out += "\xEF\xBF\xBD";
                ++in;
                --inLeft;
            } else if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
                break;
            }
        }
        return out;
    }

private:
    iconv_t m_cd;
};

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
bool ValueText(const MemTable& t, RecordHandle r, int f, Converter& utf8, std::string& out)
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
        out = utf8(t.Text(r, f));
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

std::string CsvField(const std::string& s)
{
    if (s.find_first_of(",\"\r\n") == std::string::npos)
        return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"')
            out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

} // namespace

std::string Cp1251ToUtf8(std::string_view text)
{
    Converter utf8;
    return utf8(text);
}

void Dump(const MemTable& t, std::ostream& out)
{
    Converter utf8;
    out << "Fields: " << t.FieldCount() << '\n';
    for (int f = 0; f < t.FieldCount(); ++f) {
        const FieldDef& d = t.Fields()[static_cast<std::size_t>(f)];
        out << "  " << f + 1 << ". " << utf8(d.name) << ' ' << FieldTypeName(d.type) << " size " << d.size
            << " label \"" << utf8(d.DisplayName()) << "\" width " << d.EffectiveDisplayWidth();
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
            out << "  " << utf8(t.Fields()[static_cast<std::size_t>(f)].name) << ": ";
            if (ValueText(t, r, f, utf8, value))
                out << Escaped(value) << '\n';
            else
                out << "(null)\n";
        }
    }
}

void WriteCsv(const MemTable& t, std::ostream& out)
{
    Converter utf8;
    for (int f = 0; f < t.FieldCount(); ++f)
        out << (f ? "," : "") << CsvField(utf8(t.Fields()[static_cast<std::size_t>(f)].name));
    out << "\r\n";
    std::string value;
    for (std::size_t i = 0; i < t.TotalRecordCount(); ++i) {
        const RecordHandle r = t.RecordAt(i);
        for (int f = 0; f < t.FieldCount(); ++f) {
            if (f)
                out << ',';
            if (ValueText(t, r, f, utf8, value))
                out << CsvField(value);
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
