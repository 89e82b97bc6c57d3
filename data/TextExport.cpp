#include "data/TextExport.h"

#include "data/CodePage.h"

#include <array>

namespace kv {

namespace {

// The UTF-8 of each byte, taken once from the system's converter, so the
// station's table cannot drift from the one other programs use.
using Utf8Table = std::array<std::string, 256>;

Utf8Table BuildTable()
{
    Utf8Table table;
    for (int b = 0; b < 256; ++b) {
        std::string& out = table[static_cast<std::size_t>(b)];
        if (b < 0x80)
            out = std::string(1, static_cast<char>(b));
        else if (!Cp1251CharToUtf8(static_cast<unsigned char>(b), out))
            out = "\xEF\xBF\xBD";
    }
    return table;
}

const Utf8Table& Table()
{
    static const Utf8Table table = BuildTable();
    return table;
}

} // namespace

std::string Cp1251ToUtf8(std::string_view text)
{
    const Utf8Table& table = Table();
    std::string out;
    out.reserve(text.size() * 2);
    for (unsigned char c : text) {
        if (c < 0x80)
            out.push_back(static_cast<char>(c));
        else
            out += table[c];
    }
    return out;
}

std::string CsvField(std::string_view text, char separator, bool plainValue)
{
    std::string cell;
    cell.reserve(text.size() + 1);
    if (!plainValue && !text.empty()) {
        switch (text.front()) {
        case '=':
        case '+':
        case '-':
        case '@':
        case '\t':
        case '\r':
        case '\'':
            cell.push_back('\'');
            break;
        default:
            break;
        }
    }
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t' && c != '\r' && c != '\n') || byte == 0x7F) {
            // U+2400 + byte (U+2421 for DEL) in UTF-8: E2 90 80+byte.
            const unsigned picture = byte == 0x7F ? 0x21 : byte;
            cell += "\xE2\x90";
            cell.push_back(static_cast<char>(0x80 + picture));
        } else {
            cell.push_back(c);
        }
    }
    const char special[] = {separator, '"', '\r', '\n', '\0'};
    if (cell.find_first_of(special) == std::string::npos)
        return cell;
    std::string out;
    out.reserve(cell.size() + 2);
    out.push_back('"');
    for (char c : cell) {
        if (c == '"')
            out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

} // namespace kv
