// Every file the station's data layer writes is its owner's alone (0600),
// made so by the station itself and not by the umask, also when an older
// station had left it readable by everyone.
#include "data/AtomicFile.h"
#include "data/DurableJournal.h"
#include "data/JournalSearch.h"
#include "data/Schemas.h"
#include "data/SmsReceipts.h"
#include "data/TableFormat.h"
#include "data/TileStates.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

unsigned ModeOf(const fs::path& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

// The widest umask: modes are the station's own.
struct OpenUmask {
    OpenUmask() : previous(::umask(0)) {}
    ~OpenUmask() { ::umask(previous); }
    mode_t previous;
};

TEST(PrivateFiles, EachKindIsCreatedAndRewrittenAs0600)
{
    kv::test::TempDir dir;
    const OpenUmask umask;
    kv::MemTable journal;
    kv::DefineJournal(journal);
    const struct {
        const char* file;
        std::function<bool()> write;
    } kinds[] = {
        {"t4.bin", [&] { kv::TableFormat().Save(journal, "t4.bin"); return true; }},
        {"t5.bin", [] { return kv::SaveTileStates(kv::TileStates{}, "t5.bin") == kv::TileSave::Saved; }},
        {"t3.bin.sms", [] { return kv::SmsReceipts("t3.bin.sms").Add("1|+7|t|body", 1.0); }},
        {"found.csv", [&] { return kv::ExportJournalCsv(journal, {}, "found.csv"); }},
        {"saved.jrn", [&] { kv::TableFormat().Save(journal, "saved.jrn"); return true; }},
    };
    for (const bool existed : {false, true}) {
        for (const auto& kind : kinds) {
            SCOPED_TRACE(std::string(kind.file) + (existed ? " over a 0644 file" : " new"));
            if (existed) {
                kv::test::WriteFileBytes(kind.file, "old");
                ::chmod(kind.file, 0644);
            } else {
                fs::remove(kind.file);
            }
            ASSERT_TRUE(kind.write());
            EXPECT_EQ(ModeOf(kind.file), 0600u);
        }
    }
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_EQ(ModeOf(entry.path()), 0600u) << entry.path() << ": no temporary file left, none wider";
}

TEST(PrivateFiles, TheJournalAndItsLogSegmentsAre0600)
{
    kv::test::TempDir dir;
    const OpenUmask umask;
    kv::MemTable table;
    kv::DefineJournal(table);
    kv::TableFormat format;
    auto journal = std::make_unique<kv::DurableJournal>(table, "t3.bin", format);
    journal->Open("empty", [](const std::string&) {}, 45000.0);
    journal->Fold();
    int segments = 0;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        segments += entry.path().filename().string().rfind("t3.bin.log.", 0) == 0;
        EXPECT_EQ(ModeOf(entry.path()), 0600u) << entry.path();
    }
    EXPECT_GE(segments, 1);
    journal->Close();
}

TEST(PrivateFiles, FoldersAreMade0700AndAnOlderFileIsNarrowed)
{
    kv::test::TempDir dir;
    const OpenUmask umask;
    ASSERT_TRUE(kv::MakePrivateFolder((dir.path() / "home/.local/share/korvalen").string()));
    for (const char* folder : {"home", "home/.local", "home/.local/share", "home/.local/share/korvalen"})
        EXPECT_EQ(ModeOf(dir.path() / folder), 0700u) << folder;
    fs::create_directory(dir.path() / "open");
    ::chmod((dir.path() / "open").c_str(), 0755);
    EXPECT_TRUE(kv::MakePrivateFolder((dir.path() / "open").string()));
    EXPECT_EQ(ModeOf(dir.path() / "open"), 0700u) << "the station's own folder of an older version";
    kv::test::WriteFileBytes("t4.bin", "x");
    ::chmod("t4.bin", 0644);
    EXPECT_TRUE(kv::MakePrivate("t4.bin"));
    EXPECT_EQ(ModeOf("t4.bin"), 0600u);
    kv::test::WriteFileBytes("plain", "x");
    EXPECT_FALSE(kv::MakePrivateFolder((dir.path() / "plain/sub").string()));
    EXPECT_FALSE(kv::MakePrivateFolder((dir.path() / "plain").string())) << "a file is no folder";
}

} // namespace
