#include "data/Text.h"
#include "tests/support/ScriptedDialogs.h"
#include "windows/Controls.h"
#include "windows/HelpUnit.h"
#include "windows/QtText.h"
#include "tests/support/TempDir.h"
#include "timing/DateTime.h"
#include "windows/TechnoJournalUnit.h"
#include "core/TechnoLog.h"

#include <QApplication>
#include <QCheckBox>
#include <QEnterEvent>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QWidget>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

using namespace kv::literals;

QColor LineColour(QPlainTextEdit* edit, int block)
{
    const QTextBlock b = edit->document()->findBlockByNumber(block);
    return b.begin().fragment().charFormat().foreground().color();
}

TEST(TechnoJournal, RecordsOnlyWhileTickedWithTimeColonTwoBlanks)
{
    QWidget main;
    kv::TTechnoJournalForm form(&main);
    EXPECT_EQ(form.windowTitle(), kv::ToQ("Технологический журнал"_cp));
    EXPECT_TRUE(form.ScrollTechnoJournal->isChecked());
    EXPECT_FALSE(form.WriteTechnoJournal->isChecked());

    form.AppendTechnoLine(std::string("GSM-модем на связи."_cp), kv::kGreen);
    EXPECT_TRUE(form.Otchet->document()->isEmpty()) << "lines before recording is switched on are lost";

    form.WriteTechnoJournal->setChecked(true);
    form.AppendTechnoLine(std::string("GSM-модем на связи."_cp), kv::kGreen);
    form.AppendTechnoLine("Ошибка обмена по таймауту..."_cp.data(), kv::kRed);
    ASSERT_EQ(form.Otchet->document()->blockCount(), 2);
    const QString first = form.Otchet->document()->findBlockByNumber(0).text();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d:  ")).match(first).hasMatch()) << first.toStdString();
    EXPECT_TRUE(first.endsWith(kv::ToQ("GSM-модем на связи."_cp)));
    EXPECT_EQ(LineColour(form.Otchet, 0), QColor(0, 128, 0));
    EXPECT_EQ(LineColour(form.Otchet, 1), QColor(255, 0, 0));
}

TEST(TechnoJournal, AModemLineWithLineBreaksStaysOneEntry)
{
    QWidget main;
    kv::TTechnoJournalForm form(&main);
    form.WriteTechnoJournal->setChecked(true);
    form.AppendTechnoLine("AT+CSQ\r\r\n+CSQ: 21,0\r\n\r\nOK\r\n", kv::kNavy);
    EXPECT_EQ(form.Otchet->document()->blockCount(), 1);
    EXPECT_TRUE(form.Otchet->document()->firstBlock().text().contains(QStringLiteral("+CSQ: 21,0")));
}

TEST(TechnoJournal, KeepsOnlyTheNewestLines)
{
    QWidget main;
    EXPECT_EQ(kv::TTechnoJournalForm(&main).Otchet->maximumBlockCount(), 100000);
    const int cap = 2000;
    kv::TTechnoJournalForm form(&main, cap);
    form.WriteTechnoJournal->setChecked(true);
    for (bool scroll : {true, false}) {
        form.ScrollTechnoJournal->setChecked(scroll);
        for (int i = 0; i < cap + 50; ++i)
            form.AppendTechnoLine("line " + std::to_string(i), kv::kBlue);
        EXPECT_EQ(form.Otchet->document()->blockCount(), cap);
        EXPECT_TRUE(form.Otchet->document()->firstBlock().text().endsWith(QStringLiteral("line 50")));
        EXPECT_TRUE(form.Otchet->document()->lastBlock().text().endsWith(QStringLiteral("line %1").arg(cap + 49)));
    }
}

std::vector<std::string> FileLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::istringstream in(kv::test::ReadFileBytes(path));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(TechnoJournal, TheFileGetsEveryLineWithDateTimeAndColourWhetherOrNotTheWindowRecords)
{
    kv::test::TempDir dir;
    QWidget main;
    kv::TTechnoJournalForm form(&main);
    form.SetLog(std::make_unique<kv::TTechnoLog>("techno.log"));
    form.AppendTechnoLine(std::string("GSM-модем на связи."_cp), kv::kGreen);
    form.WriteTechnoJournal->setChecked(true);
    form.AppendTechnoLine("AT+CSQ\r\r\n+CSQ: 21,0\r\n", kv::kNavy);
    form.AppendTechnoLine("x", kv::Rgb{1, 2, 3});
    EXPECT_EQ(form.Otchet->document()->blockCount(), 2) << "the window still records only while ticked";

    const auto lines = FileLines(dir.File("techno.log"));
    ASSERT_EQ(lines.size(), 3u);
    const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "));
    for (const std::string& line : lines)
        EXPECT_TRUE(stamp.match(QString::fromStdString(line)).hasMatch()) << line;
    EXPECT_EQ(lines[0].substr(24), "green GSM-модем на связи.") << "UTF-8 in the file";
    EXPECT_EQ(lines[1].substr(24), "navy AT+CSQ\\r\\r\\n+CSQ: 21,0\\r\\n");
    EXPECT_EQ(lines[2].substr(24), "#010203 x");
}

TEST(TechnoJournal, TheFileIsRotatedAtItsLimitKeepingTheNewestFiles)
{
    kv::test::TempDir dir;
    constexpr std::uint64_t kLimit = 1000;
    kv::TTechnoLog log("techno.log", kLimit, 3);
    const double when = kv::EncodeDateTime({2026, 12, 7, 14, 5, 9, 0});
    const std::size_t lineSize = kv::TTechnoLog::LineText(when, "entry 0000", kv::kBlue).size() + 1;
    const int perFile = static_cast<int>(kLimit / lineSize);
    const int total = perFile * 6 + 3;
    for (int i = 0; i < total; ++i) {
        char text[24];
        std::snprintf(text, sizeof text, "entry %04d", i);
        ASSERT_EQ(log.Append(when, text, kv::kBlue), kv::TTechnoLog::Outcome::Written);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("techno.log.4"))) << "three old files are kept";
    // Newest first: the current file, then .1, .2, .3; together an unbroken run
    // of the newest entries, each file within the limit and of whole lines.
    std::vector<std::string> newestFirst;
    for (const char* name : {"techno.log", "techno.log.1", "techno.log.2", "techno.log.3"}) {
        EXPECT_LE(std::filesystem::file_size(dir.File(name)), kLimit) << name;
        auto lines = FileLines(dir.File(name));
        EXPECT_EQ(lines.size(), std::string(name) == "techno.log" ? 3u : static_cast<std::size_t>(perFile)) << name;
        newestFirst.insert(newestFirst.end(), lines.rbegin(), lines.rend());
    }
    for (std::size_t k = 0; k < newestFirst.size(); ++k) {
        char text[24];
        std::snprintf(text, sizeof text, "entry %04d", total - 1 - static_cast<int>(k));
        ASSERT_EQ(newestFirst[k], kv::TTechnoLog::LineText(when, text, kv::kBlue)) << k;
    }

    // A station started again goes on in the same file, up to the same limit.
    kv::TTechnoLog again("techno.log", kLimit, 3);
    for (int i = 0; i < perFile; ++i)
        again.Append(when, "entry 9999", kv::kBlue);
    EXPECT_LE(std::filesystem::file_size(dir.File("techno.log")), kLimit);
    EXPECT_EQ(FileLines(dir.File("techno.log.1")).back(), kv::TTechnoLog::LineText(when, "entry 9999", kv::kBlue));
}

TEST(TechnoJournal, AFullDiskOrAnUnwritablePlaceCostsOneRedLineAndNothingElse)
{
    kv::test::TempDir dir;
    QWidget main;
    struct Place {
        const char* path;
        const char* why;
    };
    std::filesystem::create_directory(dir.File("techno.log"));
    // /sys takes no new files, not even from root (the reason varies by system).
    for (const Place& place : {Place{"/dev/full", "нет места на диске"}, Place{"techno.log", "под этим именем папка"},
                               Place{"/sys/techno.log", ""}}) {
        kv::TTechnoJournalForm form(&main);
        form.SetLog(std::make_unique<kv::TTechnoLog>(place.path));
        for (int i = 0; i < 50; ++i)
            form.AppendTechnoLine("line", kv::kGreen);
        ASSERT_EQ(form.Otchet->document()->blockCount(), 1) << place.path << ": shown though the window does not record";
        const QString red = form.Otchet->document()->firstBlock().text();
        EXPECT_TRUE(red.contains(QString::fromUtf8(place.why))) << red.toStdString();
        EXPECT_TRUE(red.contains(QString::fromUtf8(place.path))) << red.toStdString();
        EXPECT_EQ(LineColour(form.Otchet, 0), QColor(255, 0, 0));
        form.WriteTechnoJournal->setChecked(true);
        form.AppendTechnoLine("shown", kv::kGreen);
        EXPECT_EQ(form.Otchet->document()->blockCount(), 2) << "the window goes on as before";
    }

    // Writable again: the file takes the next line; failing again is told again.
    using Outcome = kv::TTechnoLog::Outcome;
    kv::TTechnoLog log(dir.File("sub/techno.log"), 200, 1);
    EXPECT_EQ(log.Append(0, "lost", kv::kGreen), Outcome::Failed);
    EXPECT_EQ(log.Append(0, "lost", kv::kGreen), Outcome::StillFailing);
    std::filesystem::create_directory(dir.File("sub"));
    EXPECT_EQ(log.Append(0, "kept", kv::kGreen), Outcome::Written);
    EXPECT_EQ(FileLines(dir.File("sub/techno.log")).size(), 1u);
    std::filesystem::remove_all(dir.File("sub"));
    Outcome outcome = Outcome::Written;
    for (int i = 0; i < 20 && outcome == Outcome::Written; ++i)
        outcome = log.Append(0, "rotated into a folder that went", kv::kGreen);
    EXPECT_EQ(outcome, Outcome::Failed);
}

TEST(HelpWindow, LinksUnderlineOnHoverOpenTheirPagesAndCloseClearsTheFlag)
{
    QWidget main;
    kv::THelpForm help(&main);
    EXPECT_EQ(help.windowTitle(), kv::ToQ("Справка"_cp));
    EXPECT_EQ(help.size(), QSize(308, 402));
    std::vector<QString> opened;
    help.OpenUrl = [&](const QString& url) { opened.push_back(url); };
    bool closed = false;
    help.FormClose = [&] { closed = true; };

    EXPECT_TRUE(help.RxLabel1->font().bold());
    EXPECT_FALSE(help.RxLabel1->font().underline());
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(help.RxLabel1, &enter);
    EXPECT_TRUE(help.RxLabel1->font().underline());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(help.RxLabel1, &leave);
    EXPECT_FALSE(help.RxLabel1->font().underline());
    EXPECT_TRUE(help.RxLabel1->font().bold());

    help.RxLabel1Click();
    help.RxLabel2Click();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_NE(opened[0], opened[1]);
    EXPECT_EQ(help.RxLabel3->text(), QStringLiteral(" v.2.1.5"));

    help.ShowCentred();
    EXPECT_FALSE(closed);
    help.close();
    EXPECT_TRUE(closed);
}

TEST(PictureButton, AMissingPictureStillGivesAUsableLabelledButton)
{
    kv::TPNGButton button(kv::assets::ButtonPictures{"Pictures/none.png", "Pictures/none-hover.png",
                                                     "Pictures/none-down.png", {100, 40}});
    kv::Name(&button, "PNGButton7", "УСТАНОВИТЬ СВЯЗЬ"_cp);
    EXPECT_EQ(button.objectName(), QStringLiteral("PNGButton7"));
    EXPECT_EQ(button.accessibleDescription(), QStringLiteral("PNGButton7"));
    EXPECT_EQ(button.accessibleName(), kv::ToQ("УСТАНОВИТЬ СВЯЗЬ"_cp));
    int clicks = 0;
    QObject::connect(&button, &QAbstractButton::clicked, [&] { ++clicks; });
    button.click();
    EXPECT_EQ(clicks, 1);
    button.resize(100, 40);
    QImage image(100, 40, QImage::Format_ARGB32);
    button.render(&image);
}

TEST(Dialogs, TheSaveDialogsSuffixRule)
{
    EXPECT_EQ(kv::AddDefaultSuffix(QStringLiteral("/tmp/journal"), QStringLiteral("jrn")), QStringLiteral("/tmp/journal.jrn"));
    EXPECT_EQ(kv::AddDefaultSuffix(QStringLiteral("/tmp/journal.bak"), QStringLiteral("jrn")), QStringLiteral("/tmp/journal.bak"));
    EXPECT_EQ(kv::AddDefaultSuffix(QStringLiteral("/tmp/a.b/journal"), QStringLiteral("jrn")), QStringLiteral("/tmp/a.b/journal.jrn"));
}

} // namespace

#include "windows/ModemLinkUnit.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QMouseEvent>

namespace {

bool WaitUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

TEST(LinkLostAlert, ClosesItselfWhenItsOneShotTimerFiresAndRearmsFor9Seconds)
{
    kv::TLinkErrorForm alert;
    EXPECT_EQ(alert.MMTimer1.Delay(), 9000u);
    EXPECT_EQ(alert.MMTimer1.Mode(), kv::mmeOneShort);
    EXPECT_FALSE(alert.MMTimer1.Enabled());
    EXPECT_EQ(alert.Label2->text(), kv::ToQ("Нарушена связь с модемом"_cp));

    alert.MMTimer1.SetDelay(150); // the 9 s of the real alert, shortened
    alert.ShowAlert();
    EXPECT_TRUE(alert.isVisible());
    EXPECT_TRUE(alert.MMTimer1.Enabled());
    alert.ShowAlert(); // a second showing while visible changes nothing
    EXPECT_TRUE(WaitUntil([&] { return !alert.isVisible(); }, 3000));
    EXPECT_FALSE(alert.MMTimer1.Enabled());
    EXPECT_EQ(alert.MMTimer1.Delay(), 9000u);
}

TEST(LinkLostAlert, AClickOnThePictureClosesAtOnceAndLeavesTheTimerPending)
{
    kv::TLinkErrorForm alert;
    alert.ShowAlert();
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(alert.Image1, &release);
    EXPECT_FALSE(alert.isVisible());
    EXPECT_TRUE(alert.MMTimer1.Enabled()) << "the earlier showing's timer still runs";
}

} // namespace
