#include "tests/support/Csv.h"

namespace kv::test {

namespace {

// A leading apostrophe marks a text cell; spreadsheets do not show it.
std::string CellText(std::string&& field)
{
    if (!field.empty() && field.front() == '\'')
        field.erase(0, 1);
    return std::move(field);
}

} // namespace

std::vector<std::vector<std::string>> ReadCsvRecords(const std::string& text, char separator)
{
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;
    bool any = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field.push_back('"');
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field.push_back(c);
            }
            continue;
        }
        if (c == '"') {
            quoted = true;
            any = true;
        } else if (c == separator) {
            record.push_back(CellText(std::move(field)));
            field.clear();
            any = true;
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
            record.push_back(CellText(std::move(field)));
            field.clear();
            records.push_back(std::move(record));
            record.clear();
            any = false;
        } else {
            field.push_back(c);
            any = true;
        }
    }
    if (any) {
        record.push_back(CellText(std::move(field)));
        records.push_back(std::move(record));
    }
    return records;
}

} // namespace kv::test
