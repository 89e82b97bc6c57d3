// korvalen-demo: the choice between the demo and real modems, the demo's
// "config.ini", and a working folder the real station starts from quietly.
#include "tools/demo/DemoSetup.h"

#include "data/MemTable.h"
#include "data/Schemas.h"
#include "devices/DeviceRegister.h"
#include "data/TableFormat.h"
#include "devicecard/DeviceUnit.h"
#include "tests/station/StationFixture.h"
#include "timing/DateTime.h"
#include "users/SecurityUnit.h"
#include "data/IniFile.h"
#include "windows/QtText.h"

#include <QLineEdit>

#include <sstream>

namespace kv::test {
namespace {

using namespace kv::literals;
namespace fs = std::filesystem;

std::string Cp(std::string_view utf8) { return FromQ(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()))); }

void WriteConfig(const fs::path& program, const std::string& port1, const std::string& port2)
{
    const IniFile ini((program / "config.ini").string());
    ini.WriteString("MainDevice", "CPort", port1);
    ini.WriteString("SecondDevice", "CPort", port2);
}

std::string RunTool(std::vector<std::string> args, int& code)
{
    args.insert(args.begin(), "korvalen-demo");
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    std::ostringstream out, err;
    code = demo::Run(static_cast<int>(argv.size()), argv.data(), out, err);
    return out.str() + err.str();
}

class DemoSetup : public ::testing::Test {
protected:
    TempDir dir;
    fs::path program() const { return dir.path() / "bin"; }
    fs::path data() const { return dir.path() / "data"; }
    fs::path links() const { return dir.path() / "data" / "modems"; }
    void SetUp() override
    {
        fs::create_directories(program());
        fs::create_directories(links());
    }
};

TEST_F(DemoSetup, DemoStartsWithoutConfigOrWithTheDemosOwnAndOnlyWhenNoConfiguredPortExists)
{
    demo::Decision d = demo::Decide(program(), links());
    EXPECT_EQ(d.mode, demo::Mode::Demo) << "no config.ini";

    // The demo's own file, even though its links are gone with the simulator.
    WriteConfig(program(), (links() / "modem1").string(), (links() / "modem2").string());
    d = demo::Decide(program(), links());
    EXPECT_EQ(d.mode, demo::Mode::Demo);
    EXPECT_FALSE(d.operatorConfig);

    // An operator's ports: one that exists is enough for the real station.
    const fs::path device = dir.path() / "ttyUSB0";
    WriteFileBytes(device, "");
    WriteConfig(program(), "/nonexistent/ttyACM7", device.string());
    d = demo::Decide(program(), links());
    EXPECT_EQ(d.mode, demo::Mode::Real);
    ASSERT_EQ(d.ports.size(), 2u);
    EXPECT_FALSE(d.ports[0].exists);
    EXPECT_TRUE(d.ports[1].exists);

    fs::remove(device);
    d = demo::Decide(program(), links());
    EXPECT_EQ(d.mode, demo::Mode::Demo) << "no configured port exists";
    EXPECT_TRUE(d.operatorConfig);
}

TEST_F(DemoSetup, PortNamesMapAsTheStationOpensThemAndMissingKeysTakeItsDefaults)
{
    WriteFileBytes(program() / "config.ini", "[MainDevice]\r\nPhoneNumber=*100#\r\n");
    demo::Decision d = demo::Decide(program(), links());
    ASSERT_EQ(d.ports.size(), 2u);
    EXPECT_EQ(d.ports[0].name, "Com1");
    EXPECT_EQ(d.ports[0].path, "/dev/ttyS0");
    EXPECT_EQ(d.ports[1].path, "/dev/ttyS1");
    // /dev/ttyS0 exists on most machines, modem or not: an old config.ini that
    // relies on the defaults starts the real station, never the demo over it.
    EXPECT_EQ(d.mode == demo::Mode::Real, fs::exists("/dev/ttyS0") || fs::exists("/dev/ttyS1"));

    WriteConfig(program(), "ttyUSB3", "COM12");
    d = demo::Decide(program(), links());
    EXPECT_EQ(d.ports[0].path, "/dev/ttyUSB3");
    EXPECT_EQ(d.ports[1].path, "/dev/ttyS11");
}

TEST_F(DemoSetup, DemoConfigPointsAtTheSimulatorAndKeepsAnOperatorsFileAside)
{
    WriteConfig(program(), "/nonexistent/a", "/nonexistent/b");
    const std::string operatorFile = ReadFileBytes(program() / "config.ini");
    const std::string m1 = (links() / "modem1").string(), m2 = (links() / "modem2").string();

    EXPECT_EQ(demo::WriteDemoConfig(program(), links(), m1, m2), "config.ini.saved");
    EXPECT_EQ(ReadFileBytes(program() / "config.ini.saved"), operatorFile);
    const IniFile ini((program() / "config.ini").string());
    EXPECT_EQ(ini.Read("MainDevice", "CPort"), m1);
    EXPECT_EQ(ini.Read("MainDevice", "CPortBaudRate"), "115200");
    EXPECT_EQ(ini.Read("MainDevice", "PhoneNumber"), "*100#");
    EXPECT_EQ(ini.Read("SecondDevice", "CPort"), m2);
    EXPECT_EQ(ini.Read("SecondDevice", "CPortBaudRate"), "115200");
    EXPECT_EQ(ini.Read("SecondDevice", "PhoneNumber"), "");

    // Rewriting the demo's own file keeps nothing; a second operator file never
    // replaces the first one kept.
    EXPECT_EQ(demo::WriteDemoConfig(program(), links(), m1, m2), "");
    WriteConfig(program(), "/nonexistent/c", "/nonexistent/d");
    EXPECT_EQ(demo::WriteDemoConfig(program(), links(), m1, m2), "config.ini.saved2");
    EXPECT_EQ(ReadFileBytes(program() / "config.ini.saved"), operatorFile);
}

TEST_F(DemoSetup, FilesAreMadeOnlyWhereMissingAndOnlyWorkingLoginsAreTold)
{
    fs::create_directories(data());
    demo::Prepared p = demo::PrepareFiles(data(), program(), 45000.5);
    EXPECT_EQ(p.made, (std::vector<std::string>{"t1.bin", "t2.bin", "t4.bin", "t3.bin", "t6.bin", "t5.bin", "user.ini"}));
    EXPECT_EQ(p.logins.size(), std::size(demo::kAccounts)) << "the hashed demo passwords let one in";
    const std::string demoAccounts = ReadFileBytes(data() / "t4.bin");
    for (const demo::Account& a : demo::kAccounts)
        EXPECT_EQ(demoAccounts.find(a.password), std::string::npos) << a.password << " in clear";

    const std::string register1 = ReadFileBytes(data() / "t1.bin");
    p = demo::PrepareFiles(data(), program(), 45001.5);
    EXPECT_TRUE(p.made.empty());
    EXPECT_EQ(p.kept.size(), 7u);
    EXPECT_EQ(ReadFileBytes(data() / "t1.bin"), register1);

    // An operator's own accounts stay, and no demo password is offered for them.
    MemTable security;
    DefineSecurityTable(security);
    security.Append();
    security.FieldAt(security::User).SetAsString(Cp("Администратор"));
    security.FieldAt(security::Password).SetAsString("secret");
    security.Post();
    TableFormat().Save(security, (data() / "t4.bin").string());
    const std::string accounts = ReadFileBytes(data() / "t4.bin");
    p = demo::PrepareFiles(data(), program(), 45002.5);
    EXPECT_TRUE(p.logins.empty());
    EXPECT_EQ(ReadFileBytes(data() / "t4.bin"), accounts);

    // Half a register is the operator's problem, not something to complete.
    fs::remove(data() / "t2.bin");
    p = demo::PrepareFiles(data(), program(), 45003.5);
    EXPECT_FALSE(fs::exists(data() / "t2.bin"));
    EXPECT_EQ(ReadFileBytes(data() / "t1.bin"), register1);
}

TEST_F(DemoSetup, ToolAnswersUsageErrorsAndReportsItsChoice)
{
    int code = 0;
    EXPECT_NE(RunTool({}, code).find("usage"), std::string::npos);
    EXPECT_EQ(code, 2);
    RunTool({"mode", program().string()}, code);
    EXPECT_EQ(code, 2);
    EXPECT_EQ(RunTool({"mode", program().string(), links().string()}, code), "demo no config.ini\n");
    EXPECT_EQ(code, 0);
    const std::string out = RunTool({"files", (dir.path() / "no" / "such").string(), program().string()}, code);
    EXPECT_EQ(code, 1) << out;
    EXPECT_NE(out.find("korvalen-demo: "), std::string::npos);
}

// The real station started in a prepared folder: no "empty" boxes, the demo
// register on the board and in the lookups, the operator offered and let in.
TEST_F(StationTest, StationStartsQuietlyFromTheDemoFilesAndLetsTheOperatorIn)
{
    demo::PrepareFiles(dir.path(), dir.path(), LocalNow());
    Create(true);
    EXPECT_TRUE(dialogs.Texts().empty()) << ToQ(dialogs.Texts().front()).toStdString();

    EXPECT_EQ(station->Register().FindNumberByShortName(Cp("Склад"), "?"), "+79001000001");
    EXPECT_EQ(station->Register().FindShortNameByNumber("+79001000006", "?"), Cp("Дача"));
    const auto devices = station->Register().Devices();
    ASSERT_EQ(devices.size(), 6u);
    int dialled = 0;
    for (const DialDevice& d : devices) {
        if (d.dialenable) {
            ++dialled;
            EXPECT_LE(DialSchedule::IntervalMinutes(d.dialtime), 2.0) << "the ring-round shows within minutes";
        }
    }
    EXPECT_EQ(dialled, 5);
    EXPECT_EQ(board().TileText(0, 0), Cp("Склад"));

    TSecurityForm& access = station->SecurityForm();
    EXPECT_EQ(access.UserEdit->text(), QString::fromUtf8("Оператор"));
    access.PasswordEdit->setText(QStringLiteral("1234"));
    access.RbButton1Click();
    EXPECT_TRUE(ctx().LoggedIn);
    EXPECT_FALSE(ctx().AdminAccess);
    EXPECT_TRUE(dialogs.Texts().empty());
}

} // namespace
} // namespace kv::test
