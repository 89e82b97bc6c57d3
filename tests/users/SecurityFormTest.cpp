#include "data/MemTable.h"
#include "data/Schemas.h"
#include "data/TableFormat.h"
#include "data/Text.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TempDir.h"
#include "timing/DateTime.h"
#include "users/SecurityUnit.h"
#include "windows/AppPaths.h"
#include "windows/DBGrid.h"
#include "windows/IniFile.h"
#include "windows/QtText.h"
#include "windows/StationContext.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {

using namespace kv;
using namespace kv::literals;

std::string Cp(std::string_view v) { return std::string(v); }

const std::string kAdmin = Cp("Администратор"_cp);

class Access : public ::testing::Test {
protected:
    Access()
    {
        SetProgramDirForTests(QString::fromStdString(dir.path().string()));
        events.SetName("EventsTable");
        DefineJournal(events);
        events.SetAfterPost([this](MemTable&) { ++afterPosts; });
        ctx.EventsTable = &events;
        ctx.SetLoginControlsEnabled = [this](bool on) { loginControls.push_back(on); };
        ctx.SetDeviceTablesReadOnly = [this](bool readOnly) { deviceTablesReadOnly.push_back(readOnly); };
    }
    ~Access() override { SetProgramDirForTests({}); }

    static void WriteAccounts(const std::vector<std::pair<std::string, std::string>>& accounts)
    {
        MemTable table("SecurityTable");
        DefineSecurityTable(table);
        for (const auto& [user, password] : accounts) {
            table.Append();
            table.FieldByName("user").SetAsString(user);
            table.FieldByName("password").SetAsString(password);
            table.Post();
        }
        TableFormat().Save(table, TSecurityForm::kTableFile);
    }

    static std::vector<std::pair<std::string, std::string>> SavedAccounts()
    {
        MemTable table;
        TableFormat().Load(table, TSecurityForm::kTableFile);
        std::vector<std::pair<std::string, std::string>> out;
        for (int row = 0; row < table.RecordCount(); ++row)
            out.emplace_back(table.TextAt(row, security::User), table.TextAt(row, security::Password));
        return out;
    }

    std::unique_ptr<TSecurityForm> MakeForm() { return std::make_unique<TSecurityForm>(ctx); }

    static void LogIn(TSecurityForm& form, const std::string& user, const std::string& password)
    {
        form.UserEdit->setText(ToQ(user));
        form.PasswordEdit->setText(ToQ(password));
        form.RbButton1Click();
    }

    static std::string Caption(const QPushButton* b) { return FromQ(b->text()); }

    // The journal row at `row` (0: newest).
    std::string Status(int row) const { return events.TextAt(row, journal::Status); }
    std::string Tel(int row) const { return events.TextAt(row, journal::Tel); }
    std::string Event(int row) const { return events.TextAt(row, journal::Event); }

    test::TempDir dir;
    test::ScriptedDialogs dialogs;
    MemTable events;
    StationContext ctx;
    int afterPosts = 0;
    std::vector<bool> loginControls;
    std::vector<bool> deviceTablesReadOnly;
};

TEST_F(Access, AnEmptyListOpensTheAdministratorTabToCreateTheAdministrator)
{
    WriteAccounts({});
    auto form = MakeForm();
    EXPECT_EQ(form->windowTitle(), ToQ("Доступ"_cp));
    EXPECT_TRUE(form->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{Cp("Список пользователей пуст!"_cp)});
    EXPECT_EQ(dialogs.messages[0].kind, MsgKind::Information);
    EXPECT_TRUE(ctx.AdminAccess);
    EXPECT_FALSE(ctx.LoggedIn);

    ctx.Window(ShownWindow::Access).show();
    form->PageControl1->setCurrentIndex(1);
    ASSERT_EQ(form->PageControl1->currentIndex(), 1);
    form->Edit1->setText(ToQ(kAdmin));
    form->Edit2->setText(QStringLiteral("secret"));
    form->RbButton2Click();
    EXPECT_TRUE(form->Edit1->text().isEmpty());
    EXPECT_TRUE(form->Edit2->text().isEmpty());
    EXPECT_FALSE(form->RbButton2->isEnabled());
    ASSERT_EQ(form->SecurityTable.RecordCount(), 1);
    form->PageControl1->setCurrentIndex(0);
    ASSERT_EQ(form->PageControl1->currentIndex(), 0);

    ctx.Shown(ShownWindow::Access) = true;
    LogIn(*form, kAdmin, "secret");
    EXPECT_TRUE(ctx.LoggedIn);
    EXPECT_TRUE(ctx.AdminAccess);
    EXPECT_EQ(deviceTablesReadOnly, std::vector<bool>{false}) << "the administrator may edit the register";
    EXPECT_EQ(loginControls, std::vector<bool>{true});
    EXPECT_EQ(Caption(form->RbButton1), Cp("Выход из системы"_cp));
    EXPECT_FALSE(form->UserEdit->isEnabled());
    EXPECT_FALSE(form->PasswordEdit->isEnabled());
    EXPECT_TRUE(form->RbButton1->isEnabled());
    EXPECT_FALSE(form->isVisible()) << "a successful login closes the window";
    EXPECT_FALSE(ctx.Shown(ShownWindow::Access));
    EXPECT_EQ(SavedAccounts(), (std::vector<std::pair<std::string, std::string>>{{kAdmin, "secret"}}));
    EXPECT_EQ(IniFile(dir.File("user.ini")).Read("Users", "LastLoginUser"), kAdmin);

    ASSERT_EQ(events.RecordCount(), 1);
    EXPECT_EQ(afterPosts, 1) << "the row is posted, so the journal's after-post runs";
    EXPECT_EQ(Status(0), Cp("Логин"_cp));
    EXPECT_EQ(Tel(0), Cp("GSM-модем"_cp));
    EXPECT_EQ(Event(0), Cp("Пользователь: Администратор вошел в систему"_cp));
    EXPECT_TRUE(events.IsNullAt(0, journal::SimpleName));
    EXPECT_NEAR(events.DateTimeAt(0, journal::EventTime), LocalNow(), 1.0 / 1440);
    EXPECT_EQ(dialogs.messages.size(), 1u);
}

TEST_F(Access, AnotherLetterCaseOfTheAdministratorIsAnOrdinaryUser)
{
    WriteAccounts({{Cp("администратор"_cp), "pw"}, {kAdmin, "root"}});
    auto form = MakeForm();
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_FALSE(ctx.AdminAccess);
    EXPECT_EQ(form->SecurityTable.RecNo(), 1);

    form->show();
    LogIn(*form, Cp("администратор"_cp), "pw");
    EXPECT_TRUE(ctx.LoggedIn);
    EXPECT_FALSE(ctx.AdminAccess);
    EXPECT_EQ(deviceTablesReadOnly, std::vector<bool>{true});

    form->show();
    form->PageControl1->setCurrentIndex(1);
    EXPECT_EQ(form->PageControl1->currentIndex(), 0) << "only the administrator opens the other tab";

    // Logout: a second row, the fields open again, the button waits for a password.
    form->RbButton1Click();
    EXPECT_FALSE(ctx.LoggedIn);
    EXPECT_FALSE(ctx.AdminAccess);
    EXPECT_EQ(loginControls, (std::vector<bool>{true, false}));
    EXPECT_EQ(deviceTablesReadOnly, std::vector<bool>{true}) << "logout leaves the tables as the login set them";
    EXPECT_EQ(Caption(form->RbButton1), Cp("Авторизация"_cp));
    EXPECT_TRUE(form->UserEdit->isEnabled());
    EXPECT_TRUE(form->PasswordEdit->isEnabled());
    EXPECT_TRUE(form->PasswordEdit->text().isEmpty());
    EXPECT_FALSE(form->RbButton1->isEnabled());
    EXPECT_TRUE(form->isVisible()) << "logging out keeps the window open";

    ASSERT_EQ(events.RecordCount(), 2);
    EXPECT_EQ(Event(0), Cp("Пользователь: администратор вышел из системы"_cp));
    EXPECT_EQ(Event(1), Cp("Пользователь: администратор вошел в систему"_cp));
    for (int row : {0, 1}) {
        EXPECT_EQ(Status(row), Cp("Логин"_cp));
        EXPECT_EQ(Tel(row), Cp("GSM-модем"_cp));
        EXPECT_TRUE(events.IsNullAt(row, journal::SimpleName));
    }

    // The real administrator, then, switches freely.
    LogIn(*form, kAdmin, "root");
    EXPECT_TRUE(ctx.AdminAccess);
    EXPECT_EQ(deviceTablesReadOnly, (std::vector<bool>{true, false}));
    form->show();
    form->PageControl1->setCurrentIndex(1);
    EXPECT_EQ(form->PageControl1->currentIndex(), 1);
    form->PageControl1->setCurrentIndex(0);
    EXPECT_EQ(form->PageControl1->currentIndex(), 0);
    form->close();
}

TEST_F(Access, AFailedLoginChangesNothingButTheLoginFlag)
{
    WriteAccounts({{"operator", "pw"}});
    auto form = MakeForm();
    form->show();
    ctx.LoggedIn = true; // whatever it was
    for (const auto& [user, password] : std::vector<std::pair<std::string, std::string>>{
             {"operator", "pw "}, {"operator ", "pw"}, {"Operator", "pw"}, {"operator", "PW"}}) {
        dialogs.messages.clear();
        LogIn(*form, user, password);
        ASSERT_EQ(dialogs.Texts(), std::vector<std::string>{Cp("Не верное имя пользователя или пароль!"_cp)}) << user;
        EXPECT_EQ(dialogs.messages[0].kind, MsgKind::Error);
        EXPECT_FALSE(ctx.LoggedIn);
        EXPECT_EQ(Caption(form->RbButton1), Cp("Авторизация"_cp));
        EXPECT_TRUE(form->UserEdit->isEnabled());
        EXPECT_TRUE(form->PasswordEdit->isEnabled());
        EXPECT_EQ(FromQ(form->PasswordEdit->text()), password);
        EXPECT_TRUE(form->isVisible());
    }
    EXPECT_EQ(events.RecordCount(), 0);
    EXPECT_TRUE(loginControls.empty());
    EXPECT_TRUE(deviceTablesReadOnly.empty());
    form->close();
}

TEST_F(Access, AFailedLoginWithoutAccountsKeepsTheAdministratorTabOpen)
{
    WriteAccounts({});
    auto form = MakeForm();
    LogIn(*form, "nobody", "x");
    EXPECT_FALSE(ctx.LoggedIn);
    EXPECT_TRUE(ctx.AdminAccess);
}

TEST_F(Access, AMissingOrDamagedListIsReportedAndADamagedFileIsKeptAside)
{
    {
        auto form = MakeForm();
        EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{Cp("Нет информации о пользователях!"_cp)});
        EXPECT_TRUE(ctx.AdminAccess);
    }

    const std::string garbage = "TPF0\xff\xff\xff\x7f not a table at all";
    test::WriteFileBytes(dir.File("t4.bin"), garbage);
    dialogs.messages.clear();
    ctx.AdminAccess = false;
    auto form = MakeForm();
    EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{Cp("Нет информации о пользователях!"_cp)});
    EXPECT_TRUE(ctx.AdminAccess);
    EXPECT_EQ(test::ReadFileBytes(dir.File("t4.bin.damaged")), garbage);

    // The list still works and is saved in place of the unreadable one.
    form->show();
    form->PageControl1->setCurrentIndex(1);
    form->Edit1->setText(QStringLiteral("first"));
    form->Edit2->setText(QStringLiteral("1"));
    form->RbButton2Click();
    form->close();
    EXPECT_EQ(SavedAccounts(), (std::vector<std::pair<std::string, std::string>>{{"first", "1"}}));
    EXPECT_EQ(test::ReadFileBytes(dir.File("t4.bin.damaged")), garbage);
}

TEST_F(Access, ATableOfAnotherKindCountsAsNoList)
{
    MemTable other;
    DefineJournal(other);
    TableFormat().Save(other, TSecurityForm::kTableFile);
    auto form = MakeForm();
    EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{Cp("Нет информации о пользователях!"_cp)});
    form->Edit1->setText(QStringLiteral("a"));
    form->Edit2->setText(QStringLiteral("b"));
    form->RbButton2Click();
    EXPECT_EQ(form->SecurityTable.RecordCount(), 1);
    LogIn(*form, "a", "b");
    EXPECT_TRUE(ctx.LoggedIn);
}

TEST_F(Access, ASaveThatFailsIsReportedWithTheFileName)
{
    std::filesystem::create_directory(dir.File("t4.bin"));
    auto form = MakeForm();
    dialogs.messages.clear();
    form->show();
    form->close();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].kind, MsgKind::Error);
    EXPECT_NE(dialogs.messages[0].text.find("t4.bin"), std::string::npos) << dialogs.messages[0].text;
    EXPECT_FALSE(ctx.Shown(ShownWindow::Access));
}

TEST_F(Access, TheLastUserIsOfferedAgainAtTheNextStart)
{
    WriteAccounts({{"operator", "pw"}});
    {
        auto form = MakeForm();
        EXPECT_TRUE(form->UserEdit->text().isEmpty());
        EXPECT_FALSE(form->PasswordEdit->isEnabled());
        form->show();
        form->UserEdit->setText(ToQ("Оператор смены"_cp));
        form->close();
    }
    auto form = MakeForm();
    EXPECT_EQ(FromQ(form->UserEdit->text()), Cp("Оператор смены"_cp));
    EXPECT_TRUE(form->PasswordEdit->isEnabled());
    EXPECT_FALSE(form->RbButton1->isEnabled());
}

TEST_F(Access, FieldsEnableTheNextStepOnlyWhileTheyHoldText)
{
    WriteAccounts({{"operator", "pw"}});
    auto form = MakeForm();
    EXPECT_FALSE(form->PasswordEdit->isEnabled());
    EXPECT_FALSE(form->RbButton1->isEnabled());
    EXPECT_FALSE(form->Edit2->isEnabled());
    EXPECT_FALSE(form->RbButton2->isEnabled());
    EXPECT_TRUE(form->RbButton3->isEnabled());

    form->UserEdit->setText(QStringLiteral("o"));
    EXPECT_TRUE(form->PasswordEdit->isEnabled());
    form->PasswordEdit->setText(QStringLiteral("p"));
    EXPECT_TRUE(form->RbButton1->isEnabled());
    form->PasswordEdit->clear();
    EXPECT_FALSE(form->RbButton1->isEnabled());
    form->UserEdit->clear();
    EXPECT_FALSE(form->PasswordEdit->isEnabled());

    form->Edit1->setText(QStringLiteral("n"));
    EXPECT_TRUE(form->Edit2->isEnabled());
    form->Edit2->setText(QStringLiteral("p"));
    EXPECT_TRUE(form->RbButton2->isEnabled());
    form->Edit2->clear();
    EXPECT_FALSE(form->RbButton2->isEnabled());
    form->Edit1->clear();
    EXPECT_FALSE(form->Edit2->isEnabled());

    EXPECT_EQ(form->PasswordEdit->echoMode(), QLineEdit::Password);
    EXPECT_EQ(form->Edit2->echoMode(), QLineEdit::Password);
}

TEST_F(Access, EnterInThePasswordFieldLogsIn)
{
    WriteAccounts({{"operator", "pw"}});
    auto form = MakeForm();
    form->show();
    form->UserEdit->setText(QStringLiteral("operator"));
    form->PasswordEdit->setText(QStringLiteral("pw"));
    form->PasswordEdit->setFocus();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(form->PasswordEdit, &enter);
    EXPECT_TRUE(ctx.LoggedIn);
    EXPECT_EQ(form->SecurityTable.RecordCount(), 1) << "no administrator's button answered";
}

TEST_F(Access, AddingCutsToTheFieldWidthAndDeletingTakesTheSelectedRow)
{
    WriteAccounts({});
    auto form = MakeForm();
    dialogs.messages.clear();
    form->RbButton3Click();
    EXPECT_EQ(dialogs.Texts(),
              std::vector<std::string>{"SecurityTable: Cannot perform this operation on an empty dataset"});

    const std::string longName(150, 'x');
    form->Edit1->setText(ToQ(longName));
    form->Edit2->setText(ToQ(std::string(120, 'y')));
    form->RbButton2Click();
    form->Edit1->setText(QStringLiteral("second"));
    form->Edit2->setText(QStringLiteral("2"));
    form->RbButton2Click();
    form->Edit1->setText(QStringLiteral("second"));
    form->Edit2->setText(QStringLiteral("2"));
    form->RbButton2Click(); // no check for duplicates
    ASSERT_EQ(form->SecurityTable.RecordCount(), 3);
    EXPECT_EQ(form->SecurityTable.TextAt(0, security::User), std::string(100, 'x'));
    EXPECT_EQ(form->SecurityTable.TextAt(0, security::Password), std::string(100, 'y'));

    // The operator selects the first row in the grid.
    form->DBGrid1->selectRow(0);
    EXPECT_EQ(form->SecurityTable.RecNo(), 1);
    form->RbButton3Click();
    ASSERT_EQ(form->SecurityTable.RecordCount(), 2);
    EXPECT_EQ(form->SecurityTable.TextAt(0, security::User), "second");
    EXPECT_EQ(dialogs.messages.size(), 1u);
}

TEST_F(Access, TheWindowShowsItsTextsWhole)
{
    WriteAccounts({{kAdmin, "root"}, {"operator", "pw"}});
    auto form = MakeForm();
    ctx.AdminAccess = true;
    form->UserEdit->setText(ToQ("Оператор"_cp));
    form->PasswordEdit->setText(QStringLiteral("secret"));
    form->show();
    for (int page : {0, 1}) {
        form->PageControl1->setCurrentIndex(page);
        const QImage image = form->grab().toImage();
        if (const char* folder = std::getenv("KORVALEN_SNAPSHOT_DIR"))
            image.save(QString::fromLocal8Bit(folder) + QStringLiteral("/access-%1.png").arg(page));
        for (QPushButton* b : form->findChildren<QPushButton*>()) {
            if (b->isVisible()) {
                EXPECT_LT(b->fontMetrics().horizontalAdvance(b->text()), b->width()) << b->objectName().toStdString();
            }
        }
        for (QLabel* l : form->findChildren<QLabel*>()) {
            if (l->isVisible()) {
                EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), l->contentsRect().width());
            }
        }
    }
    EXPECT_EQ(form->DBGrid1->model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
              ToQ("Пользователь"_cp));
    EXPECT_TRUE(form->DBGrid1->horizontalHeader()->isVisible());
    EXPECT_EQ(form->PageControl1->tabText(0), ToQ("Пользователи"_cp));
    EXPECT_EQ(form->PageControl1->tabText(1), ToQ("Администратор"_cp));
    form->close();
}

} // namespace
