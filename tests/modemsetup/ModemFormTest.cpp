// The modem settings and port selection windows over a station context with
// real modem state and real ports on pseudo-terminals; the worker starts are
// fakes that keep to the one-worker-per-modem rule.
#include "data/Text.h"
#include "modem/DialThread.h"
#include "modem/Modem.h"
#include "modemsetup/ComPortUnit.h"
#include "modemsetup/ModemUnit.h"
#include "serial/PortAdvice.h"
#include "serial/CPort.h"
#include "serial/ComPortPlatform.h"
#include "serial/PortDiagnosis.h"
#include "tests/support/Pty.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TempDir.h"
#include "windows/AppPaths.h"
#include "windows/Controls.h"
#include "windows/QtText.h"
#include "windows/StationContext.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>

#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace kv;
using namespace kv::literals;
using Strings = std::vector<std::string>;

std::string Cp(std::string_view v) { return std::string(v); }
std::string Text(const QLineEdit* e) { return FromQ(e->text()); }

const std::string kModem1Failed = Cp("Невозможно инициализировать COM-порт для модема 1!"_cp);
const std::string kModem2Failed = Cp("Невозможно инициализировать COM-порт для модема 2!"_cp);
const std::string kModem2Lines = "ATE1\rAT+CMGF=1\rAT+CSCS=\"UCS2\"\rAT+CSMP=17,167,0,25\r";
// The echo, text mode in UCS2, then the test form of the new-message indications.
const Strings kModem1Queue = {"ATE1\r", "AT+CMGF=1\r", "AT+CSCS=\"UCS2\"\r", "AT+CSMP=17,167,0,25\r", "AT+CNMI=?\r"};
const std::string kDialWaiting = "Dial:" + Cp("Статус дозвона: ожидание"_cp);

// The station around the modem window records what the window asks of it.
class ModemWindow : public ::testing::Test, public IModemStation {
protected:
    ModemWindow() { SetProgramDirForTests(QString::fromStdString(dir.path().string())); }
    ~ModemWindow() override { SetProgramDirForTests({}); }

    bool StartCommThread() override { return Start("Comm", commStarted, modem1); }
    bool StartDialThread() override { return Start("Dial", dialStarted, modem2); }
    void RebuildBoard() override { calls.push_back("Rebuild"); }
    void SetDialStatus(const std::string& s) override { calls.push_back("Dial:" + s); }
    void SetCommandButtonsEnabled(bool on) override { calls.push_back(on ? "Commands:on" : "Commands:off"); }
    void ShowComPortForm() override
    {
        if (portForm)
            portForm->exec();
    }
    void ShowPasswordDlg() override { calls.push_back("Password"); }

    // A fake worker lives while its modem's Running flag stays set.
    bool Start(const char* name, bool& started, TModem& modem)
    {
        calls.push_back(name);
        if (started && modem.Running)
            return false;
        return started = true;
    }

    std::unique_ptr<TModemForm> MakeForm()
    {
        auto form =
            std::make_unique<TModemForm>(ctx, ModemParts{modem1, modem2, port1, port2, dialVars}, *this);
        form->SetWait([this](std::uint32_t ms) {
            waits.push_back(ms);
            if (onWait)
                onWait();
        });
        return form;
    }

    // The operator names the ports in the window; closing it applies them.
    void Rename(TModemForm& form, const std::string& name1, const std::string& name2)
    {
        form.show();
        form.Edit1->setText(ToQ(name1));
        form.Edit6->setText(ToQ(name2));
        form.close();
    }

    std::string Config() const { return test::ReadFileBytes(dir.File("config.ini")); }
    // The first line of every box: the failure; what follows is the advice.
    Strings Heads() const
    {
        Strings heads;
        for (const std::string& text : dialogs.Texts())
            heads.push_back(text.substr(0, text.find('\r')));
        return heads;
    }

    test::TempDir dir;
    test::ScriptedDialogs dialogs;
    test::Pty pty1, pty2; // outlive the ports
    TModem modem1, modem2;
    TComPort port1, port2;
    DialState dialVars;
    StationContext ctx;
    TComPortForm* portForm = nullptr;
    Strings calls;
    std::vector<std::uint32_t> waits;
    std::function<void()> onWait;
    bool commStarted = false, dialStarted = false;
};

TEST_F(ModemWindow, WithoutConfigFileThePortsDefaultAndEveryCloseWritesTheKeys)
{
    auto form = MakeForm();
    EXPECT_EQ(port1.Port() + " " + port2.Port(), "Com1 Com2");
    EXPECT_EQ(port1.BaudRate(), br9600) << "the default text 9200 is no speed of the list";
    EXPECT_EQ(Text(form->Edit3) + " " + Text(form->Edit7), "9600 9600");
    EXPECT_EQ(Text(form->BalanceNumber), "") << "a missing key replaces the design text";

    QWidget mainWindow;
    mainWindow.setGeometry(100, 80, 850, 600);
    mainWindow.show();
    ctx.MainWindow = &mainWindow;
    ctx.Shown(ShownWindow::Modem) = true;
    ctx.Window(ShownWindow::Modem).show();
    EXPECT_LE((form->frameGeometry().center() - mainWindow.frameGeometry().center()).manhattanLength(), 1);
    ctx.Window(ShownWindow::Modem).close();
    EXPECT_FALSE(ctx.Shown(ShownWindow::Modem));
    // The old six keys in their order, escalation after them, off.
    EXPECT_EQ(Config(), "[MainDevice]\r\nPhoneNumber=\r\nCPort=Com1\r\nCPortBaudRate=9600\r\n\r\n"
                        "[SecondDevice]\r\nPhoneNumber=\r\nCPort=Com2\r\nCPortBaudRate=9600\r\n\r\n"
                        "[Escalation]\r\nMinutes=0\r\nNumbers=\r\n\r\n"
                        "[Ring]\r\nFailuresToReport=7\r\n\r\n"
                        "[Supervision]\r\nSilentHours=0\r\n\r\n"
                        "[Messages]\r\nMultipartWaitSeconds=600\r\n");

    form->show();
    form->BalanceNumber->setText(QStringLiteral("*102#"));
    form->Edit3->setText(QStringLiteral("115200"));
    form->Edit6->setText(QStringLiteral("COM4"));
    form->Edit7->setText(QStringLiteral("abc"));
    form->Edit10->setText(QStringLiteral("-3"));
    form->Edit11->setText(QStringLiteral(" +7911 , x,"));
    form->Edit12->setText(QStringLiteral(" 3"));
    form->Edit13->setText(QStringLiteral("1,5"));
    form->Edit14->setText(QStringLiteral("45 "));
    EXPECT_EQ(form->EscalationSettings(), (std::pair<std::string, std::string>{"0", ""})) << "applied at the close";
    EXPECT_EQ(form->SilentHoursSetting(), "0");
    EXPECT_EQ(dialVars.failuresToReport, 7);
    EXPECT_EQ(modem1.MultipartWaitSeconds.load(), 600u);
    form->close();
    EXPECT_EQ(port1.BaudRate(), br115200);
    EXPECT_EQ(port2.Port(), "COM4");
    EXPECT_EQ(port2.BaudRate(), br9600);
    // Kept as typed: the desk tells what it cannot use.
    EXPECT_EQ(form->EscalationSettings(), (std::pair<std::string, std::string>{"-3", " +7911 , x,"}));
    EXPECT_EQ(form->SilentHoursSetting(), "1,5") << "as typed: the desk tells what it cannot use";
    EXPECT_EQ(Config(), "[MainDevice]\r\nPhoneNumber=*102#\r\nCPort=Com1\r\nCPortBaudRate=115200\r\n\r\n"
                        "[SecondDevice]\r\nPhoneNumber=\r\nCPort=COM4\r\nCPortBaudRate=abc\r\n\r\n"
                        "[Escalation]\r\nMinutes=-3\r\nNumbers= +7911 , x,\r\n\r\n"
                        "[Ring]\r\nFailuresToReport=3\r\n\r\n"
                        "[Supervision]\r\nSilentHours=1,5\r\n\r\n"
                        "[Messages]\r\nMultipartWaitSeconds=45\r\n");
    EXPECT_EQ(dialVars.failuresToReport, 3);
    EXPECT_EQ(modem1.MultipartWaitSeconds.load(), 45u) << "the running inbox waits as the field says";
    EXPECT_EQ(Text(form->Edit14), "45");
    ctx.Window(ShownWindow::Modem).show();
    EXPECT_EQ(Text(form->Edit7), "9600") << "refreshed from the port when shown";
    form->close();
    EXPECT_TRUE(dialogs.messages.empty());

    // A count the ring-round cannot use is told, and the one in force stays.
    for (const char* typed : {"0", "100", "abc", ""}) {
        ctx.Window(ShownWindow::Modem).show();
        form->Edit12->setText(QString::fromUtf8(typed));
        form->close();
        EXPECT_EQ(dialVars.failuresToReport, 3) << typed;
        EXPECT_EQ(Text(form->Edit12), "3") << typed;
    }
    ASSERT_EQ(dialogs.messages.size(), 4u);
    EXPECT_EQ(dialogs.messages[0].text,
              std::string("Тревога обзвона: нужно число неудачных вызовов от 1 до 99. Оставлено 3."_cp));
    EXPECT_NE(Config().find("FailuresToReport=3\r\n"), std::string::npos);

    // So is a wait for the parts of a long SMS outside 10 s to a day.
    dialogs.messages.clear();
    for (const char* typed : {"9", "86401", "10 минут", ""}) {
        ctx.Window(ShownWindow::Modem).show();
        form->Edit14->setText(QString::fromUtf8(typed));
        form->close();
        EXPECT_EQ(modem1.MultipartWaitSeconds.load(), 45u) << typed;
        EXPECT_EQ(Text(form->Edit14), "45") << typed;
    }
    ASSERT_EQ(dialogs.messages.size(), 4u);
    EXPECT_EQ(dialogs.messages[0].text, std::string("Части SMS: нужно число секунд от 10 до 86400. Оставлено 45."_cp));
    ctx.Window(ShownWindow::Modem).show();
    form->Edit14->setText(QStringLiteral("86400"));
    form->close();
    EXPECT_EQ(modem1.MultipartWaitSeconds.load(), 86400u);
    EXPECT_NE(Config().find("MultipartWaitSeconds=86400\r\n"), std::string::npos);
}

TEST_F(ModemWindow, SpeedTextsGarbageLinesAndMissingSections)
{
    test::WriteFileBytes(dir.File("config.ini"), "garbage\n\x01\xff\n=no key\n[MainDevice]\nCPort = /dev/ttyUSB3\n"
                                                 "CPortBaudRate=custom\n[SecondDevice\nCPort=nothing\n");
    auto form = MakeForm();
    EXPECT_EQ(port1.Port(), "/dev/ttyUSB3");
    EXPECT_EQ(dialVars.failuresToReport, 7) << "no [Ring] section";
    EXPECT_EQ(modem1.MultipartWaitSeconds.load(), 600u) << "no [Messages] section";
    EXPECT_EQ(Text(form->Edit3), "Custom");
    EXPECT_EQ(port2.Port(), "Com2") << "a broken header opens no section";
    test::WriteFileBytes(dir.File("config.ini"), "[SecondDevice]\nCPortBaudRate= 115200 \n[MainDevice]\nCPortBaudRate=abc\n"
                                                 "[escalation]\nNumbers=+79001234567\nMinutes=15\n"
                                                 "[Ring]\nFailuresToReport= 12 \n[supervision]\nSilentHours = 24 \n[messages]\nMultipartWaitSeconds=120\n");
    form = MakeForm();
    EXPECT_EQ(form->SilentHoursSetting(), "24");
    EXPECT_EQ(Text(form->Edit13), "24");
    EXPECT_EQ(dialVars.failuresToReport, 12);
    EXPECT_EQ(modem1.MultipartWaitSeconds.load(), 120u) << "read at the window's start";
    EXPECT_EQ(Text(form->Edit14), "120");
    EXPECT_EQ(Text(form->Edit12), "12");
    EXPECT_EQ(Text(form->Edit3), "9600");
    EXPECT_EQ(port2.BaudRate(), br115200);
    EXPECT_EQ(Text(form->Edit10) + " " + Text(form->Edit11), "15 +79001234567");
    EXPECT_EQ(form->EscalationSettings(), (std::pair<std::string, std::string>{"15", "+79001234567"}));
}

TEST_F(ModemWindow, AnUnreadableUnwritableFileKeepsThePortsAndStillAppliesTheFields)
{
    std::filesystem::create_directory(dir.File("config.ini"));
    auto form = MakeForm();
    EXPECT_EQ(port1.Port(), "COM1") << "a load that fails leaves the ports as they were";
    form->show();
    form->Edit1->setText(QStringLiteral("COM7"));
    form->close();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].text.find("config.ini"), std::string::npos) << dialogs.messages[0].text;
    EXPECT_EQ(port1.Port(), "COM7");
}

TEST_F(ModemWindow, InitialisationWritesTheExactBytesWithItsPausesAndStartsBothWorkers)
{
    auto form = MakeForm();
    Rename(*form, pty1.SlavePath(), pty2.SlavePath());
    EXPECT_FALSE(form->PNGButton3->isEnabled() || form->PNGButton2->isEnabled() || form->PNGButton4->isEnabled());
    modem1.AppendReceived("stale");
    modem1.SmsSending = true;
    modem1.SmsIndex = 7;
    modem2.AppendReceived("stale");
    modem2.SmsSending = true;
    // Replies arrive during the pauses; each buffer is emptied after its modem's last pause.
    onWait = [this] {
        if (waits.size() == 1) {
            EXPECT_TRUE(modem1.Running && modem1.SmsIndex == 1 && !modem1.SmsSending);
            EXPECT_EQ(modem1.RxSnapshot(), "") << "cleared before the port opened";
            EXPECT_TRUE(calls.empty()) << "the worker starts after the first pause";
        }
        if (waits.size() == 2)
            modem1.AppendReceived("AT\r\r\nOK\r\n");
        if (waits.size() == 3) {
            EXPECT_TRUE(modem2.RxSnapshot().empty() && !modem2.SmsSending);
        }
        if (waits.size() == 5)
            modem2.AppendReceived("ATE1\r\r\nOK\r\n");
    };

    form->RbButton7Click();
    EXPECT_EQ(pty1.ReadAll(), "AT\r") << "the rest of modem 1's set-up goes through its worker's queue";
    EXPECT_EQ(pty2.ReadAll(), kModem2Lines);
    EXPECT_EQ(waits, (std::vector<std::uint32_t>{1000, 100, 100, 100, 1000}));
    EXPECT_EQ(modem1.PendingCommands(), kModem1Queue);
    EXPECT_EQ(modem1.RxSnapshot() + modem2.RxSnapshot(), "");
    EXPECT_EQ(calls, (Strings{"Comm", "Commands:on", "Dial", "Rebuild", kDialWaiting}));
    EXPECT_FALSE(form->PNGButton7->isEnabled());
    EXPECT_TRUE(form->PNGButton3->isEnabled() && form->PNGButton2->isEnabled() && form->PNGButton4->isEnabled());
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(ModemWindow, AMissingModem1PortStillInitialisesModem2AndALaterPressLeavesModem2Alone)
{
    auto form = MakeForm();
    Rename(*form, dir.File("no-such-port"), pty2.SlavePath());
    form->RbButton7Click();
    EXPECT_EQ(Heads(), Strings{kModem1Failed});
    EXPECT_NE(dialogs.Texts()[0].find(Cp(" не найден: проверьте, подключён ли модем"_cp)), std::string::npos);
    EXPECT_FALSE(modem1.Running);
    EXPECT_TRUE(modem1.QueueEmpty());
    EXPECT_EQ(pty2.ReadAll(), kModem2Lines);
    EXPECT_EQ(calls, (Strings{"Dial", "Rebuild", kDialWaiting}));
    EXPECT_TRUE(form->PNGButton7->isEnabled() && form->PNGButton4->isEnabled());
    EXPECT_FALSE(form->PNGButton3->isEnabled());

    // Fixed and pressed again while modem 2's worker is at work: only modem 1 is set up.
    Rename(*form, pty1.SlavePath(), pty2.SlavePath());
    calls.clear();
    dialogs.messages.clear();
    modem2.AppendReceived("+CSQ: 17,0\r\n");
    form->RbButton7Click();
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(pty1.ReadAll(), "AT\r");
    EXPECT_EQ(pty2.ReadAll(), "") << "nothing written to a running worker's modem";
    EXPECT_EQ(modem2.RxSnapshot(), "+CSQ: 17,0\r\n");
    EXPECT_EQ(calls, (Strings{"Comm", "Commands:on"}));
    EXPECT_FALSE(form->PNGButton7->isEnabled());

    // Both running: a further press changes nothing at all.
    calls.clear();
    waits.clear();
    modem1.AppendReceived("+CMTI: \"SM\",1\r\n");
    form->RbButton7Click();
    EXPECT_TRUE(calls.empty() && waits.empty() && dialogs.messages.empty());
    EXPECT_EQ(modem1.PendingCommands(), kModem1Queue);
    EXPECT_EQ(modem1.RxSnapshot(), "+CMTI: \"SM\",1\r\n");
    EXPECT_EQ(pty1.ReadAll(), "");
}

TEST_F(ModemWindow, PortsHeldByAnotherProgramFailEachModemOnItsOwn)
{
    auto form = MakeForm();
    Rename(*form, pty1.SlavePath(), pty2.SlavePath());
    TComPort other1, other2;
    other1.SetPort(pty1.SlavePath());
    other2.SetPort(pty2.SlavePath());
    other1.Open();
    other2.Open();
    form->RbButton7Click();
    EXPECT_EQ(Heads(), (Strings{kModem1Failed, kModem2Failed}));
    EXPECT_EQ(dialogs.Texts()[0], kModem1Failed + "\r\n\r\n" + Cp("Порт "_cp) + pty1.SlavePath() +
                                      Cp(" уже открыт этой станцией: проверьте, не указан ли один порт для обоих модемов."_cp));
    EXPECT_FALSE(modem1.Running || modem2.Running || port1.Connected() || port2.Connected());
    EXPECT_TRUE(calls.empty()) << "no worker, no board rebuild, no command buttons";
    EXPECT_TRUE(form->PNGButton7->isEnabled());
}

// A child process that opens a device as the station does (or, `lock`
// false, only opens it) and holds it until the test lets go; its name is
// what the box should tell.
class Holder {
public:
    explicit Holder(const std::string& path, bool lock = true, const char* name = "kv-holder")
    {
        int ready[2];
        if (pipe(ready) != 0 || pipe(m_release) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            // Only async-signal-safe calls: the test process has threads.
            close(m_release[1]); // the test's close is the release
            prctl(PR_SET_NAME, name);
            int error = 0;
            const int fd = lock ? comport::OpenExclusive(path, error) : open(path.c_str(), O_RDWR | O_NOCTTY);
            char byte = fd >= 0 ? 1 : 0;
            (void)!write(ready[1], &byte, 1);
            (void)!read(m_release[0], &byte, 1);
            _exit(0);
        }
        close(m_release[0]);
        char byte = 0;
        m_holding = read(ready[0], &byte, 1) == 1 && byte == 1;
        close(ready[0]);
        close(ready[1]);
    }
    ~Holder()
    {
        close(m_release[1]);
        if (m_pid > 0)
            waitpid(m_pid, nullptr, 0);
    }
    bool Holding() const { return m_holding; }
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_release[2] = {-1, -1}; // the child reads [0], the test holds [1]
    bool m_holding = false;
};

TEST_F(ModemWindow, APortHeldByAnotherProcessNamesItInTheBox)
{
    auto form = MakeForm();
    Rename(*form, pty1.SlavePath(), pty2.SlavePath());
    Holder holder(pty1.SlavePath());
    ASSERT_TRUE(holder.Holding());
    form->RbButton7Click();
    ASSERT_EQ(Heads(), Strings{kModem1Failed}) << "modem 2 opens as usual";
    EXPECT_EQ(dialogs.Texts()[0], kModem1Failed + "\r\n\r\n" + Cp("Порт "_cp) + pty1.SlavePath() +
                                      Cp(" занят программой "_cp) + "kv-holder" + Cp(" (процесс "_cp) +
                                      std::to_string(holder.Pid()) + Cp("). Закройте её и повторите."_cp));
}

// A program that only has the port open as well (started first, so found
// first) is not the one named: the holder of the lock is.
TEST(PortAdvice, APortOpenInTwoProgramsNamesTheOneHoldingItsLock)
{
    test::Pty pty;
    Holder bystander(pty.SlavePath(), false, "kv-bystander");
    Holder holder(pty.SlavePath());
    ASSERT_TRUE(bystander.Holding() && holder.Holding());
    int error = 0;
    EXPECT_LT(comport::OpenExclusive(pty.SlavePath(), error), 0);
    EXPECT_EQ(PortAdvice(error, pty.SlavePath()), Cp("Порт "_cp) + pty.SlavePath() + Cp(" занят программой "_cp) +
                                                      "kv-holder" + Cp(" (процесс "_cp) + std::to_string(holder.Pid()) +
                                                      Cp("). Закройте её и повторите."_cp));
}

// The permission refusal comes from a real open by an unprivileged user: the
// tests run as root, whom a mode of 000 does not stop.
TEST(PortAdvice, APortTheUserMayNotOpenNamesTheGroupAndTheNewLogin)
{
    test::Pty pty;
    ASSERT_EQ(chmod(pty.SlavePath().c_str(), 0), 0);
    int error = 0;
    if (geteuid() != 0) {
        EXPECT_LT(comport::OpenExclusive(pty.SlavePath(), error), 0);
    } else {
        const passwd* nobody = getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        const uid_t uid = nobody->pw_uid;
        const gid_t gid = nobody->pw_gid;
        int result[2];
        ASSERT_EQ(pipe(result), 0);
        const pid_t child = fork();
        if (child == 0) {
            int e = 0;
            if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
                e = -1;
            else if (comport::OpenExclusive(pty.SlavePath(), e) >= 0)
                e = 0;
            (void)!write(result[1], &e, sizeof e);
            _exit(0);
        }
        ASSERT_EQ(read(result[0], &error, sizeof error), static_cast<ssize_t>(sizeof error));
        waitpid(child, nullptr, 0);
        close(result[0]);
        close(result[1]);
    }
    ASSERT_EQ(error, EACCES);

    // As the station gets it from the port.
    std::string advice;
    try {
        throw EComPort(ComError::OpenFailed, error, pty.SlavePath());
    } catch (...) {
        advice = PortAdvice(std::current_exception(), pty.SlavePath());
    }
    const std::string user = comport::CurrentUserName();
    EXPECT_EQ(advice, Cp("Нет прав на доступ к порту "_cp) + pty.SlavePath() + Cp(". Добавьте пользователя "_cp) +
                          user + Cp(" в группу dialout (sudo adduser "_cp) + user +
                          Cp(" dialout) и войдите в систему заново."_cp));
    EXPECT_EQ(PortAdvice(std::make_exception_ptr(EComPort(ComError::WriteFailed, EACCES, "x")), "x"), "")
        << "only a refused open has advice";
    EXPECT_EQ(PortAdvice(std::make_exception_ptr(std::runtime_error("x")), "x"), "");
}

TEST_F(ModemWindow, ARingRoundStartedBeforeInitialisationOnlyGetsItsPortOpened)
{
    auto form = MakeForm();
    Rename(*form, pty1.SlavePath(), pty2.SlavePath());
    modem2.Running = dialStarted = true; // the main window's ring-round start, port still closed
    form->RbButton7Click();
    EXPECT_TRUE(port2.Connected());
    EXPECT_EQ(pty2.ReadAll(), "");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Dial"), 0);
    EXPECT_TRUE(form->PNGButton4->isEnabled());
}

TEST_F(ModemWindow, ARenamedOpenPortIsReopenedUnderItsNewNameAtClose)
{
    auto form = MakeForm();
    Rename(*form, pty1.SlavePath(), pty2.SlavePath());
    form->RbButton7Click();
    test::Pty other;
    Rename(*form, other.SlavePath(), pty2.SlavePath());
    EXPECT_TRUE(port1.Connected());
    EXPECT_EQ(port1.WriteText("AT\r"), 3);
    EXPECT_EQ(other.Read(3), "AT\r");

    Rename(*form, dir.File("gone"), pty2.SlavePath());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].text.find("Unable to open com port"), std::string::npos);
    EXPECT_FALSE(port1.Connected());
    EXPECT_TRUE(port2.Connected()) << "modem 2's port is applied on its own";
}

TEST_F(ModemWindow, BalanceRequestsAndTheLinkTest)
{
    auto form = MakeForm();
    form->BalanceNumber->setText(QStringLiteral("*100#"));
    EXPECT_EQ(form->BalanceEnquiry(), "*100#");
    form->AddBalanceLine("old answer");
    form->RbButton2Click();
    EXPECT_TRUE(modem1.UssdPending);
    EXPECT_TRUE(form->BalanceInfo->toPlainText().isEmpty());
    form->RbButton3Click();
    EXPECT_EQ(modem1.PendingCommands(), (Strings{"AT+CUSD=1,\"002A0031003000300023\",15\r", "AT\r"}));

    form->AddBalanceLine("old answer");
    form->PNGButton4Click();
    EXPECT_TRUE(dialVars.balanceRequest);
    EXPECT_TRUE(form->BalanceInfo->toPlainText().isEmpty());

    // A request the full ring refuses gets no answer: the polls must not stay stopped.
    modem1.UssdPending = false;
    while (EnqueueCommand(modem1, "AT\r")) {
    }
    form->RbButton2Click();
    EXPECT_FALSE(modem1.UssdPending);

    // The way to the technological journal is the station's password dialog.
    form->RbButton4Click();
    EXPECT_EQ(calls.back(), "Password");
}

TEST_F(ModemWindow, PortSelectionSetsUpEachPortRefreshesTheModemWindowAndCloses)
{
    auto modemForm = MakeForm();
    TComPortForm form(port1, port2, [&] { modemForm->RefreshPortFields(); });
    portForm = &form;
    form.RunSetup = [&](TComPort& port, QWidget*) {
        port.SetPort(&port == &port1 ? "/dev/ttyUSB0" : "elsewhere");
        if (&port == &port2)
            throw EComPort(ComError::OpenFailed, 2, "elsewhere");
        return true;
    };
    bool wasModal = false;
    QTimer::singleShot(0, [&] {
        wasModal = form.isVisible() && form.isModal();
        form.PNGButton1->click();
    });
    modemForm->PNGButton1->click();
    EXPECT_TRUE(wasModal);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(Text(modemForm->Edit1), "/dev/ttyUSB0");

    // A choice that cannot be applied is reported; the window still refreshes and closes.
    form.show();
    form.RbButton2Click();
    EXPECT_EQ(dialogs.Texts(), Strings{"COM Port Error: Unable to open com port on elsewhere"});
    EXPECT_EQ(Text(modemForm->Edit6), "elsewhere");
    EXPECT_FALSE(form.isVisible());
}

} // namespace
