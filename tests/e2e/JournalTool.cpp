#include "tests/e2e/JournalTool.h"

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
        } else if (c == ',') {
            record.push_back(std::move(field));
            field.clear();
            any = true;
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
            record.push_back(std::move(field));
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
        record.push_back(std::move(field));
        records.push_back(std::move(record));
    }
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
