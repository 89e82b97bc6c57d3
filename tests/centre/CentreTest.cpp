// The centre's parts that need no database: text conversion, the settings,
// and a station without [Database] left exactly as it was.
#include "centre/LinkWatch.h"
#include "centre/Pg.h"
#include "centre/Settings.h"
#include "centre/Utf8.h"
#include "core/StationCore.h"
#include "data/RecordEvent.h"
#include "data/Text.h"
#include "devices/DeviceRegister.h"
#include "tests/support/Cp1251.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using namespace kv::literals;
using kv::test::TempDir;

TEST(CentreText, EveryCp1251ByteGoesToUtf8AndComesBackWhole)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    const std::string utf8 = kv::Utf8FromCp1251(all);
    EXPECT_EQ(kv::Cp1251FromUtf8(utf8), all);
    // The code page's own characters are the ones the C library knows; the
    // two bytes it has no character for go to our stand-ins.
    for (int b = 1; b < 256; ++b) {
        if (b == 0x98)
            continue;
        const std::string one(1, static_cast<char>(b));
        EXPECT_EQ(kv::Utf8FromCp1251(one), kv::test::Cp1251ToUtf8(one)) << "byte " << b;
    }
    EXPECT_EQ(kv::Utf8FromCp1251(std::string(1, '\0')), "\u2400");
    EXPECT_EQ(kv::Utf8FromCp1251("\x98"), "\u03E8");
}

TEST(CentreText, ACharacterTheCodePageLacksBecomesAQuestionMark)
{
    EXPECT_EQ(kv::Cp1251FromUtf8("Тревога №5 \u4E2D \U0001F600!"), kv::Str("Тревога №5 ? ?!"_cp));
    EXPECT_EQ(kv::Cp1251FromUtf8("a\xC3"), "a?"); // cut short
}

TEST(CentreSettings, TheDatabaseSectionNamesTheServerAndTheStation)
{
    struct Case {
        const char* ini;
        bool centre;
        std::string connection, station;
    };
    const std::string host = kv::centre::HostName();
    const Case cases[] = {
        {"[MainDevice]\r\nCPort=/dev/ttyUSB0\r\n", false, "", ""},
        {"[Database]\r\nStation=r1\r\n", false, "", ""},
        {"[Database]\r\nConnection=  \r\nStation=r1\r\n", false, "", ""},
        {"[database]\r\nconnection=host=a,b dbname=kv target_session_attrs=read-write\r\nstation=r1\r\n", true,
         "host=a,b dbname=kv target_session_attrs=read-write", "r1"},
        {"[Database]\r\nConnection=host=/tmp\r\n", true, "host=/tmp", host},
        {"[Database]\r\nConnection=host=/tmp\r\nStation=\xCF\xF3\xEB\xFC\xF2 1\r\n", true, "host=/tmp", "Пульт 1"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        kv::test::WriteFileBytes(dir.File("config.ini"), c.ini);
        const auto s = kv::centre::ReadDatabaseSettings(kv::IniFile("config.ini"));
        ASSERT_EQ(s.has_value(), c.centre) << c.ini;
        if (s) {
            EXPECT_EQ(s->connection, c.connection);
            EXPECT_EQ(s->station, c.station);
        }
    }
}

TEST(CentreSettings, TheHostThatAnsweredLastIsTriedFirstAndTheRestKeepTheirOrder)
{
    struct Case {
        const char *conninfo, *host, *port, *tried;
    };
    const Case cases[] = {
        {"host=a,b port=1,2 target_session_attrs=read-write", "b", "2",
         "host='b,a' port='2,1' target_session_attrs='read-write'"},
        // Two servers on one machine or socket folder differ by their ports.
        {"host=/s,/s,/s port=5432,5433,5434", "/s", "5434", "host='/s,/s,/s' port='5434,5432,5433'"},
        {"host=a,b,c port=5432 dbname=k", "c", "5432", "dbname='k' host='c,a,b' port='5432'"},
        {"host=a,b hostaddr=10.0.0.1,10.0.0.2", "b", "5432", "host='b,a' hostaddr='10.0.0.2,10.0.0.1'"},
        {"hostaddr=10.0.0.1,10.0.0.2", "10.0.0.2", "5432", "hostaddr='10.0.0.2,10.0.0.1'"},
        {"postgresql://a:1,b:2/k?target_session_attrs=read-write", "b", "2",
         "dbname='k' host='b,a' port='2,1' target_session_attrs='read-write'"},
        {"host=a,b password='it\\'s \\\\ x'", "b", "5432", "host='b,a' password='it\\'s \\\\ x'"},
        // Nothing to change, or nothing it can read: as it was.
        {"host=a,b port=1,2", "a", "1", "host=a,b port=1,2"},
        {"host=a,b port=1,2", "b", "1", "host=a,b port=1,2"},
        {"host=a port=1", "a", "1", "host=a port=1"},
        {"host=a,b nonsense=1", "b", "5432", "host=a,b nonsense=1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(kv::pg::HostFirst(c.conninfo, c.host, c.port), c.tried) << c.conninfo;
}

TEST(CentreLink, TheTechnologicalJournalHearsOfEachLossAndReturnOnce)
{
    using kv::centre::Link;
    struct Step {
        Link link;
        const char* error;
        std::uint64_t backlog;
        std::string line; // empty: none
    };
    const std::string lost = kv::Str("Нет связи с базой данных центра: "_cp);
    const std::string kept = kv::Str("; события сохраняются в журнале и будут отправлены"_cp);
    const Step steps[] = {
        {Link::Connecting, "", 0, ""},
        {Link::Unreachable, "refused", 3, lost + "refused" + kept},
        {Link::Unreachable, "refused", 4, ""},
        {Link::Unreachable, "timeout", 5, ""},
        {Link::Connected, "timeout", 5, kv::Str("Связь с базой данных центра установлена, к отправке событий: 5"_cp)},
        {Link::Connected, "timeout", 0, ""},
        {Link::Unreachable, "gone", 2, lost + "gone" + kept},
        {Link::Connected, "gone", 2, kv::Str("Связь с базой данных центра восстановлена, к отправке событий: 2"_cp)},
    };
    kv::centre::LinkWatch watch;
    for (const Step& s : steps) {
        std::vector<std::string> lines;
        watch.Poll({s.link, s.error, s.backlog}, [&](const std::string& text, kv::Rgb) { lines.push_back(text); });
        EXPECT_EQ(lines, s.line.empty() ? std::vector<std::string>{} : std::vector<std::string>{s.line}) << s.error;
    }

    // The same states as the modem window's field and the main window's banner tell them.
    EXPECT_EQ(kv::centre::StateText({Link::Connecting, "", 0}), kv::Str("подключение..."_cp));
    EXPECT_EQ(kv::centre::StateText({Link::Connected, "old", 0}), kv::Str("подключена, не отправлено: 0"_cp));
    EXPECT_EQ(kv::centre::StateText({Link::Unreachable, "refused", 7}),
              kv::Str("нет связи: refused, не отправлено: 7"_cp));
    EXPECT_EQ(kv::centre::BannerText({Link::Connected, "", 7}), "");
    EXPECT_EQ(kv::centre::BannerText({Link::Connecting, "", 7}), "") << "a first attempt is no loss yet";
    EXPECT_EQ(kv::centre::BannerText({Link::Unreachable, "x", 7}),
              kv::Str("Нет связи с базой центра, события на диске: 7"_cp));
    // A desk's banner tells a lost feed too, the forwarder's loss first.
    EXPECT_EQ(kv::centre::DeskBannerText({Link::Unreachable, "x", 7}, Link::Unreachable),
              kv::Str("Нет связи с базой центра, события на диске: 7"_cp));
    EXPECT_EQ(kv::centre::DeskBannerText({Link::Connected, "", 0}, Link::Unreachable),
              kv::Str("Нет связи с базой центра: события других станций не поступают"_cp));
    EXPECT_EQ(kv::centre::DeskBannerText({Link::Connected, "", 0}, Link::Connecting), "");
    EXPECT_EQ(kv::centre::DeskBannerText({Link::Connected, "", 0}, Link::Connected), "");
}

TEST(CentreForwarder, WithoutADatabaseSectionNothingStartsAndNoFileIsWritten)
{
    TempDir dir;
    kv::test::WriteFileBytes(dir.File("config.ini"), "[MainDevice]\r\nCPort=/dev/ttyUSB0\r\n");
    kv::DeviceRegister reg;
    kv::StationCore core(reg, "config.ini");
    core.Open([](const std::string&) {}, [](const std::string&) {});
    EXPECT_EQ(core.Centre(), nullptr);
    kv::RecordEvent(core.EventsTable, "S", "+7", "a", nullptr, 45000.5);
    core.EventsLog->SyncNow();
    EXPECT_FALSE(std::filesystem::exists("forwarded.ini"));
}

} // namespace
