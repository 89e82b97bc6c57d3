#include "serial/CPort.h"
#include "serial/setup/CPortSetup.h"
#include "tests/support/EnglishWords.h"
#include "tests/support/Pty.h"
#include "timing/UiThread.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <termios.h>

namespace {

using namespace kv;

QComboBox* Combo(QWidget& dialog, const char* name)
{
    auto* combo = dialog.findChild<QComboBox*>(QString::fromLatin1(name));
    EXPECT_NE(combo, nullptr) << name;
    return combo;
}

void Choose(QWidget& dialog, const char* name, const QString& text)
{
    QComboBox* combo = Combo(dialog, name);
    ASSERT_NE(combo, nullptr);
    const int index = combo->findText(text);
    ASSERT_GE(index, 0) << name << " has no " << text.toStdString();
    combo->setCurrentIndex(index);
}

void Click(QWidget& dialog, const char* name)
{
    auto* button = dialog.findChild<QPushButton*>(QString::fromLatin1(name));
    ASSERT_NE(button, nullptr) << name;
    button->click();
}

TEST(ComSetup, ShowsTheCurrentSettingsUnderTheirNames)
{
    TComPort port;
    port.SetPort("/dev/pts/77");
    port.SetBaudRate(br115200);
    port.SetDataBits(dbSeven);
    port.SetStopBits(sbTwoStopBits);
    TComParity even;
    even.Bits = prEven;
    port.SetParity(even);
    TComFlowControl software;
    software.SetFlowControl(fcSoftware);
    port.SetFlowControl(software);

    TComSetupFrm dialog(port, QStringList{"ttyS0", "ttyS1"});
    EXPECT_EQ(dialog.windowTitle(), "Настройка порта");
    auto* group = dialog.findChild<QGroupBox*>("GroupSettings");
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->title(), " Параметры ");

    QStringList labels;
    for (QLabel* label : dialog.findChildren<QLabel*>())
        labels << label->text();
    for (const char* text : {"Порт", "Скорость", "Биты данных", "Стоповые биты", "Чётность", "Управление потоком"})
        EXPECT_TRUE(labels.contains(QString::fromUtf8(text))) << text;
    EXPECT_EQ(dialog.findChild<QPushButton*>("ButtonOK")->text(), "ОК");
    EXPECT_EQ(dialog.findChild<QPushButton*>("ButtonCancel")->text(), "Отмена");
    EXPECT_EQ(test::EnglishTextsIn(dialog), std::vector<std::string>{});

    QComboBox* ports = Combo(dialog, "ComboPort");
    ASSERT_NE(ports, nullptr);
    EXPECT_EQ(ports->count(), 3) << "the port's own name joins the list";
    EXPECT_EQ(ports->currentText(), "/dev/pts/77");
    QComboBox* baud = Combo(dialog, "ComboBaudRate");
    ASSERT_NE(baud, nullptr);
    EXPECT_EQ(baud->count(), 16);
    EXPECT_EQ(baud->itemText(0), "Другая");
    EXPECT_EQ(baud->currentText(), "115200");
    EXPECT_EQ(Combo(dialog, "ComboDataBits")->currentText(), "7");
    EXPECT_EQ(Combo(dialog, "ComboStopBits")->currentText(), "2");
    EXPECT_EQ(Combo(dialog, "ComboParity")->currentText(), "Чёт");
    EXPECT_EQ(Combo(dialog, "ComboFlowControl")->currentText(), "Программное");
    EXPECT_EQ(Combo(dialog, "ComboFlowControl")->accessibleName(), "Управление потоком");
    EXPECT_EQ(Combo(dialog, "ComboParity")->accessibleDescription(), "ComboParity");

    const QStringList system = TComSetupFrm::SystemPorts();
    QStringList sorted = system;
    sorted.sort();
    EXPECT_EQ(system, sorted);
}

TEST(ComSetup, OkMovesAnOpenPortWithAllSixSettingsAtOnce)
{
    ResetShutdownForTests();
    test::Pty first, second;
    ASSERT_TRUE(first.MasterOpen() && second.MasterOpen());
    int reopened = 0;
    TComPort port;
    port.SetPort(first.SlavePath());
    port.SetBaudRate(br115200);
    port.SetOnBeforeClose([&](TComPort*) { ++reopened; });
    port.Open();

    const QStringList ports{QString::fromLatin1(first.SlavePath()), QString::fromLatin1(second.SlavePath())};
    TComSetupFrm dialog(port, ports);
    Choose(dialog, "ComboPort", QString::fromLatin1(second.SlavePath()));
    Choose(dialog, "ComboBaudRate", "57600");
    Choose(dialog, "ComboDataBits", "7");
    Choose(dialog, "ComboStopBits", "2");
    Choose(dialog, "ComboParity", "Нечёт");
    Choose(dialog, "ComboFlowControl", "Аппаратное");
    Click(dialog, "ButtonOK");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    dialog.ApplyToPort();

    EXPECT_EQ(reopened, 1) << "one close and reopen for the whole bracket";
    EXPECT_EQ(port.Port(), second.SlavePath());
    EXPECT_EQ(port.BaudRate(), br57600);
    EXPECT_EQ(port.DataBits(), dbSeven);
    EXPECT_EQ(port.StopBits(), sbTwoStopBits);
    EXPECT_EQ(port.Parity().Bits, prOdd);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcHardware);

    termios t{};
    ASSERT_EQ(tcgetattr(second.MasterFd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
    EXPECT_EQ(t.c_cflag & (CSTOPB | CRTSCTS), static_cast<tcflag_t>(CSTOPB | CRTSCTS));
    EXPECT_EQ(port.WriteText("AT\r"), 3);
    EXPECT_EQ(second.Read(3), "AT\r");
}

TEST(ComSetup, RunSetupDialogAppliesOnOkAndNothingOnCancel)
{
    TComPort port;
    port.SetPort("COM3");
    TComFlowControl custom;
    custom.XonXoffOut = true;
    port.SetFlowControl(custom);

    // Cancel after changing every list: the port keeps its settings.
    QTimer::singleShot(0, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        Choose(*dialog, "ComboBaudRate", "2400");
        Choose(*dialog, "ComboParity", "Маркер");
        Choose(*dialog, "ComboFlowControl", "Нет");
        Click(*dialog, "ButtonCancel");
    });
    EXPECT_FALSE(RunSetupDialog(port));
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.Parity().Bits, prNone);
    EXPECT_EQ(port.FlowControl(), custom);

    // OK: "Своё" (custom) leaves the flow-control flags as they were.
    QTimer::singleShot(0, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(Combo(*dialog, "ComboFlowControl")->currentText(), "Своё");
        Choose(*dialog, "ComboBaudRate", "2400");
        Choose(*dialog, "ComboStopBits", "1.5");
        Click(*dialog, "ButtonOK");
    });
    EXPECT_TRUE(RunSetupDialog(port));
    EXPECT_EQ(port.BaudRate(), br2400);
    EXPECT_EQ(port.StopBits(), sbOne5StopBits);
    EXPECT_EQ(port.Port(), "COM3");
    EXPECT_EQ(port.FlowControl(), custom);
    EXPECT_FALSE(port.Connected());
}

} // namespace
