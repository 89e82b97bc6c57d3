// The access window and the journal password dialog, with the account file
// in a fresh current folder and "user.ini" in a fresh program folder.
#include "data/MemTable.h"
#include "data/Schemas.h"
#include "data/TableFormat.h"
#include "data/Text.h"
#include "tests/support/EnglishWords.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TempDir.h"
#include "timing/DateTime.h"
#include "users/PasswordHash.h"
#include "users/SecurityUnit.h"
#include "users/password.h"
#include "windows/AppPaths.h"
#include "windows/DBGrid.h"
#include "data/IniFile.h"
#include "windows/QtText.h"
#include "windows/StationContext.h"
#include "windows/TechnoJournalUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace {

using namespace kv;
using namespace kv::literals;
using Strings = std::vector<std::string>;
using Accounts = std::vector<std::pair<std::string, std::string>>;

std::string Cp(std::string_view v) { return std::string(v); }

const std::string kAdmin = Cp("Администратор"_cp);

void Press(QWidget* w, Qt::Key key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
}

// The station around the access window: it records what the window asks.
struct AccessStation final : IAccessStation {
    void SetLoginControlsEnabled(bool on) override { loginControls.push_back(on); }
    void SetDeviceTablesReadOnly(bool readOnly) override { tablesReadOnly.push_back(readOnly); }
    void OperatorLeaving() override {}
    void OperatorLeft() override { ++left; }
    std::string OpenAlarmsText() override { return {}; }
    void ShowTechnoJournal() override
    {
        if (techno)
            techno->ShowCentred();
    }
    void HideTechnoJournal() override
    {
        if (techno)
            techno->hide();
    }
    std::vector<bool> loginControls, tablesReadOnly;
    TTechnoJournalForm* techno = nullptr;
    int left = 0;
};

class Access : public ::testing::Test {
protected:
    Access()
    {
        SetProgramDirForTests(QString::fromStdString(dir.path().string()));
        DefineJournal(events);
        events.SetAfterPost([this](MemTable&) { ++afterPosts; });
    }
    ~Access() override { SetProgramDirForTests({}); }

    static void WriteAccounts(const Accounts& accounts)
    {
        MemTable table("SecurityTable");
        DefineSecurityTable(table);
        for (const auto& [user, password] : accounts) {
            table.Append();
            table.FieldByName("user").SetAsString(user);
            table.FieldByName("password").SetAsString(password);
            table.Post();
        }
        TableFormat().Save(table, "t4.bin");
    }

    static Accounts Saved()
    {
        MemTable table;
        TableFormat().Load(table, "t4.bin");
        Accounts out;
        for (int row = 0; row < table.RecordCount(); ++row)
            out.emplace_back(table.TextAt(row, security::User), table.TextAt(row, security::Password));
        return out;
    }

    // The names as saved, each password a hash that the given password passes.
    static void ExpectSaved(const Accounts& expected)
    {
        const Accounts saved = Saved();
        ASSERT_EQ(saved.size(), expected.size());
        const std::string bytes = test::ReadFileBytes("t4.bin");
        for (std::size_t i = 0; i < saved.size(); ++i) {
            EXPECT_EQ(saved[i].first, expected[i].first);
            EXPECT_TRUE(IsPasswordHash(saved[i].second)) << saved[i].second;
            EXPECT_TRUE(PasswordMatches(saved[i].second, expected[i].second)) << expected[i].first;
            // Shorter ones may turn up by chance in a salt.
            if (expected[i].second.size() >= 4) {
                EXPECT_EQ(bytes.find(expected[i].second), std::string::npos) << "in clear: " << expected[i].second;
            }
        }
    }

    static void LogIn(TSecurityForm& form, const std::string& user, const std::string& password)
    {
        form.UserEdit->setText(ToQ(user));
        form.PasswordEdit->setText(ToQ(password));
        form.RbButton1Click();
    }

    std::string Row(int row) const
    {
        return events.TextAt(row, journal::Status) + "|" + events.TextAt(row, journal::Tel) + "|" +
               events.TextAt(row, journal::Event) + (events.IsNullAt(row, journal::SimpleName) ? "|null" : "|set");
    }

    test::TempDir dir;
    test::ScriptedDialogs dialogs;
    MemTable events;
    StationContext ctx;
    AccessStation station;
    std::vector<bool>& loginControls = station.loginControls;
    std::vector<bool>& tablesReadOnly = station.tablesReadOnly;
    int afterPosts = 0;
};

TEST_F(Access, AnEmptyListLetsTheOperatorCreateTheAdministratorAndLogIn)
{
    WriteAccounts({});
    auto form = std::make_unique<TSecurityForm>(ctx, events, station);
    EXPECT_EQ(dialogs.Texts(), Strings{Cp("Список пользователей пуст!"_cp)});
    EXPECT_TRUE(ctx.AdminAccess);

    ctx.Window(ShownWindow::Access).show();
    form->PageControl1->setCurrentIndex(1);
    ASSERT_EQ(form->PageControl1->currentIndex(), 1);
    form->Edit1->setText(ToQ(kAdmin));
    form->Edit2->setText(QStringLiteral("secret"));
    form->RbButton2Click();
    EXPECT_TRUE(form->Edit1->text().isEmpty() && form->Edit2->text().isEmpty());
    form->PageControl1->setCurrentIndex(0);

    ctx.Shown(ShownWindow::Access) = true;
    LogIn(*form, kAdmin, "secret");
    EXPECT_TRUE(ctx.LoggedIn && ctx.AdminAccess);
    EXPECT_EQ(tablesReadOnly, std::vector<bool>{false}) << "the administrator may edit the register";
    EXPECT_EQ(loginControls, std::vector<bool>{true});
    EXPECT_EQ(FromQ(form->RbButton1->text()), Cp("Выход из системы"_cp));
    EXPECT_FALSE(form->UserEdit->isEnabled() || form->PasswordEdit->isEnabled());
    EXPECT_FALSE(form->isVisible()) << "a successful login closes the window";
    EXPECT_FALSE(ctx.Shown(ShownWindow::Access));
    ExpectSaved({{kAdmin, "secret"}});
    EXPECT_EQ(IniFile(dir.File("user.ini")).Read("Users", "LastLoginUser"), kAdmin);

    ASSERT_EQ(events.RecordCount(), 1);
    EXPECT_EQ(Row(0), Cp("Логин|GSM-модем|Пользователь: Администратор вошел в систему|null"_cp));
    EXPECT_NEAR(events.DateTimeAt(0, journal::EventTime), LocalNow(), 1.0 / 1440);
    EXPECT_EQ(afterPosts, 1) << "the row is posted, so the journal's after-post runs";
}

TEST_F(Access, AnotherLetterCaseOfTheAdministratorIsAnOrdinaryUser)
{
    WriteAccounts({{Cp("администратор"_cp), "pw"}, {kAdmin, "root"}});
    auto form = std::make_unique<TSecurityForm>(ctx, events, station);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_FALSE(ctx.AdminAccess);
    form->show();
    LogIn(*form, Cp("администратор"_cp), "pw");
    EXPECT_TRUE(ctx.LoggedIn);
    EXPECT_FALSE(ctx.AdminAccess);
    EXPECT_EQ(tablesReadOnly, std::vector<bool>{true});
    form->show();
    form->PageControl1->setCurrentIndex(1);
    EXPECT_EQ(form->PageControl1->currentIndex(), 0) << "only the administrator opens the other tab";

    form->RbButton1Click(); // logout
    EXPECT_FALSE(ctx.LoggedIn || ctx.AdminAccess);
    EXPECT_EQ(station.left, 1) << "the shift's report is offered once the operator has gone";
    EXPECT_EQ(loginControls, (std::vector<bool>{true, false}));
    EXPECT_EQ(tablesReadOnly, std::vector<bool>{true}) << "logout leaves the tables as the login set them";
    EXPECT_EQ(FromQ(form->RbButton1->text()), Cp("Авторизация"_cp));
    EXPECT_TRUE(form->UserEdit->isEnabled() && form->PasswordEdit->isEnabled());
    EXPECT_TRUE(form->PasswordEdit->text().isEmpty());
    EXPECT_FALSE(form->RbButton1->isEnabled());
    EXPECT_TRUE(form->isVisible());
    ASSERT_EQ(events.RecordCount(), 2);
    EXPECT_EQ(Row(0), Cp("Логин|GSM-модем|Пользователь: администратор вышел из системы|null"_cp));
    EXPECT_EQ(Row(1), Cp("Логин|GSM-модем|Пользователь: администратор вошел в систему|null"_cp));
    form->close();
}

TEST_F(Access, AFailedLoginChangesNothingButTheLoginFlag)
{
    WriteAccounts({{"operator", "pw"}});
    auto form = std::make_unique<TSecurityForm>(ctx, events, station);
    form->show();
    ctx.LoggedIn = true;
    for (const auto& [user, password] : Accounts{{"operator", "pw "}, {"Operator", "pw"}}) {
        dialogs.messages.clear();
        LogIn(*form, user, password);
        EXPECT_EQ(dialogs.Texts(), Strings{Cp("Не верное имя пользователя или пароль!"_cp)});
        EXPECT_FALSE(ctx.LoggedIn);
        EXPECT_EQ(FromQ(form->RbButton1->text()), Cp("Авторизация"_cp));
        EXPECT_TRUE(form->UserEdit->isEnabled() && form->PasswordEdit->isEnabled() && form->isVisible());
    }
    EXPECT_EQ(events.RecordCount(), 0);
    EXPECT_TRUE(loginControls.empty() && tablesReadOnly.empty());

    // Enter in the password field is the login button, never an administrator's button.
    form->UserEdit->setText(QStringLiteral("operator"));
    form->PasswordEdit->setText(QStringLiteral("pw"));
    Press(form->PasswordEdit, Qt::Key_Return);
    EXPECT_TRUE(ctx.LoggedIn);
    EXPECT_EQ(form->SecurityTable.RecordCount(), 1);
}

TEST_F(Access, AMissingOrDamagedListIsReportedAndADamagedFileIsKeptAside)
{
    std::make_unique<TSecurityForm>(ctx, events, station);
    EXPECT_EQ(dialogs.Texts(), Strings{Cp("Нет информации о пользователях!"_cp)});
    EXPECT_TRUE(ctx.AdminAccess);

    const std::string garbage = "TPF0\xff\xff\xff\x7f not a table at all";
    test::WriteFileBytes(dir.File("t4.bin"), garbage);
    dialogs.messages.clear();
    ctx.AdminAccess = false;
    auto form = std::make_unique<TSecurityForm>(ctx, events, station);
    EXPECT_EQ(dialogs.Texts(), Strings{Cp("Нет информации о пользователях!"_cp)});
    EXPECT_TRUE(ctx.AdminAccess);
    LogIn(*form, "nobody", "x");
    EXPECT_TRUE(ctx.AdminAccess) << "a failed login without accounts keeps the tab open";
    form->show();
    form->Edit1->setText(QStringLiteral("first"));
    form->Edit2->setText(QStringLiteral("1"));
    form->RbButton2Click();
    form->close();
    ExpectSaved({{"first", "1"}});
    EXPECT_EQ(test::ReadFileBytes(dir.File("t4.bin.damaged")), garbage);
}

TEST_F(Access, ASaveThatFailsIsReportedWithTheFileName)
{
    std::filesystem::create_directory(dir.File("t4.bin"));
    auto form = std::make_unique<TSecurityForm>(ctx, events, station);
    dialogs.messages.clear();
    form->show();
    form->close();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].kind, MsgKind::Error);
    EXPECT_NE(dialogs.messages[0].text.find("t4.bin"), std::string::npos) << dialogs.messages[0].text;
}

TEST_F(Access, AnUnreadableUserIniIsIgnoredAsAMissingOne)
{
    WriteAccounts({{"operator", "pw"}});
    std::filesystem::create_directory(dir.File("user.ini"));
    auto form = std::make_unique<TSecurityForm>(ctx, events, station);
    EXPECT_TRUE(form->UserEdit->text().isEmpty());
    EXPECT_TRUE(dialogs.messages.empty());
    form->show();
    form->UserEdit->setText(QStringLiteral("operator"));
    form->close();
    EXPECT_TRUE(dialogs.messages.empty()) << "the name is only a convenience";
    ExpectSaved({{"operator", "pw"}});
}

TEST_F(Access, TheLastUserIsOfferedAgainAndFieldsEnableTheNextStep)
{
    WriteAccounts({{"operator", "pw"}});
    auto form = std::make_unique<TSecurityForm>(ctx, events, station);
    EXPECT_FALSE(form->PasswordEdit->isEnabled() || form->RbButton1->isEnabled());
    EXPECT_FALSE(form->Edit2->isEnabled() || form->RbButton2->isEnabled());
    form->Edit1->setText(QStringLiteral("n"));
    form->Edit2->setText(QStringLiteral("p"));
    EXPECT_TRUE(form->RbButton2->isEnabled());
    form->Edit1->clear();
    EXPECT_FALSE(form->Edit2->isEnabled());
    form->show();
    form->UserEdit->setText(ToQ("Оператор смены"_cp));
    form->close();

    form = std::make_unique<TSecurityForm>(ctx, events, station);
    EXPECT_EQ(FromQ(form->UserEdit->text()), Cp("Оператор смены"_cp));
    EXPECT_TRUE(form->PasswordEdit->isEnabled());
    form->PasswordEdit->setText(QStringLiteral("p"));
    EXPECT_TRUE(form->RbButton1->isEnabled());
    form->UserEdit->clear();
    EXPECT_FALSE(form->PasswordEdit->isEnabled());
}

TEST_F(Access, AddingCutsToTheFieldWidthAndDeletingTakesTheSelectedRow)
{
    WriteAccounts({});
    auto form = std::make_unique<TSecurityForm>(ctx, events, station);
    dialogs.messages.clear();
    form->RbButton3Click();
    EXPECT_EQ(dialogs.Texts(), Strings{"SecurityTable: Cannot perform this operation on an empty dataset"});
    for (const std::string& name : {std::string(150, 'x'), std::string("second")}) {
        form->Edit1->setText(ToQ(name));
        form->Edit2->setText(ToQ(std::string(120, 'y')));
        form->RbButton2Click();
    }
    EXPECT_EQ(form->SecurityTable.TextAt(0, security::User), std::string(100, 'x'));
    EXPECT_TRUE(PasswordMatches(form->SecurityTable.TextAt(0, security::Password), std::string(120, 'y')))
        << "the whole password counts: its hash fits the field";
    form->DBGrid1->selectRow(0);
    form->RbButton3Click();
    ASSERT_EQ(form->SecurityTable.RecordCount(), 1);
    EXPECT_EQ(form->SecurityTable.TextAt(0, security::User), "second");
}

TEST_F(Access, AnOlderListInClearIsHashedAtOnceAndStillLetsItsUsersIn)
{
    WriteAccounts({{"operator", "pw"}, {kAdmin, "root"}});
    auto form = std::make_unique<TSecurityForm>(ctx, events, station);
    EXPECT_TRUE(dialogs.messages.empty());
    ExpectSaved({{"operator", "pw"}, {kAdmin, "root"}});
    const std::string hashed = test::ReadFileBytes("t4.bin");

    for (const auto& [user, password] : Accounts{{"operator", "root"}, {kAdmin, "pw"}, {"operator", ""}}) {
        dialogs.messages.clear();
        LogIn(*form, user, password);
        EXPECT_FALSE(ctx.LoggedIn) << user << " with " << password;
        EXPECT_EQ(dialogs.Texts(), Strings{Cp("Не верное имя пользователя или пароль!"_cp)});
    }
    LogIn(*form, kAdmin, "root");
    EXPECT_TRUE(ctx.LoggedIn && ctx.AdminAccess);
    EXPECT_EQ(test::ReadFileBytes("t4.bin"), hashed) << "a current hash is kept as it is";

    // The grid lists the names only.
    ASSERT_EQ(form->DBGrid1->model()->columnCount(), 1);
    EXPECT_EQ(FromQ(form->DBGrid1->model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString()),
              Cp("Пользователь"_cp));
}

TEST_F(Access, TheAdministratorSetsANewPasswordForAnAccount)
{
    WriteAccounts({{"operator", "pw"}, {kAdmin, "root"}});
    auto form = std::make_unique<TSecurityForm>(ctx, events, station);
    LogIn(*form, kAdmin, "root");
    form->show();
    form->PageControl1->setCurrentIndex(1);
    EXPECT_FALSE(form->RbButton4->isEnabled());
    form->DBGrid1->clicked(form->DBGrid1->model()->index(0, 0));
    EXPECT_EQ(FromQ(form->Edit1->text()), "operator") << "a click on an account names it";
    form->Edit2->setText(QStringLiteral("new one"));
    ASSERT_TRUE(form->RbButton4->isEnabled());
    form->RbButton4Click();
    EXPECT_EQ(dialogs.Texts(), Strings{Cp("Пароль пользователя operator изменён."_cp)});
    EXPECT_TRUE(form->Edit2->text().isEmpty());
    ExpectSaved({{"operator", "new one"}, {kAdmin, "root"}});

    dialogs.messages.clear();
    form->Edit1->setText(QStringLiteral("nobody"));
    form->Edit2->setText(QStringLiteral("x"));
    form->RbButton4Click();
    EXPECT_EQ(dialogs.Texts(), Strings{Cp("Нет пользователя nobody!"_cp)});
    EXPECT_EQ(form->SecurityTable.RecordCount(), 2);

    form->RbButton1Click(); // logout
    LogIn(*form, "operator", "pw");
    EXPECT_FALSE(ctx.LoggedIn) << "the old password is gone";
    LogIn(*form, "operator", "new one");
    EXPECT_TRUE(ctx.LoggedIn);
    form->close();
}

TEST_F(Access, AViewerLogsInToLookOnlyAndTheCentresAccountsReplaceTheFileAndRoles)
{
    WriteAccounts({{kAdmin, "root"}});
    auto form = std::make_unique<TSecurityForm>(ctx, events, station);
    int saves = 0;
    form->AccountsSaved = [&] { ++saves; };
    LogIn(*form, kAdmin, "root");
    form->show();
    form->PageControl1->setCurrentIndex(1);
    const std::string duty = Cp("Дежурный"_cp);
    for (const auto& [name, viewer] : {std::pair{duty, true}, std::pair{std::string("ivanov"), false}}) {
        form->Edit1->setText(ToQ(name));
        form->Edit2->setText(QStringLiteral("pw"));
        form->ViewerBox->setChecked(viewer);
        form->RbButton2Click();
    }
    EXPECT_FALSE(form->ViewerBox->isChecked()) << "each new account starts as an operator's";
    form->close();
    EXPECT_EQ(saves, 1) << "the close saved the accounts";
    const std::vector<StoredAccount> kept = form->Accounts();
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0].role, "admin");
    EXPECT_EQ(kept[1].role, "viewer");
    EXPECT_EQ(kept[2].role, "operator");
    EXPECT_TRUE(IsPasswordHash(kept[1].passwordHash));

    form->RbButton1Click(); // the administrator's logout
    tablesReadOnly.clear();
    LogIn(*form, duty, "pw");
    EXPECT_TRUE(ctx.LoggedIn && ctx.Viewer);
    EXPECT_FALSE(ctx.AdminAccess);
    EXPECT_EQ(tablesReadOnly, std::vector<bool>{true});
    form->RbButton1Click();
    EXPECT_FALSE(ctx.Viewer) << "the logout ends the role";
    LogIn(*form, "ivanov", "pw");
    EXPECT_TRUE(ctx.LoggedIn && !ctx.Viewer && !ctx.AdminAccess);
    form->RbButton1Click();

    // Another station's accounts: file and roles as given, the viewer now an
    // operator and the other one a viewer.
    const std::vector<StoredAccount> centre = {{kAdmin, kept[0].passwordHash, "admin"},
                                               {duty, kept[1].passwordHash, "operator"},
                                               {"petrov", kept[2].passwordHash, "viewer"}};
    form->ReplaceAccounts(centre);
    EXPECT_EQ(form->Accounts(), centre);
    ExpectSaved({{kAdmin, "root"}, {duty, "pw"}, {"petrov", "pw"}});
    LogIn(*form, "petrov", "pw");
    EXPECT_TRUE(ctx.LoggedIn && ctx.Viewer);
    form->RbButton1Click();
    LogIn(*form, duty, "pw");
    EXPECT_TRUE(ctx.LoggedIn && !ctx.Viewer);
    form->RbButton1Click();
    LogIn(*form, "ivanov", "pw");
    EXPECT_FALSE(ctx.LoggedIn) << "an account the centre lacks is gone";
}

TEST_F(Access, TheJournalPasswordIsTheAdministratorsOwnAndOnlyTheAdministratorGetsTheDialog)
{
    WriteAccounts({{"operator", "pw"}, {kAdmin, "root"}});
    auto form = std::make_unique<TSecurityForm>(ctx, events, station);
    QWidget mainWindow;
    TTechnoJournalForm techno(&mainWindow);
    station.techno = &techno;
    TPasswordDlg dialog(ctx, station);
    const std::string refused = Cp("Технологический журнал открывает только администратор, вошедший в систему."_cp);
    // Russian throughout, the accounts window included.
    EXPECT_EQ(dialog.OKBtn->text(), ToQ("ОК"_cp));
    EXPECT_EQ(dialog.CancelBtn->text(), ToQ("Отмена"_cp));
    EXPECT_EQ(test::EnglishTextsIn(dialog), std::vector<std::string>{});
    EXPECT_EQ(test::EnglishTextsIn(*form), std::vector<std::string>{});

    // Nobody logged in (even where the empty list leaves the tab open), and an operator.
    ctx.AdminAccess = true;
    dialog.ShowCentred();
    EXPECT_EQ(dialogs.Texts(), Strings{refused});
    ctx.AdminAccess = false;
    LogIn(*form, "operator", "pw");
    ASSERT_TRUE(ctx.LoggedIn);
    dialogs.messages.clear();
    dialog.ShowCentred();
    EXPECT_EQ(dialogs.Texts(), Strings{refused});
    EXPECT_FALSE(dialog.isVisible() || techno.isVisible());
    form->RbButton1Click(); // logout

    // The administrator's first opening sets the password.
    LogIn(*form, kAdmin, "root");
    dialogs.messages.clear();
    dialog.ShowCentred();
    ASSERT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.Setting() && dialog.Password2->isVisible());
    EXPECT_FALSE(dialog.isModal());
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((dialog.frameGeometry().center() - centre).manhattanLength(), 1);
    const struct {
        const char *first, *again;
        std::string_view message;
    } refusedSettings[] = {{"", "", "Пароль не может быть пустым!"_cp}, {"tech", "Tech", "Пароли не совпадают!"_cp}};
    for (const auto& r : refusedSettings) {
        dialogs.messages.clear();
        dialog.Password->setText(QString::fromLatin1(r.first));
        dialog.Password2->setText(QString::fromLatin1(r.again));
        dialog.OKBtnClick();
        EXPECT_EQ(dialogs.Texts(), Strings{Cp(r.message)}) << r.first;
        EXPECT_TRUE(dialog.isVisible() && !techno.isVisible());
    }
    dialogs.messages.clear();
    dialog.Password->setText(QStringLiteral("tech 42"));
    dialog.Password2->setText(QStringLiteral("tech 42"));
    Press(dialog.Password2, Qt::Key_Return);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_TRUE(techno.isVisible() && !dialog.isVisible());
    const std::string ini = test::ReadFileBytes(dir.File("user.ini"));
    EXPECT_EQ(ini.find("tech 42"), std::string::npos) << "kept as a hash only";
    const auto stored = IniFile(dir.File("user.ini")).Read("TechnoJournal", "PasswordHash");
    ASSERT_TRUE(stored);
    EXPECT_TRUE(IsPasswordHash(*stored) && PasswordMatches(*stored, "tech 42"));
    techno.hide();

    // From now on it is asked for, byte for byte.
    dialog.ShowCentred();
    EXPECT_FALSE(dialog.Setting() || dialog.Password2->isVisible());
    for (const char* wrong : {"tech 42 ", "TECH 42", "", "kwomzr"}) {
        dialogs.messages.clear();
        dialog.Password->setText(QString::fromLatin1(wrong));
        dialog.OKBtnClick();
        EXPECT_EQ(dialogs.Texts(), Strings{Cp("Неверный пароль!"_cp)}) << wrong;
        EXPECT_TRUE(dialog.Password->text().isEmpty() && dialog.isVisible() && !techno.isVisible());
    }
    dialog.Password->setText(QStringLiteral("tech 42"));
    Press(dialog.Password, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible() || techno.isVisible());
    dialogs.messages.clear();
    dialog.ShowCentred();
    dialog.Password->setText(QStringLiteral("tech 42"));
    Press(dialog.Password, Qt::Key_Return);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_TRUE(techno.isVisible() && !dialog.isVisible() && dialog.Password->text().isEmpty());

    // The logout closes the journal for whoever comes next.
    form->RbButton1Click();
    EXPECT_FALSE(techno.isVisible());
}

} // namespace
