#include "data/Text.h"
#include "tests/support/ScriptedDialogs.h"
#include "windows/Controls.h"
#include "windows/HelpUnit.h"
#include "windows/QtText.h"
#include "windows/TechnoJournalUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QEnterEvent>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QWidget>
#include <gtest/gtest.h>

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
