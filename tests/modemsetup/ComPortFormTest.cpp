#include "tests/modemsetup/ModemFixture.h"

#include "data/Text.h"
#include "modemsetup/ComPortUnit.h"
#include "windows/Controls.h"
#include "windows/QtText.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>

namespace {

using namespace kv;
using namespace kv::literals;

class PortSelection : public test::ModemFixture {
protected:
    PortSelection() : modemForm(MakeForm()) {}
    std::unique_ptr<TModemForm> modemForm;
    TComPortForm form{ctx};
};

TEST_F(PortSelection, EachButtonSetsUpItsOwnPortRefreshesTheModemWindowAndCloses)
{
    EXPECT_EQ(form.windowTitle(), ToQ("Настройка коммуникационных портов"_cp));
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
    std::vector<TComPort*> setUp;
    form.RunSetup = [&](TComPort& port, QWidget*) {
        setUp.push_back(&port);
        port.SetPort(&port == &port1 ? "/dev/ttyUSB0" : "/dev/ttyUSB1");
        port.SetBaudRate(br38400);
        return true;
    };

    form.show();
    form.RbButton1Click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(FromQ(modemForm->Edit1->text()), "/dev/ttyUSB0");
    EXPECT_EQ(FromQ(modemForm->Edit3->text()), "38400");
    EXPECT_EQ(FromQ(modemForm->Edit6->text()), "Com2");

    form.show();
    form.RbButton2Click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(FromQ(modemForm->Edit6->text()), "/dev/ttyUSB1");
    EXPECT_EQ(FromQ(modemForm->Edit7->text()), "38400");
    EXPECT_EQ(setUp, (std::vector<TComPort*>{&port1, &port2}));
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(PortSelection, AChoiceThatCannotBeAppliedIsReportedAndTheWindowStillCloses)
{
    form.RunSetup = [](TComPort& port, QWidget*) -> bool {
        port.SetPort("elsewhere");
        throw EComPort(ComError::OpenFailed, 2, "elsewhere");
    };
    form.show();
    form.RbButton1Click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].kind, MsgKind::Error);
    EXPECT_EQ(dialogs.messages[0].text, "COM Port Error: Unable to open com port on elsewhere");
    EXPECT_EQ(FromQ(modemForm->Edit1->text()), "elsewhere");
    EXPECT_FALSE(form.isVisible());
}

TEST_F(PortSelection, TheModemWindowShowsItModally)
{
    form.RunSetup = [](TComPort&, QWidget*) { return false; };
    bool wasModal = false;
    QTimer::singleShot(0, [&] {
        wasModal = form.isVisible() && form.isModal();
        form.PNGButton2->click();
    });
    modemForm->RbButton1Click();
    EXPECT_TRUE(wasModal);
    EXPECT_FALSE(form.isVisible());
}

// ---- how the windows look ----

// Every caption and label shows its whole text at the window's own size.
void ExpectTextsFit(QWidget* window)
{
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (label->text().isEmpty())
            continue;
        const int need = label->fontMetrics().horizontalAdvance(label->text());
        EXPECT_LE(need, label->contentsRect().width()) << label->objectName().toStdString();
        EXPECT_LE(label->fontMetrics().height(), label->contentsRect().height()) << label->objectName().toStdString();
    }
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        const int need = button->fontMetrics().horizontalAdvance(button->text());
        EXPECT_LT(need, button->width()) << button->objectName().toStdString();
    }
    for (TPNGButton* button : window->findChildren<TPNGButton*>())
        EXPECT_EQ(button->size(), button->sizeHint()) << button->objectName().toStdString();
    for (QLineEdit* edit : window->findChildren<QLineEdit*>()) {
        const int need = edit->fontMetrics().horizontalAdvance(edit->text());
        EXPECT_LT(need, edit->width()) << edit->objectName().toStdString();
    }
}

void Snapshot(QWidget* window, const char* name)
{
    if (const char* folder = std::getenv("KORVALEN_SNAPSHOT_DIR"))
        window->grab().save(QString::fromLocal8Bit(folder) + "/" + name + ".png");
}

TEST_F(PortSelection, BothWindowsShowTheirTextsWholeWithTheirPictures)
{
    // The pictures come from the build; the settings stay in the test's folder.
    const char* bin = std::getenv("KORVALEN_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    SetProgramDirForTests(QString::fromLocal8Bit(bin));
    TComPortForm ports(ctx);
    auto modem = std::make_unique<TModemForm>(ctx);
    SetProgramDirForTests(QString::fromStdString(dir.path().string()));

    modem->BalanceNumber->setText(QStringLiteral("*100#"));
    modem->Edit1->setText(QStringLiteral("/dev/ttyUSB0"));
    modem->Edit6->setText(QStringLiteral("/dev/ttyACM1"));
    modem->Edit7->setText(QStringLiteral("115200"));
    ctx.AddBalanceLine(std::string("Баланс: 127.40 р."_cp));
    modem->PNGButton3->setEnabled(true);
    for (QWidget* w : {static_cast<QWidget*>(&ports), static_cast<QWidget*>(modem.get())}) {
        w->show();
        w->grab(); // lays the window out
        ExpectTextsFit(w);
    }
    Snapshot(modem.get(), "modem-window");
    Snapshot(&ports, "port-window");
    EXPECT_GE(modem->width(), 600);
    modem->hide();
    ports.hide();
}

} // namespace
