#include "tests/e2e/JournalTool.h"

#include "tests/support/Csv.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

namespace kv::test {

namespace {

std::string Quoted(const std::string& arg)
{
    std::string out = "'";
    for (char c : arg) {
        if (c == '\'')
            out += "'\\''";
        else
            out.push_back(c);
    }
    return out + "'";
}

} // namespace

ToolRun RunJournalTool(const std::vector<std::string>& args)
{
    const char* bin = std::getenv("KORVALEN_BIN_DIR");
    std::string command = Quoted((std::filesystem::path(bin ? bin : ".") / "korvalen-jrn").string());
    for (const std::string& a : args)
        command += " " + Quoted(a);
    command += " 2>&1";
    ToolRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        run.output = "cannot run " + command;
        return run;
    }
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        run.output.append(chunk, n);
    const int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::vector<CsvRow> ParseCsv(const std::string& text)
{
    const std::vector<std::vector<std::string>> records = ReadCsvRecords(text, ';');
    std::vector<CsvRow> rows;
    if (records.empty())
        return rows;
    const std::vector<std::string>& header = records.front();
    for (std::size_t r = 1; r < records.size(); ++r) {
        CsvRow row;
        for (std::size_t f = 0; f < header.size() && f < records[r].size(); ++f)
            row[header[f]] = records[r][f];
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<CsvRow> ReadTableFile(const std::string& file)
{
    const ToolRun run = RunJournalTool({"csv", file});
    if (run.exitCode != 0) {
        ADD_FAILURE() << "korvalen-jrn csv " << file << " exited " << run.exitCode << ": " << run.output;
        return {};
    }
    return ParseCsv(run.output);
}

} // namespace kv::test
