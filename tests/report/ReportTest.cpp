// The shift report's figures read back from a shift the alarm desk wrote, its
// periods and dates, and its PDF read back as text.
#include "report/ReportPaint.h"
#include "report/ShiftReport.h"

#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "data/Status.h"
#include "data/TableFormat.h"
#include "data/Text.h"
#include "data/TextExport.h"
#include "tests/report/ShiftJournal.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TempDir.h"
#include "station/JournalMenu.h"
#include "station/ReportWindow.h"
#include "timing/DateTime.h"
#include "timing/UiThread.h"
#include "tools/jrn/JournalText.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QImage>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

namespace kv::test {
namespace {

using namespace kv::literals;

constexpr auto K = [](ReportKind k) { return static_cast<std::size_t>(k); };

const ShiftJournal& Shift()
{
    static const ShiftJournal shift;
    return shift;
}

const ReportPeriod kDayShift{ShiftJournal::At(8, 0), ShiftJournal::At(19, 59, 59)};

TEST(ShiftReport, FiguresOfTheShiftAsTheDeskJournalledIt)
{
    const ReportFigures f = ComputeReport(Shift().main, &Shift().dial, kDayShift);

    // One of each kind in the shift: the alarm before it and the one after it
    // are not counted, nor the stranger's second SMS or the dacha's second
    // final failure, which opened no row.
    EXPECT_EQ(f.all.alarms, (std::array<int, kReportKinds>{1, 1, 1, 1, 1, 1, 1}));
    // Results: false 2 (one of an alarm before the shift), team 2, checked 2, other 1.
    EXPECT_EQ(f.all.handled, (std::array<int, kReportResults>{2, 2, 2, 1, 0}));
    EXPECT_NEAR(f.FalseAlarmShare(), 2.0 / 7, 1e-9);
    EXPECT_EQ(f.all.acknowledged, 1);
    EXPECT_EQ(f.all.leftOpen, 1);
    EXPECT_EQ(f.all.escalationsSent, 1);
    EXPECT_EQ(f.all.escalationsFailed, 0);
    EXPECT_EQ(f.all.ringCalls, 6);
    EXPECT_EQ(f.all.ringAnswered, 3);
    EXPECT_EQ(f.all.longestWait, 69u * 60);
    EXPECT_EQ(f.waitBins, (std::array<int, kWaitBins>{0, 1, 2, 3, 1}));
    EXPECT_EQ(f.byOperator, (std::map<std::string, int>{{Str("Иванов"_cp), 3}, {Str("Петров"_cp), 4}}));
    EXPECT_EQ(f.silentObjects, std::vector<std::string>{Str("Дача"_cp)});

    // Each handling found its alarm's kind, the one from before the shift too.
    ASSERT_EQ(f.handlings.size(), 7u);
    const std::pair<ReportKind, std::uint64_t> expected[] = {
        {ReportKind::Intrusion, 900},      {ReportKind::Intrusion, 210}, {ReportKind::Warning, 1200},
        {ReportKind::AlarmCall, 2400},     {ReportKind::Stranger, 600},  {ReportKind::RingRoundFailed, 4140},
        {ReportKind::LinkLost, 300},
    };
    for (std::size_t i = 0; i < f.handlings.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(f.handlings[i].kind, expected[i].first);
        EXPECT_EQ(f.handlings[i].waitSeconds, expected[i].second);
    }
    ASSERT_FALSE(f.longestWaits.empty());
    EXPECT_EQ(f.longestWaits.front().object, Str("Дача"_cp));
    EXPECT_EQ(f.longestWaits.back().waitSeconds, 210u);

    // Per object.
    const ObjectFigures& store = f.objects.at(Str("Склад"_cp));
    EXPECT_EQ(store.alarms[K(ReportKind::Intrusion)], 1);
    EXPECT_EQ(store.alarms[K(ReportKind::AlarmCall)], 1);
    EXPECT_EQ(store.escalationsSent, 1);
    EXPECT_EQ(store.longestWait, 2400u);
    const ObjectFigures& dacha = f.objects.at(Str("Дача"_cp));
    EXPECT_EQ(dacha.ringCalls, 3);
    EXPECT_EQ(dacha.ringAnswered, 0);
    EXPECT_EQ(dacha.leftOpen, 1);
    EXPECT_EQ(f.objects.at(Str("Офис"_cp)).ringAnswered, 2);
    EXPECT_EQ(f.objects.at(ShiftJournal::kStranger).alarms[K(ReportKind::Stranger)], 1);
    EXPECT_EQ(f.objects.at(Str("GSM-модем №1"_cp)).alarms[K(ReportKind::LinkLost)], 1);

    // Hourly bars from 08:00.
    ASSERT_EQ(f.timeline.size(), 12u);
    EXPECT_NEAR(f.binDays, 1.0 / 24, 1e-12);
    const std::pair<std::size_t, ReportKind> bars[] = {
        {0, ReportKind::Intrusion}, {1, ReportKind::Warning}, {2, ReportKind::AlarmCall}, {3, ReportKind::Stranger},
        {4, ReportKind::RingRoundFailed}, {7, ReportKind::Silent}, {8, ReportKind::LinkLost}};
    int total = 0;
    for (const auto& bin : f.timeline)
        for (int n : bin)
            total += n;
    EXPECT_EQ(total, 7);
    for (const auto& [hour, kind] : bars)
        EXPECT_EQ(f.timeline[hour][K(kind)], 1) << hour;
}

TEST(ShiftReport, OneObjectOrAPartOfTheShift)
{
    const struct {
        const char* name;
        ReportPeriod period;
        std::string object;
        int alarms, handled, ringCalls, escalations;
    } cases[] = {
        {"the store by name", kDayShift, Str("Склад"_cp), 2, 2, 1, 1},
        {"the store by number", kDayShift, ShiftJournal::kStore, 2, 2, 1, 1},
        {"the dacha", kDayShift, Str("Дача"_cp), 2, 1, 3, 0},
        {"an object never seen", kDayShift, Str("Гараж"_cp), 0, 0, 0, 0},
        {"a very long name", kDayShift, std::string(5000, 'x'), 0, 0, 0, 0},
        {"the morning", {ShiftJournal::At(8, 0), ShiftJournal::At(11, 59, 59)}, {}, 4, 5, 0, 1},
        {"the night after", {ShiftJournal::At(20, 0), ShiftJournal::At(23, 59, 59)}, {}, 1, 0, 0, 0},
        {"a quiet year before", {ShiftJournal::At(8, 0) - 400, ShiftJournal::At(8, 0) - 35}, {}, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ReportFigures f = ComputeReport(Shift().main, &Shift().dial, c.period, c.object);
        EXPECT_EQ(f.all.TotalAlarms(), c.alarms);
        EXPECT_EQ(f.all.TotalHandled(), c.handled);
        EXPECT_EQ(f.all.ringCalls, c.ringCalls);
        EXPECT_EQ(f.all.escalationsSent, c.escalations);
        EXPECT_LE(f.objects.size(), c.object.empty() ? 100u : 1u);
    }
    // Without the ring-round journal the rest stands.
    const ReportFigures noDial = ComputeReport(Shift().main, nullptr, kDayShift);
    EXPECT_EQ(noDial.all.ringCalls, 0);
    EXPECT_EQ(noDial.all.TotalAlarms(), 6);
    // A year in weekly bars.
    const ReportFigures year = ComputeReport(Shift().main, &Shift().dial, {ShiftJournal::At(0, 0) - 300, ShiftJournal::At(0, 0) + 65});
    EXPECT_EQ(year.binDays, 7.0);
    EXPECT_EQ(year.timeline.size(), 53u);
    EXPECT_EQ(year.all.TotalAlarms(), 9);
}

TEST(ShiftReport, RowsItCannotReadCountNoFigures)
{
    MemTable t;
    DefineJournal(t);
    const double at = ShiftJournal::At(9, 0);
    const std::pair<std::string, std::string> rows[] = {
        {Str(status::kHandling), Str("Обработано: "_cp)},
        {Str(status::kHandling), Str("Обработано: Ложная тревога. (оператор Иванов, ждала 9x:00)"_cp)},
        {Str(status::kHandling), Str("Обработано: Выезд группы. (оператор "_cp) + std::string(300, 'z')},
        {Str(status::kHandling), Str("Обработано: Что-то своё. (без оператора, ждала 1:00)"_cp)},
        {Str(status::kSmsSent), Str("Эскалация: Korvalen: тревога"_cp)},
        {Str(status::kOffline), std::string()},
        {std::string(), std::string(199, '\xFF')},
    };
    for (const auto& [status, event] : rows)
        RecordEvent(t, status, "+7900", event, nullptr, at);
    const ReportFigures f = ComputeReport(t, nullptr, kDayShift);
    EXPECT_EQ(f.rowsRead, std::size(rows));
    EXPECT_EQ(f.all.TotalAlarms(), 0);
    // Four handlings: the cut one keeps its result, an empty or unknown one is told as such.
    EXPECT_EQ(f.all.handled, (std::array<int, kReportResults>{1, 1, 0, 0, 2}));
    EXPECT_EQ(f.all.longestWait, 60u);
    EXPECT_EQ(f.all.escalationsSent, 1);
    EXPECT_TRUE(f.objects.count("+7900"));
}

TEST(ReportPeriods, DatesShiftsAndProblems)
{
    const auto at = [](int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
        return EncodeDateTime({y, mo, d, h, mi, s, 0});
    };
    const struct {
        const char* text;
        bool endOfDay;
        std::optional<double> value;
    } dates[] = {
        {"02.03.2026", false, at(2026, 3, 2)},
        {"02.03.2026", true, at(2026, 3, 2, 23, 59, 59)},
        {"2026-03-02", false, at(2026, 3, 2)},
        {"2026-03-02T08:30", true, at(2026, 3, 2, 8, 30)},
        {" 02.03.2026 20:00:15 ", false, at(2026, 3, 2, 20, 0, 15)},
        {"29.02.2024", false, at(2024, 2, 29)},
        {"29.02.2026", false, std::nullopt},
        {"31.04.2026", false, std::nullopt},
        {"2026-13-01", false, std::nullopt},
        {"02.03.2026 24:00", false, std::nullopt},
        {"02.03.2026T08:00", false, std::nullopt},
        {"02/03/2026", false, std::nullopt},
        {"02.03", false, std::nullopt},
        {"yesterday", false, std::nullopt},
        {"", false, std::nullopt},
        {"99999999999.1.1", false, std::nullopt},
        {"-1.03.2026", false, std::nullopt},
    };
    for (const auto& d : dates) {
        const std::optional<double> v = ParseReportDate(d.text, d.endOfDay);
        ASSERT_EQ(v.has_value(), d.value.has_value()) << d.text;
        if (v) {
            EXPECT_NEAR(*v, *d.value, 1e-9) << d.text;
        }
    }

    const struct {
        double now, from;
    } shifts[] = {
        {at(2026, 3, 2, 8, 0), at(2026, 3, 2, 8, 0)},
        {at(2026, 3, 2, 19, 59, 59), at(2026, 3, 2, 8, 0)},
        {at(2026, 3, 2, 20, 0), at(2026, 3, 2, 20, 0)},
        {at(2026, 3, 3, 3, 15), at(2026, 3, 2, 20, 0)},
        {at(2026, 3, 1, 7, 59, 59), at(2026, 2, 28, 20, 0)},
    };
    for (const auto& s : shifts) {
        const ReportPeriod p = CurrentShift(s.now);
        EXPECT_NEAR(p.from, s.from, 1e-7) << FixedDateTimeText(s.now);
        EXPECT_NEAR(p.to - p.from, 0.5 - 1.0 / 86400, 1e-9);
        EXPECT_TRUE(PeriodProblem(p, s.now).empty());
    }

    const double now = at(2026, 3, 2, 12, 0);
    EXPECT_NE(PeriodProblem({at(2026, 3, 2), at(2026, 3, 1)}, now).find("Период пуст"_cp), std::string::npos);
    EXPECT_NE(PeriodProblem({at(2026, 3, 3), at(2026, 3, 4)}, now).find("Период в будущем"_cp), std::string::npos);
    EXPECT_TRUE(PeriodProblem({at(2026, 3, 2), at(2026, 3, 9)}, now).empty()) << "a period still running";
}

TEST(ReportNames, SortAsAPersonDoes)
{
    const std::vector<std::string> sorted = {"",         "+79001000002", "+79001000010", "2",        "10",
                                             "a",        "a01",          "a1",           "a2",       "a10b",
                                             "a10c",     "a0100",        Str("Объект 2"_cp), Str("Объект 10"_cp),
                                             Str("Объект 10 склад"_cp)};
    const NaturalOrder less;
    for (std::size_t i = 0; i < sorted.size(); ++i)
        for (std::size_t j = 0; j < sorted.size(); ++j)
            EXPECT_EQ(less(sorted[i], sorted[j]), i < j) << sorted[i] << " / " << sorted[j];
}

std::string PdfText(const std::string& pdf)
{
    const std::string txt = pdf + ".txt";
    const int rc = std::system(("pdftotext -layout '" + pdf + "' '" + txt + "'").c_str());
    if (rc != 0)
        return "pdftotext failed (poppler-utils installed?)";
    std::ifstream in(txt);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

TEST(ReportPdf, HoldsTheFiguresAndSurvivesHostileNames)
{
    TempDir dir;
    const ReportFigures f = ComputeReport(Shift().main, &Shift().dial, kDayShift);
    std::string error;
    ASSERT_TRUE(WriteReportPdf(f, QString::fromStdString(dir.File("shift.pdf")), ShiftJournal::At(20, 0), error))
        << error;
    const std::string text = PdfText(dir.File("shift.pdf"));
    for (const char* expected : {"Отчёт за смену", "02.03.2026 08:00:00", "Тревог всего: 7", "Ложная тревога: 2",
                                 "Доля ложных тревог: 28.6%", "Эскалаций отправлено: 1", "ответили 3 из 6",
                                 "Объекты без связи: Дача", "1 ч 09 мин", "Иванов", "Петров", "Склад", "0/3",
                                 "Обработка тревог", "02.03.2026 13:10:00"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;

    // Names longer than any row, control bytes, many objects: pages, no crash.
    MemTable t;
    DefineJournal(t);
    for (int i = 0; i < 150; ++i) {
        const std::string name = std::string(i % 3 == 0 ? 45 : 5, static_cast<char>('A' + i % 26)) + "\x07" +
                                 std::to_string(i);
        RecordEvent(t, status::kAlarm, "+7" + std::to_string(i), Str("Новое сообщение:x"_cp),
                    [&](const std::string&) { return name; }, ShiftJournal::At(9, i % 60));
    }
    const ReportFigures many = ComputeReport(t, nullptr, kDayShift);
    ASSERT_EQ(many.objects.size(), 150u);
    ASSERT_TRUE(WriteReportPdf(many, QString::fromStdString(dir.File("many.pdf")), ShiftJournal::At(20, 0), error));
    const std::string manyText = PdfText(dir.File("many.pdf"));
    EXPECT_NE(manyText.find("Тревог всего: 150"), std::string::npos);
    EXPECT_NE(manyText.find("стр. 3"), std::string::npos) << "150 objects take pages";

    EXPECT_FALSE(WriteReportPdf(f, QString::fromStdString(dir.File("no/such/folder/x.pdf")), 0, error));
    EXPECT_FALSE(error.empty());
}

TEST(ReportCsv, OneRowPerObjectAndPerHandling)
{
    const ReportFigures f = ComputeReport(Shift().main, &Shift().dial, kDayShift, Str("Склад"_cp));
    std::ostringstream out;
    WriteReportCsv(f, out);
    const std::string csv = out.str();
    EXPECT_EQ(csv.rfind("\xEF\xBB\xBF", 0), 0u);
    // The store: intrusion 1, stranger columns 0, false 1, checked 1; ring 1 of 1, longest 2400 s.
    EXPECT_NE(csv.find(Cp1251ToUtf8("Склад"_cp) + ";1;0;1;0;0;0;0;1;0;1;0;0;0;0;1;0;1;1;100.0;2400\r\n"),
              std::string::npos)
        << csv;
    EXPECT_NE(csv.find(";" + Cp1251ToUtf8("Тревожный вызов"_cp) + ";" + Cp1251ToUtf8("Проверено, всё в порядке"_cp)),
              std::string::npos);
}

// korvalen-jrn report over the shift's journal files: what it writes and
// what it refuses, each with its exit code and its message.
TEST(ReportTool, WritesTheReportOrSaysWhyNot)
{
    TempDir dir;
    TableFormat().Save(Shift().main, dir.File("t3.bin"));
    TableFormat().Save(Shift().dial, dir.File("t6.bin"));
    TempDir damaged;
    WriteFileBytes(damaged.File("t3.bin"), "not a table at all");
    TempDir noDial;
    TableFormat().Save(Shift().main, noDial.File("t3.bin"));
    const std::string longName(4000, 'N');

    const struct {
        const char* name;
        std::vector<std::string> args;
        int code;
        std::string out, err; // contained
    } cases[] = {
        {"the shift", {"--from", "02.03.2026 08:00", "--to", "02.03.2026 19:59:59", "--data", dir.path().string()}, 0,
         "  Склад: тревог 2, обработано 2, ложных 1, обзвон 1/1\n", ""},
        {"one object, whole days", {"--from", "2026-03-02", "--to", "2026-03-02", "--object", "Дача", "--data", dir.path().string()},
         0, "ответили 0 из 3", ""},
        {"no ring-round journal", {"--from", "02.03.2026", "--data", noDial.path().string()}, 0, "Тревог всего: 8",
         "отчёт без обзвона"},
        {"all of time", {"--from", "01.01.1900", "--to", "31.12.9999", "--data", dir.path().string()}, 0,
         "Тревог всего: 9", ""},
        {"an empty period", {"--from", "01.01.2020", "--to", "02.01.2020", "--data", dir.path().string()}, 0,
         "Тревог всего: 0", "нет событий"},
        {"a name nobody has", {"--from", "02.03.2026", "--object", longName, "--data", dir.path().string()}, 0,
         "Тревог всего: 0", "не встречается"},
        {"a bad date", {"--from", "31.02.2026", "--data", dir.path().string()}, 2, "", "неверная дата \"31.02.2026\" (--from)"},
        {"a bad end", {"--from", "01.03.2026", "--to", "tomorrow", "--data", dir.path().string()}, 2, "", "(--to)"},
        {"the end before the start", {"--from", "03.03.2026", "--to", "01.03.2026", "--data", dir.path().string()}, 2, "",
         "Период пуст"},
        {"the future", {"--from", "01.01.2999", "--data", dir.path().string()}, 2, "", "Период в будущем"},
        {"an end alone", {"--to", "01.03.2026", "--data", dir.path().string()}, 2, "", "--to без --from"},
        {"a value missing", {"--from"}, 2, "", "нужно значение"},
        {"an unknown option", {"--form", "01.03.2026"}, 2, "", "неизвестный параметр --form"},
        {"a damaged journal", {"--from", "02.03.2026", "--data", damaged.path().string()}, 1, "", "не прочитан"},
        {"an unreachable centre", {"--from", "02.03.2026", "--database", "host=/nonexistent/kv-report"}, 1, "",
         "отчёт по центру не построен: "},
        {"a centre and a folder", {"--from", "02.03.2026", "--database", "x", "--data", dir.path().string()}, 2, "",
         "--data и --database вместе"},
        {"no journal", {"--from", "02.03.2026", "--data", dir.File("none")}, 1, "", "не прочитан"},
        {"an unwritable CSV", {"--from", "02.03.2026", "--data", dir.path().string(), "--csv", dir.File("no/x.csv")}, 1, "",
         "не удалось записать файл"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<const char*> argv = {"korvalen-jrn", "report"};
        for (const std::string& a : c.args)
            argv.push_back(a.c_str());
        std::ostringstream out, err;
        EXPECT_EQ(kv::jrn::Run(static_cast<int>(argv.size()), argv.data(), out, err), c.code) << err.str();
        EXPECT_NE(out.str().find(c.out), std::string::npos) << out.str();
        EXPECT_NE(err.str().find(c.err), std::string::npos) << err.str();
    }

    // The program itself, as a cron job runs it: no display, both files.
    const std::string pdf = dir.File("shift.pdf"), csv = dir.File("shift.csv");
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" +
                                std::string(std::getenv("KORVALEN_BIN_DIR")) + "/korvalen-jrn' report --from '02.03.2026 08:00' --to '02.03.2026 19:59:59' --data '" +
                                dir.path().string() + "' --pdf '" + pdf + "' --csv '" + csv + "' > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_NE(PdfText(pdf).find("Тревог всего: 7"), std::string::npos);
    EXPECT_NE(ReadFileBytes(csv).find(Cp1251ToUtf8("Всего"_cp) + ";1;1;1;1;1;1;1;2;2;2;1;0;1;1;1;0;6;3;50.0;4140"),
              std::string::npos)
        << ReadFileBytes(csv);
}

TEST(ReportWindow, ShowsTheShiftOrAnObjectAndSavesItsPdf)
{
    ScriptedDialogs dialogs;
    TShiftReportForm form(Shift().main, &Shift().dial);
    form.FromEdit->setDateTime(QDateTime(QDate(2026, 3, 2), QTime(8, 0)));
    form.ToEdit->setDateTime(QDateTime(QDate(2026, 3, 2), QTime(19, 59, 59)));
    ASSERT_TRUE(form.BuildButtonClick());
    EXPECT_TRUE(form.SummaryText->toPlainText().contains(QStringLiteral("Тревог всего: 7")));
    EXPECT_GE(form.ObjectBox->findText(QStringLiteral("Склад")), 1);

    // The charts are drawn: the intrusion's bar in its red.
    form.Charts->resize(800, 500);
    const QImage charts = form.Charts->grab().toImage();
    bool red = false;
    for (int y = 0; y < charts.height() && !red; ++y)
        for (int x = 0; x < charts.width() && !red; ++x)
            red = charts.pixelColor(x, y) == QColor(200, 30, 30);
    EXPECT_TRUE(red);

    form.ObjectBox->setCurrentText(QStringLiteral("Дача"));
    ASSERT_TRUE(form.BuildButtonClick());
    EXPECT_TRUE(form.SummaryText->toPlainText().contains(QStringLiteral("ответили 0 из 3")));

    // A period backwards is refused and the report shown stays.
    form.ToEdit->setDateTime(QDateTime(QDate(2026, 3, 1), QTime(0, 0)));
    EXPECT_FALSE(form.BuildButtonClick());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].text.find("Период пуст"_cp), std::string::npos);
    EXPECT_EQ(form.Figures().all.TotalAlarms(), 2);

    TempDir dir;
    dialogs.fileAnswers.push_back(QString::fromStdString(dir.File("dacha")));
    form.PdfButtonClick();
    EXPECT_NE(PdfText(dir.File("dacha.pdf")).find("Объект: Дача"), std::string::npos);
    dialogs.fileAnswers.push_back(QString::fromStdString(dir.File("none/dacha.pdf")));
    form.PdfButtonClick();
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_NE(dialogs.messages[1].text.find("PDF"), std::string::npos);

    // From the journal menu: the window of the current shift.
    QWidget main;
    QMenu menu;
    AddShiftReportItem(menu, Shift().main, &Shift().dial, &main);
    ASSERT_FALSE(menu.actions().isEmpty());
    EXPECT_EQ(menu.actions().back()->text(), QStringLiteral("Отчёт за смену"));
    menu.actions().back()->trigger();
    const auto* opened = main.findChild<TShiftReportForm*>();
    ASSERT_NE(opened, nullptr);
    const ReportPeriod shift = CurrentShift(LocalNow());
    EXPECT_NEAR(opened->Figures().period.from, shift.from, 1e-9);
    EXPECT_EQ(opened->CentreBox, nullptr) << "a station of its own has no centre to read";
    EXPECT_EQ(opened->findChild<QCheckBox*>(), nullptr);
}

// In a centre the report reads every station's rows from the database, away
// from the UI thread. A database that cannot be reached is told, and the
// station's own journals still give their report.
TEST(ReportWindow, ACentreWideReportIsReadAsideAndAnUnreachableCentreIsTold)
{
    using namespace std::chrono_literals;
    ScriptedDialogs dialogs;
    // A socket folder that does not exist: refused at once, no time-out.
    const ReportCentre unreachable{"host=/nonexistent/kv-report port=5432 dbname=kv", true};
    const auto served = [](TShiftReportForm& form) {
        return WaitServing([&] { return !form.Reading(); }, 10s);
    };

    // A receiver in a centre has the box, its own journals first.
    {
        TShiftReportForm receiver(Shift().main, &Shift().dial, nullptr, {unreachable.connection, false});
        ASSERT_NE(receiver.CentreBox, nullptr);
        EXPECT_FALSE(receiver.CentreBox->isChecked());
        EXPECT_FALSE(receiver.Reading());
    }

    // A desk reads the centre's current shift as it opens.
    TShiftReportForm form(Shift().main, &Shift().dial, nullptr, unreachable);
    ASSERT_NE(form.CentreBox, nullptr);
    EXPECT_TRUE(form.CentreBox->isChecked());
    EXPECT_EQ(form.CentreBox->text(), QStringLiteral("Все станции центра"));
    ASSERT_TRUE(form.Reading());
    EXPECT_FALSE(form.BuildButton->isEnabled());
    EXPECT_EQ(form.SummaryText->toPlainText(), QStringLiteral("Чтение из базы данных…"));
    EXPECT_FALSE(form.BuildButtonClick()) << "one read at a time";
    ASSERT_TRUE(served(form));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text.rfind("Отчёт по центру не построен: "_cp, 0), 0u) << dialogs.messages[0].text;
    EXPECT_NE(dialogs.messages[0].text.find("/nonexistent/kv-report"), std::string::npos) << dialogs.messages[0].text;
    EXPECT_TRUE(form.BuildButton->isEnabled());
    EXPECT_FALSE(form.SummaryText->toPlainText().contains(QStringLiteral("Чтение")));

    // Unchecked, the station's own journals.
    form.CentreBox->setChecked(false);
    form.FromEdit->setDateTime(QDateTime(QDate(2026, 3, 2), QTime(8, 0)));
    form.ToEdit->setDateTime(QDateTime(QDate(2026, 3, 2), QTime(19, 59, 59)));
    ASSERT_TRUE(form.BuildButtonClick());
    EXPECT_FALSE(form.Reading());
    EXPECT_TRUE(form.SummaryText->toPlainText().contains(QStringLiteral("Тревог всего: 7")));

    // Checked again, a failure leaves that report standing.
    form.CentreBox->setChecked(true);
    ASSERT_TRUE(form.BuildButtonClick());
    ASSERT_TRUE(served(form));
    EXPECT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(form.Figures().all.TotalAlarms(), 7);
    EXPECT_TRUE(form.SummaryText->toPlainText().contains(QStringLiteral("Тревог всего: 7")));

    // A window closed while its read is under way: the answer finds nobody.
    auto closing = std::make_unique<TShiftReportForm>(Shift().main, &Shift().dial, nullptr, unreachable);
    ASSERT_TRUE(closing->Reading());
    closing.reset();
    ServeHandOvers();
    EXPECT_EQ(dialogs.messages.size(), 2u);
}

} // namespace
} // namespace kv::test
