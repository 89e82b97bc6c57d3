#pragma once
// The journal tool's work, apart from its main() so that tests can run it.
#include <iosfwd>
#include <string>
#include <string_view>

namespace kv {
class MemTable;
}

namespace kv::jrn {

// Code page 1251 to UTF-8; the one byte without a character becomes U+FFFD.
std::string Cp1251ToUtf8(std::string_view text);

struct Options {
    bool iso = false; // date-times as ISO 8601 local time, with milliseconds
    char separator = ';'; // the station's export uses ";"
};

// Field definitions and every record, one value per line.
void Dump(const MemTable& table, std::ostream& out, const Options& options = {});
// A header of field names, then one line per record (RFC 4180 quoting,
// CR LF line ends); date-times as dd.mm.yyyy hh:mm:ss; null is empty; texts
// made safe for a spreadsheet as kv::CsvField does for the search window.
void WriteCsv(const MemTable& table, std::ostream& out, const Options& options = {});

// korvalen-jrn [--iso] [--sep C] dump|csv|check FILE, or --help (on `out`,
// exit 0). FILE's log segments are read with it. Returns the exit code: 0
// done, 1 the file did not load (the reason on `err`), 2 wrong usage.
int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

} // namespace kv::jrn
