#include "tests/modemsetup/ModemFixture.h"

#include "data/Text.h"
#include "windows/QtText.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>
#include <filesystem>

namespace {

using namespace kv;
using namespace kv::literals;
using test::ModemFixture;
using test::Pty;

std::string Cp(std::string_view v) { return std::string(v); }

const std::string kModem1Failed = Cp("Невозможно инициализировать COM-порт для модема 1!"_cp);
const std::string kModem2Failed = Cp("Невозможно инициализировать COM-порт для модема 2!"_cp);
const std::string kModem2Lines = "ATE1\rAT+CMGF=1\rAT+CSCS=\"UCS2\"\rAT+CSMP=17,167,0,25\r";
const std::vector<std::string> kModem1Queue = {"ATE1\r", "AT+CMGF=1\r", "AT+CSCS=\"UCS2\"\r", "AT+CSMP=17,167,0,25\r"};

std::string Text(const QLineEdit* e) { return FromQ(e->text()); }

using ModemSettings = ModemFixture;

TEST_F(ModemSettings, WithoutConfigFileBothPortsDefaultAndCloseWritesExactlyTheSixKeys)
{
    auto form = MakeForm();
    EXPECT_EQ(form->windowTitle(), ToQ("Управление GSM-модемом"_cp));
    EXPECT_TRUE(form->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(port1.Port(), "Com1");
    EXPECT_EQ(port2.Port(), "Com2");
    EXPECT_EQ(port1.BaudRate(), br9600) << "the default text 9200 is no speed of the list";
    EXPECT_EQ(port2.BaudRate(), br9600);
    EXPECT_EQ(Text(form->Edit1), "Com1");
    EXPECT_EQ(Text(form->Edit3), "9600");
    EXPECT_EQ(Text(form->Edit6), "Com2");
    EXPECT_EQ(Text(form->Edit7), "9600");
    EXPECT_EQ(Text(form->BalanceNumber), "") << "a missing key replaces the design text";
    EXPECT_FALSE(std::filesystem::exists(ConfigPath())) << "reading creates nothing";

    QWidget mainWindow;
    mainWindow.setGeometry(100, 80, 850, 600);
    mainWindow.show();
    ctx.MainWindow = &mainWindow;
    ctx.Shown(ShownWindow::Modem) = true;
    ctx.Window(ShownWindow::Modem).show();
    ASSERT_TRUE(form->isVisible());
    EXPECT_LE((form->frameGeometry().center() - mainWindow.frameGeometry().center()).manhattanLength(), 1);
    ctx.Window(ShownWindow::Modem).close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(ctx.Shown(ShownWindow::Modem));
    EXPECT_EQ(test::ReadFileBytes(ConfigPath()),
              "[MainDevice]\r\nPhoneNumber=\r\nCPort=Com1\r\nCPortBaudRate=9600\r\n\r\n"
              "[SecondDevice]\r\nPhoneNumber=\r\nCPort=Com2\r\nCPortBaudRate=9600\r\n");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(ModemSettings, EveryCloseRewritesTheFileAndAppliesNamesAndSpeeds)
{
    test::WriteFileBytes(ConfigPath(), "[MainDevice]\r\nPhoneNumber=*100#\r\nCPort=COM3\r\nCPortBaudRate=57600\r\n"
                                       "[SecondDevice]\r\nPhoneNumber=*111#\r\nCPort=COM4\r\nCPortBaudRate=19200\r\n");
    auto form = MakeForm();
    EXPECT_EQ(Text(form->BalanceNumber), "*100#");
    EXPECT_EQ(port1.Port(), "COM3");
    EXPECT_EQ(port2.BaudRate(), br19200);

    form->show();
    form->BalanceNumber->setText(ToQ("*102*1#"));
    form->Edit1->setText(QStringLiteral("COM5"));
    form->Edit3->setText(QStringLiteral("115200"));
    form->Edit7->setText(QStringLiteral("abc"));
    form->close();
    EXPECT_EQ(port1.Port(), "COM5");
    EXPECT_EQ(port1.BaudRate(), br115200);
    EXPECT_EQ(port2.BaudRate(), br9600);
    EXPECT_EQ(test::ReadFileBytes(ConfigPath()),
              "[MainDevice]\r\nPhoneNumber=*102*1#\r\nCPort=COM5\r\nCPortBaudRate=115200\r\n"
              "[SecondDevice]\r\nPhoneNumber=\r\nCPort=COM4\r\nCPortBaudRate=abc\r\n")
        << "the second modem's request code is always written empty";

    // Shown again, the fields come from the ports: the unknown speed reads 9600.
    ctx.Window(ShownWindow::Modem).show();
    EXPECT_EQ(Text(form->Edit7), "9600");
    form->close();
}

TEST_F(ModemSettings, SpeedTextsAreMatchedWithoutLetterCaseAndAnythingElseIs9600)
{
    struct Case {
        const char* text;
        TBaudRate rate;
        const char* shown;
    };
    for (const Case& c : {Case{"115200", br115200, "115200"}, Case{"custom", brCustom, "Custom"},
                          Case{"abc", br9600, "9600"}, Case{"", br9600, "9600"}, Case{" 2400 ", br2400, "2400"}}) {
        test::WriteFileBytes(ConfigPath(), std::string("[MainDevice]\nCPortBaudRate=") + c.text +
                                               "\n[SecondDevice]\nCPortBaudRate=" + c.text + "\n");
        auto form = MakeForm();
        EXPECT_EQ(port1.BaudRate(), c.rate) << c.text;
        EXPECT_EQ(port2.BaudRate(), c.rate) << c.text;
        EXPECT_EQ(Text(form->Edit3), c.shown) << c.text;
        EXPECT_EQ(Text(form->Edit7), c.shown) << c.text;
    }
}

TEST_F(ModemSettings, GarbageLinesAndAMissingSectionLeaveTheDefaults)
{
    test::WriteFileBytes(ConfigPath(), std::string("garbage without an equals sign\n\x01\x02\xff\xfe\n=no key\n"
                                                   "[MainDevice]\nPhoneNumber=*105#\n  CPort =  /dev/ttyUSB3  \n"
                                                   "[SecondDevice\nCPort=not a section of its own\n"));
    auto form = MakeForm();
    EXPECT_EQ(Text(form->BalanceNumber), "*105#");
    EXPECT_EQ(port1.Port(), "/dev/ttyUSB3");
    EXPECT_EQ(port1.BaudRate(), br9600);
    EXPECT_EQ(port2.Port(), "Com2") << "a broken header opens no section";
    EXPECT_EQ(port2.BaudRate(), br9600);

    form->show();
    form->close();
    const std::string written = test::ReadFileBytes(ConfigPath());
    EXPECT_NE(written.find("[SecondDevice]\r\nPhoneNumber=\r\nCPort=Com2\r\nCPortBaudRate=9600\r\n"), std::string::npos)
        << written;
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(ModemSettings, AnUnwritableFileIsReportedAndThePortsAreStillApplied)
{
    std::filesystem::create_directory(ConfigPath());
    auto form = MakeForm();
    EXPECT_EQ(port1.Port(), "COM1") << "a file that cannot be read leaves the ports as they were";
    EXPECT_EQ(Text(form->BalanceNumber), "*100#");
    form->show();
    form->Edit1->setText(QStringLiteral("COM7"));
    form->close();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].kind, MsgKind::Error);
    EXPECT_NE(dialogs.messages[0].text.find("config.ini"), std::string::npos) << dialogs.messages[0].text;
    EXPECT_EQ(port1.Port(), "COM7");
    EXPECT_FALSE(ctx.Shown(ShownWindow::Modem));
}

TEST_F(ModemSettings, RegisteredOperationsReachTheirFields)
{
    auto form = MakeForm();
    EXPECT_EQ(Text(form->Edit5), Cp("нет связи"_cp));
    EXPECT_EQ(Text(form->Edit4), "0");
    EXPECT_EQ(Text(form->Edit9), "|");
    EXPECT_EQ(Text(form->Edit8), "0");

    ctx.SetLinkText(Cp("есть связь"_cp));
    ctx.SetSignalText1("21.0");
    ctx.SetSignalText2("9.0");
    ctx.AddBalanceLine(Cp("Баланс: 100 р."_cp));
    ctx.AddBalanceLine("second");
    EXPECT_EQ(Text(form->Edit5), Cp("есть связь"_cp));
    EXPECT_EQ(Text(form->Edit4), "21.0");
    EXPECT_EQ(Text(form->Edit8), "9.0");
    EXPECT_EQ(FromQ(form->BalanceInfo->toPlainText()), Cp("Баланс: 100 р.\nsecond"_cp));

    form->BalanceNumber->setText(ToQ("*100#"));
    EXPECT_EQ(ctx.BalanceNumber(), "*100#");

    port1.SetPort("COM9");
    port2.SetBaudRate(br57600);
    ctx.RefreshPortFields();
    EXPECT_EQ(Text(form->Edit1), "COM9");
    EXPECT_EQ(Text(form->Edit7), "57600");

    int passwordDialogs = 0, portWindows = 0;
    ctx.ShowPasswordDlg = [&] { ++passwordDialogs; };
    ctx.ShowComPortForm = [&] { ++portWindows; };
    form->RbButton4->click();
    form->PNGButton1->click();
    EXPECT_EQ(passwordDialogs, 1);
    EXPECT_EQ(portWindows, 1);
}

TEST_F(ModemSettings, AtStartOnlyTheInitialisationButtonIsEnabled)
{
    auto form = MakeForm();
    EXPECT_TRUE(form->PNGButton7->isEnabled());
    EXPECT_TRUE(form->PNGButton1->isEnabled());
    EXPECT_FALSE(form->PNGButton3->isEnabled());
    EXPECT_FALSE(form->PNGButton2->isEnabled());
    EXPECT_FALSE(form->PNGButton4->isEnabled());
    EXPECT_FALSE(port1.Connected());
    EXPECT_FALSE(port2.Connected());
}

// ---- initialisation against pseudo-terminals ----

class ModemInit : public ModemFixture {
protected:
    // Names the ports through the window, as the operator does.
    std::unique_ptr<TModemForm> FormOn(const std::string& name1, const std::string& name2)
    {
        auto form = MakeForm();
        form->show();
        form->Edit1->setText(ToQ(name1));
        form->Edit6->setText(ToQ(name2));
        form->close();
        return form;
    }
};

TEST_F(ModemInit, WritesTheExactBytesToEachPortWithItsPausesAndStartsBothWorkers)
{
    auto form = FormOn(pty1.SlavePath(), pty2.SlavePath());
    modem1.AppendReceived("stale");
    modem1.SmsSending = true;
    modem1.SmsIndex = 7;
    modem2.AppendReceived("stale");
    modem2.SmsSending = true;
    // Replies arrive during the pauses; each modem's buffer is emptied after its last pause.
    onWait = [this](std::uint32_t ms) {
        if (waits.size() == 1) {
            EXPECT_TRUE(modem1.Running);
            EXPECT_EQ(modem1.SmsIndex, 1);
            EXPECT_FALSE(modem1.SmsSending);
            EXPECT_EQ(modem1.RxSnapshot(), "") << "cleared before the port opened";
            EXPECT_TRUE(port1.Connected());
            EXPECT_TRUE(calls.empty()) << "the worker starts after the first pause";
        }
        if (waits.size() == 2)
            modem1.AppendReceived("AT\r\r\nOK\r\n");
        if (waits.size() == 3) {
            EXPECT_TRUE(modem2.Running);
            EXPECT_FALSE(modem2.SmsSending);
            EXPECT_EQ(modem2.RxSnapshot(), "");
        }
        if (waits.size() == 5)
            modem2.AppendReceived("ATE1\r\r\nOK\r\n");
    };

    form->RbButton7Click();

    EXPECT_EQ(pty1.ReadAll(), "AT\r") << "modem 1's set-up goes through its worker's queue";
    EXPECT_EQ(pty2.ReadAll(), kModem2Lines);
    EXPECT_EQ(waits, (std::vector<std::uint32_t>{1000, 100, 100, 100, 1000}));
    EXPECT_EQ(modem1.PendingCommands(), kModem1Queue);
    EXPECT_EQ(modem1.RxSnapshot(), "");
    EXPECT_EQ(modem2.RxSnapshot(), "");
    EXPECT_TRUE(modem1.Running);
    EXPECT_TRUE(modem2.Running);
    EXPECT_EQ(calls, (std::vector<std::string>{"StartCommThread", "SetCommandButtonsEnabled:1", "StartDialThread",
                                               "RebuildBoard", "SetDialStatus:" + Cp("Статус дозвона: ожидание"_cp)}));
    EXPECT_FALSE(form->PNGButton7->isEnabled());
    EXPECT_TRUE(form->PNGButton3->isEnabled());
    EXPECT_TRUE(form->PNGButton2->isEnabled());
    EXPECT_TRUE(form->PNGButton4->isEnabled());
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(ModemInit, AMissingModem1PortStillInitialisesModem2AndLeavesTheButtonUsable)
{
    auto form = FormOn(dir.File("no-such-port"), pty2.SlavePath());
    modem1.AppendReceived("stale");
    form->RbButton7Click();

    ASSERT_EQ(dialogs.Texts(), std::vector<std::string>{kModem1Failed});
    EXPECT_EQ(dialogs.messages[0].kind, MsgKind::Error);
    EXPECT_FALSE(modem1.Running);
    EXPECT_FALSE(port1.Connected());
    EXPECT_TRUE(modem1.QueueEmpty());
    EXPECT_EQ(pty2.ReadAll(), kModem2Lines);
    EXPECT_TRUE(modem2.Running);
    EXPECT_EQ(calls, (std::vector<std::string>{"StartDialThread", "RebuildBoard",
                                               "SetDialStatus:" + Cp("Статус дозвона: ожидание"_cp)}));
    EXPECT_TRUE(form->PNGButton7->isEnabled());
    EXPECT_FALSE(form->PNGButton3->isEnabled());
    EXPECT_FALSE(form->PNGButton2->isEnabled());
    EXPECT_TRUE(form->PNGButton4->isEnabled());
}

TEST_F(ModemInit, PortsHeldByAnotherProgramFailEachModemOnItsOwn)
{
    auto form = FormOn(pty1.SlavePath(), pty2.SlavePath());
    TComPort other1, other2;
    other1.SetPort(pty1.SlavePath());
    other2.SetPort(pty2.SlavePath());
    other1.Open();
    other2.Open();

    form->RbButton7Click();
    EXPECT_EQ(dialogs.Texts(), (std::vector<std::string>{kModem1Failed, kModem2Failed}));
    EXPECT_FALSE(modem1.Running);
    EXPECT_FALSE(modem2.Running);
    EXPECT_FALSE(port1.Connected());
    EXPECT_FALSE(port2.Connected());
    EXPECT_TRUE(calls.empty()) << "no worker, no board rebuild, no command buttons";
    EXPECT_TRUE(waits.empty());
    EXPECT_TRUE(form->PNGButton7->isEnabled());
    EXPECT_EQ(pty1.ReadAll(std::chrono::milliseconds(20)), "");

    // Once the other program lets go, the same button succeeds.
    other1.Close();
    other2.Close();
    dialogs.messages.clear();
    form->RbButton7Click();
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_TRUE(port1.Connected());
    EXPECT_TRUE(port2.Connected());
    EXPECT_EQ(pty2.ReadAll(), kModem2Lines);
    EXPECT_FALSE(form->PNGButton7->isEnabled());
}

TEST_F(ModemInit, RepeatingInitialisationLeavesARunningWorkerAndItsPortAlone)
{
    auto form = FormOn(dir.File("absent"), pty2.SlavePath());
    form->RbButton7Click(); // modem 1 fails, modem 2 runs
    ASSERT_TRUE(modem2.Running);
    pty2.ReadAll();
    calls.clear();
    waits.clear();
    dialogs.messages.clear();

    // The operator fixes modem 1's port and presses again; modem 2's worker is
    // in the middle of its work.
    form->show();
    form->Edit1->setText(ToQ(pty1.SlavePath()));
    form->close();
    modem2.AppendReceived("+CSQ: 17,0\r\n");
    dialVars.balanceRequest = true;
    form->RbButton7Click();

    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(pty1.ReadAll(), "AT\r");
    EXPECT_EQ(pty2.ReadAll(std::chrono::milliseconds(50)), "") << "nothing written to a running worker's modem";
    EXPECT_EQ(modem2.RxSnapshot(), "+CSQ: 17,0\r\n");
    EXPECT_TRUE(dialVars.balanceRequest);
    EXPECT_EQ(calls, (std::vector<std::string>{"StartCommThread", "SetCommandButtonsEnabled:1"}));
    EXPECT_EQ(waits, (std::vector<std::uint32_t>{1000, 100}));
    EXPECT_FALSE(form->PNGButton7->isEnabled());

    // With both running, a further press changes nothing at all.
    calls.clear();
    waits.clear();
    modem1.AppendReceived("+CMTI: \"SM\",1\r\n");
    form->RbButton7Click();
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(waits.empty());
    EXPECT_EQ(modem1.PendingCommands(), kModem1Queue);
    EXPECT_EQ(modem1.RxSnapshot(), "+CMTI: \"SM\",1\r\n");
    EXPECT_EQ(pty1.ReadAll(std::chrono::milliseconds(50)), "");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(ModemInit, ARingRoundStartedBeforeInitialisationGetsItsPortOpened)
{
    auto form = FormOn(pty1.SlavePath(), pty2.SlavePath());
    // The main window's ring-round start: a worker on a closed port.
    modem2.Running = true;
    dialStarted = true;
    form->RbButton7Click();

    EXPECT_TRUE(port2.Connected());
    EXPECT_EQ(pty2.ReadAll(std::chrono::milliseconds(50)), "");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "StartDialThread"), 0);
    EXPECT_TRUE(form->PNGButton4->isEnabled());
    EXPECT_FALSE(form->PNGButton7->isEnabled());
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(ModemInit, ARenamedOpenPortIsReopenedUnderItsNewNameAtClose)
{
    auto form = FormOn(pty1.SlavePath(), pty2.SlavePath());
    form->RbButton7Click();
    ASSERT_TRUE(port1.Connected());
    pty1.ReadAll();

    Pty other;
    form->show();
    form->Edit1->setText(ToQ(other.SlavePath()));
    form->close();
    EXPECT_TRUE(port1.Connected());
    EXPECT_EQ(port1.Port(), other.SlavePath());
    EXPECT_EQ(port1.WriteText("AT\r"), 3);
    EXPECT_EQ(other.Read(3), "AT\r");
    EXPECT_TRUE(dialogs.messages.empty());

    // A new name that cannot be opened leaves the port closed and says why.
    form->show();
    form->Edit1->setText(ToQ(dir.File("gone")));
    form->close();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].text.find("Unable to open com port"), std::string::npos) << dialogs.messages[0].text;
    EXPECT_FALSE(port1.Connected());
    EXPECT_TRUE(port2.Connected()) << "modem 2's port is applied on its own";
}

// ---- balance and link test ----

using ModemRequests = ModemFixture;

TEST_F(ModemRequests, BalanceThroughModem1QueuesTheUssdRequestInUcs2Hex)
{
    auto form = MakeForm();
    form->BalanceNumber->setText(QStringLiteral("*100#"));
    form->BalanceInfo->setPlainText(QStringLiteral("old answer"));
    form->RbButton2Click();
    EXPECT_TRUE(modem1.UssdPending);
    EXPECT_TRUE(form->BalanceInfo->toPlainText().isEmpty());
    EXPECT_EQ(modem1.PendingCommands(), std::vector<std::string>{"AT+CUSD=1,\"002A0031003000300023\",15\r"});

    // While the request is pending the polls are refused.
    EXPECT_FALSE(EnqueueCommand(modem1, "AT+CSQ\r"));

    form->RbButton3Click();
    EXPECT_EQ(modem1.PendingCommands().back(), "AT\r");
}

TEST_F(ModemRequests, ARequestTheFullRingRefusesDoesNotStopThePollsForGood)
{
    auto form = MakeForm();
    while (EnqueueCommand(modem1, "AT\r")) {
    }
    form->RbButton2Click();
    EXPECT_FALSE(modem1.UssdPending);
}

TEST_F(ModemRequests, BalanceThroughModem2AsksTheRingRoundWorker)
{
    auto form = MakeForm();
    form->BalanceInfo->setPlainText(QStringLiteral("old answer"));
    form->PNGButton4Click();
    EXPECT_TRUE(dialVars.balanceRequest);
    EXPECT_TRUE(form->BalanceInfo->toPlainText().isEmpty());
    EXPECT_TRUE(modem1.QueueEmpty());
    EXPECT_FALSE(modem1.UssdPending);
}

} // namespace
