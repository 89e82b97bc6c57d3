#pragma once
// The built journal tool run as a separate process on the files a station left
// behind: what it reads is what an operator or a support engineer would read.
#include <map>
#include <string>
#include <vector>

namespace kv::test {

struct ToolRun {
    int exitCode = -1;
    std::string output; // standard output and standard error, as printed
};

// KORVALEN_BIN_DIR/korvalen-jrn with the arguments.
ToolRun RunJournalTool(const std::vector<std::string>& args);

// One record of `korvalen-jrn csv`, UTF-8 values by field name; null is "".
using CsvRow = std::map<std::string, std::string>;
// The records of a table file as the tool prints them; a file the tool cannot
// read fails the test (and gives no rows).
std::vector<CsvRow> ReadTableFile(const std::string& file);
// RFC 4180 records with a header line.
std::vector<CsvRow> ParseCsv(const std::string& text);

} // namespace kv::test
