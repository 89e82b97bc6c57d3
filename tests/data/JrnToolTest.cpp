#include "data/DurableJournal.h"
#include "data/JournalSearch.h"
#include "data/MemTable.h"
#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "data/TableFormat.h"
#include "data/Text.h"
#include "data/TextExport.h"
#include "tests/support/Csv.h"
#include "tests/support/TempDir.h"
#include "timing/DateTime.h"
#include "tools/jrn/JournalText.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <sys/wait.h>

using namespace kv::literals;
using namespace std::string_literals;

namespace {

std::string Utf8(const char8_t* s)
{
    return reinterpret_cast<const char*>(s);
}

TEST(JournalTool, ConvertsCodePage1251ToUtf8)
{
    EXPECT_EQ(kv::jrn::Cp1251ToUtf8("Тревога №1 Ёё"_cp), Utf8(u8"Тревога №1 Ёё"));
    EXPECT_EQ(kv::jrn::Cp1251ToUtf8("a\x98z"), Utf8(u8"a\uFFFDz"));
    std::string all;
    for (int c = 1; c < 256; ++c)
        all.push_back(static_cast<char>(c));
    const std::string out = kv::jrn::Cp1251ToUtf8(all);
    EXPECT_EQ(out.substr(0, 127), all.substr(0, 127));
    EXPECT_EQ(out.substr(out.size() - 2), Utf8(u8"я"));
}

const kv::MemTable& SampleJournal()
{
    static kv::MemTable t;
    if (t.FieldCount() > 0)
        return t;
    kv::DefineJournal(t);
    kv::RecordEvent(t, "Тревога"_cp, "+7900", "plain", nullptr, kv::EncodeDateTime({2010, 1, 1, 12, 0, 0, 0}));
    t.First();
    t.Insert();
    t.FieldByName("EventTime").SetAsDateTime(kv::EncodeDateTime({2024, 2, 29, 23, 59, 58, 250}));
    t.FieldByName("Status").SetAsString("Логин"_cp);
    t.FieldByName("tel").SetAsString("a,b");
    t.FieldByName("event").SetAsString("say \"hi\"\r\nbye");
    t.Post();
    return t;
}

TEST(JournalTool, CsvQuotesWhatNeedsItAndWritesIsoTimes)
{
    std::ostringstream out;
    kv::jrn::WriteCsv(SampleJournal(), out, {.iso = true, .separator = ','});
    EXPECT_EQ(out.str(), Utf8(u8"EventTime,Status,tel,event,simplename\r\n"
                              u8"2024-02-29T23:59:58.250,Логин,\"a,b\",\"say \"\"hi\"\"\r\nbye\",\r\n"
                              u8"2010-01-01T12:00:00,Тревога,'+7900,plain,\r\n"));
    // By default as the station exports: ";" and the station's own date form.
    out.str("");
    kv::jrn::WriteCsv(SampleJournal(), out);
    EXPECT_EQ(out.str(), Utf8(u8"EventTime;Status;tel;event;simplename\r\n"
                              u8"29.02.2024 23:59:58;Логин;a,b;\"say \"\"hi\"\"\r\nbye\";\r\n"
                              u8"01.01.2010 12:00:00;Тревога;'+7900;plain;\r\n"));
}

TEST(SpreadsheetCsv, AFieldThatASpreadsheetWouldRunOrTurnIntoANumberIsMarkedAsText)
{
    const struct {
        std::string text, cell;
    } cases[] = {
        {"=1+2", "'=1+2"},
        {"@SUM(9,9)", "\"'@SUM(9,9)\""},
        {"+79111234567", "'+79111234567"},
        {"-1", "'-1"},
        {"\tx", "'\tx"},
        {"\r=1", "\"'\r=1\""},
        {"'quoted", "''quoted"},
        {"a=1+2", "a=1+2"},
        {"bell\x07" "esc\x1B[2J del\x7F", Utf8(u8"bell\u2407esc\u241B[2J del\u2421")},
        {"\x01=", Utf8(u8"\u2401=")},
        {"say \"hi\";\nbye", "\"say \"\"hi\"\";\nbye\""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kv::CsvField(c.text, ','), c.cell) << c.text;
    EXPECT_EQ(kv::CsvField("-1.5", ',', true), "-1.5") << "a number the program wrote stays a number";
    EXPECT_EQ(kv::CsvField("\x07", ',', true), Utf8(u8"\u2407"));
}

// The search window's export and the journal tool share the rule: hostile
// texts read back as they were, control bytes as their pictures.
TEST(SpreadsheetCsv, BothExportersReadBackTheSameTexts)
{
    const std::string texts[] = {"=1+2", "@SUM(9,9)", "+79111234567", "-1", "\tTAB first", "\rCR first",
                                 "bell\x07 esc\x1B", "a;b,c", "\"q\"", "two\r\nlines", "'", "=HYPERLINK(\"x\")"};
    kv::MemTable t;
    kv::DefineJournal(t);
    for (const std::string& text : texts) {
        t.Append();
        t.FieldByName("EventTime").SetAsDateTime(kv::EncodeDateTime({2026, 1, 2, 3, 4, 5, 0}));
        t.FieldByName("Status").SetAsString("Тревога"_cp);
        for (const char* field : {"tel", "event", "simplename"})
            t.FieldByName(field).SetAsString(text);
        t.Post();
    }
    auto shown = [](std::string text) {
        for (const auto& [byte, picture] : {std::pair{"\x07", u8"\u2407"}, std::pair{"\x1B", u8"\u241B"}})
            if (const auto at = text.find(byte); at != std::string::npos)
                text.replace(at, 1, Utf8(picture));
        return text;
    };

    std::ostringstream tool;
    kv::jrn::WriteCsv(t, tool, {.iso = true, .separator = ','});
    const auto toolRows = kv::test::ReadCsvRecords(tool.str(), ',');
    const auto rows = kv::SearchJournal(t, {});
    const auto searchRows = kv::test::ReadCsvRecords(kv::JournalCsv(t, rows).substr(3), ';');
    ASSERT_EQ(toolRows.size(), std::size(texts) + 1);
    ASSERT_EQ(searchRows.size(), std::size(texts) + 1);
    for (std::size_t r = 1; r <= std::size(texts); ++r) {
        const std::string expected = shown(texts[r - 1]);
        SCOPED_TRACE(expected);
        EXPECT_EQ(toolRows[r], (std::vector<std::string>{toolRows[r][0], Utf8(u8"Тревога"), expected, expected,
                                                         expected}));
        EXPECT_EQ(toolRows[r][0], "2026-01-02T03:04:05");
        EXPECT_EQ(searchRows[r], (std::vector<std::string>{"02.01.2026 03:04:05", Utf8(u8"Тревога"), expected,
                                                           expected, expected}));
    }
    for (const std::string cell : {",'=1+2,", ",\"'@SUM(9,9)\",", ",'+79111234567,", ",'-1,", ",'\tTAB first,", ",\"'\rCR first\","})
        EXPECT_NE(tool.str().find(cell), std::string::npos) << cell;
    EXPECT_EQ(tool.str().find('\x07'), std::string::npos);
    EXPECT_EQ(tool.str().find('\x1B'), std::string::npos);
}

TEST(JournalTool, DumpShowsFieldsAndRecordsWithNulls)
{
    std::ostringstream out;
    kv::jrn::Dump(SampleJournal(), out, {.iso = true});
    std::string s = out.str();
    EXPECT_NE(s.find("Fields: 5\n  1. EventTime DateTime size 0 label \"EventTime\" width 14\n"), std::string::npos);
    EXPECT_NE(s.find("Records: 2\n[1]\n  EventTime: 2024-02-29T23:59:58.250\n"), std::string::npos);
    out.str("");
    kv::jrn::Dump(SampleJournal(), out);
    s = out.str();
    EXPECT_NE(s.find("Records: 2\n[1]\n  EventTime: 29.02.2024 23:59:58\n"), std::string::npos) << s;
    EXPECT_NE(s.find("  event: say \"hi\"\\r\\nbye\n  simplename: (null)\n"), std::string::npos);
    EXPECT_NE(s.find(Utf8(u8"  Status: Тревога\n")), std::string::npos);
}

int RunTool(std::initializer_list<const char*> args, std::string& out, std::string& err)
{
    std::vector<const char*> argv = {"korvalen-jrn"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::ostringstream o, e;
    const int code = kv::jrn::Run(static_cast<int>(argv.size()), argv.data(), o, e);
    out = o.str();
    err = e.str();
    return code;
}

TEST(JournalTool, CheckReportsCountOrTheLoadersMessage)
{
    kv::test::TempDir dir;
    kv::TableFormat().Save(SampleJournal(), "t3.bin");
    // Format 100: no format number, no index list, bare values.
    kv::test::WriteFileBytes("old.jrn", "TPF0\x01\x06\x01k\x06\x07Integer\x02\x00\x06\x01k\x06\x00\x02\x0A\x08\x08"
                                        "\x00\x01\x02\x05\x02\x06\x00"s);
    kv::test::WriteFileBytes("bad.bin", "not a table");
    std::string out, err;
    EXPECT_EQ(RunTool({"check", "t3.bin"}, out, err), 0);
    EXPECT_EQ(out, "OK 2\n");
    EXPECT_EQ(RunTool({"check", "old.jrn"}, out, err), 0) << err;
    EXPECT_EQ(out, "OK 2\n");
    EXPECT_EQ(RunTool({"check", "bad.bin"}, out, err), 1);
    EXPECT_EQ(err, "Invalid stream format\n");
    EXPECT_EQ(RunTool({"check", "none.bin"}, out, err), 1);
    EXPECT_EQ(err, "Cannot open file none.bin\n");
    EXPECT_EQ(RunTool({"csv"}, out, err), 2);
    EXPECT_EQ(RunTool({"print", "t3.bin"}, out, err), 2);

    // The installed program answers the same way.
    // The tool is built beside the tests.
    const std::string tool = (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "korvalen-jrn").string();
    EXPECT_EQ(WEXITSTATUS(std::system((tool + " check t3.bin > out.txt").c_str())), 0);
    EXPECT_EQ(kv::test::ReadFileBytes("out.txt"), "OK 2\n");
    EXPECT_EQ(WEXITSTATUS(std::system((tool + " check bad.bin 2> err.txt").c_str())), 1);
    EXPECT_EQ(kv::test::ReadFileBytes("err.txt"), "Invalid stream format\n");
}

// What a running (or crashed) station holds: the table file and the rows
// logged since its last fold, here in two segments, the second begun after a
// fold that could not write.
TEST(JournalTool, ReadsTheRowsARunningStationHoldsInItsLogSegments)
{
    kv::test::TempDir dir;
    namespace fs = std::filesystem;
    kv::TableFormat format;
    auto run = [&](std::initializer_list<const char*> events, bool foldFails) {
        kv::MemTable table{"EventsTable"};
        kv::DefineJournal(table);
        kv::DurableJournal journal(table, "t3.bin", format);
        if (foldFails) {
            fs::create_directory("t3.bin.fold");
            kv::test::WriteFileBytes("t3.bin.fold/keep", "x");
        }
        journal.Open("empty", [](const std::string&) {}, 45000.0);
        fs::remove_all("t3.bin.fold");
        int n = 0;
        for (const char* e : events)
            kv::RecordEvent(table, "S", "+7", e, nullptr, kv::EncodeDateTime({2026, 3, 4, 5, 6, ++n, 0}));
        journal.SyncNow();
        // Dropped without a fold, as a kill leaves it.
    };
    run({"a", "b"}, false);
    run({"c", "d", "e"}, true);
    std::vector<std::string> segments;
    for (const auto& e : fs::directory_iterator("."))
        if (e.path().filename().string().rfind("t3.bin.log.", 0) == 0)
            segments.push_back(e.path().filename().string());
    std::sort(segments.begin(), segments.end());
    ASSERT_EQ(segments.size(), 2u);
    kv::MemTable fileAlone;
    format.Load(fileAlone, "t3.bin");
    ASSERT_EQ(fileAlone.TotalRecordCount(), 1u) << "only the creation row is in the file";
    const auto before = fs::last_write_time("t3.bin");

    std::string out, err;
    EXPECT_EQ(RunTool({"check", "t3.bin"}, out, err), 0) << err;
    EXPECT_EQ(out, "OK 6 (5 of them from the log segments)\n");
    ASSERT_EQ(RunTool({"csv", "t3.bin"}, out, err), 0) << err;
    const auto rows = kv::test::ReadCsvRecords(out, ';');
    ASSERT_EQ(rows.size(), 7u) << out;
    std::vector<std::string> events;
    for (std::size_t r = 1; r < rows.size(); ++r)
        events.push_back(rows[r][3]);
    EXPECT_EQ(events, (std::vector<std::string>{"e", "d", "c", "b", "a", Utf8(u8"Создание журнала")}));
    EXPECT_EQ(rows[1][0], "04.03.2026 05:06:03");
    ASSERT_EQ(RunTool({"--iso", "csv", "--sep", ",", "t3.bin"}, out, err), 0) << err;
    EXPECT_EQ(out.substr(0, out.find("\r\n", out.find("\r\n") + 2)),
              "EventTime,Status,tel,event,simplename\r\n2026-03-04T05:06:03,S,'+7,e,");
    ASSERT_EQ(RunTool({"dump", "t3.bin"}, out, err), 0) << err;
    EXPECT_NE(out.find("Records: 6\n"), std::string::npos);

    // Read-only: nothing folded, created or removed.
    std::vector<std::string> after;
    for (const auto& e : fs::directory_iterator("."))
        after.push_back(e.path().filename().string());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, (std::vector<std::string>{"t3.bin", segments[0], segments[1]}));
    EXPECT_EQ(fs::last_write_time("t3.bin"), before);

    // A segment named as FILE is refused, naming the table to give instead;
    // so is a segment under another name.
    EXPECT_EQ(RunTool({"check", segments[1].c_str()}, out, err), 1);
    EXPECT_NE(err.find("give the table file t3.bin instead"), std::string::npos) << err;
    fs::copy_file(segments[0], "copy.bin");
    EXPECT_EQ(RunTool({"csv", "copy.bin"}, out, err), 1);
    EXPECT_NE(err.find("copy.bin is a log segment"), std::string::npos) << err;
    EXPECT_EQ(out, "");
}

TEST(JournalTool, HelpGoesToStandardOutputAndWrongOptionsAreRefused)
{
    kv::test::TempDir dir;
    kv::TableFormat().Save(SampleJournal(), "t3.bin");
    std::string out, err;
    EXPECT_EQ(RunTool({"--help"}, out, err), 0);
    EXPECT_NE(out.find("usage: korvalen-jrn"), std::string::npos);
    EXPECT_EQ(err, "");
    EXPECT_EQ(RunTool({"csv", "--sep", "tab", "t3.bin"}, out, err), 0);
    EXPECT_EQ(out.substr(0, out.find("\r\n")), "EventTime\tStatus\ttel\tevent\tsimplename");
    for (auto args : {std::initializer_list<const char*>{"csv", "--sep", "t3.bin"},
                      std::initializer_list<const char*>{"csv", "--sep", "\"", "t3.bin"},
                      std::initializer_list<const char*>{"csv", "--sep", ";;", "t3.bin"},
                      std::initializer_list<const char*>{"--utc", "csv", "t3.bin"}}) {
        EXPECT_EQ(RunTool(args, out, err), 2) << *(args.begin() + 1);
        EXPECT_EQ(out, "");
    }

    const std::string tool = (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "korvalen-jrn").string();
    EXPECT_EQ(WEXITSTATUS(std::system((tool + " --help > out.txt 2> err.txt").c_str())), 0);
    EXPECT_NE(kv::test::ReadFileBytes("out.txt").find("--sep"), std::string::npos);
    EXPECT_EQ(kv::test::ReadFileBytes("err.txt"), "");
}

} // namespace
