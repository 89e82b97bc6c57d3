#include "users/SecurityUnit.h"
#include "windows/Placement.h"

#include "data/AtomicFile.h"

#include "data/Schemas.h"
#include "data/Status.h"
#include "data/Text.h"
#include "timing/DateTime.h"
#include "users/PasswordHash.h"
#include "windows/AppPaths.h"
#include "windows/Controls.h"
#include "windows/DBGrid.h"
#include "windows/Dialogs.h"
#include "data/IniFile.h"
#include "windows/QtText.h"
#include "windows/StationContext.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cstdio>
#include <optional>

namespace kv {

using namespace literals;

namespace {

constexpr std::string_view kAdministrator = kAdministratorName;
constexpr std::string_view kLoginCaption = "Авторизация"_cp;
constexpr std::string_view kLogoutCaption = "Выход из системы"_cp;
constexpr std::string_view kUserField = "user";
constexpr std::string_view kPasswordField = "password";

IniFile UserIni() { return IniFile(ConfigFile(QStringLiteral("user.ini")).toStdString()); }

void StarEcho(QLineEdit* edit)
{
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
}

QLabel* Caption(const char* name, std::string_view text, QWidget* parent)
{
    auto* label = new QLabel(ToQ(text), parent);
    Name(label, name, text);
    return label;
}

constexpr const char* kRolesSection = "Roles";

// A role kept in user.ini, or what an account has without one.
std::string RoleOf(const std::string& user)
{
    std::optional<std::string> role;
    try {
        role = UserIni().Read(kRolesSection, user);
    } catch (const std::exception&) {
    }
    if (role && (*role == kRoleAdmin || *role == kRoleOperator || *role == kRoleViewer))
        return *role;
    return user == kAdministrator ? kRoleAdmin : kRoleOperator;
}

void KeepRole(const std::string& user, const std::string& role)
{
    // A name the INI format cannot hold as a key keeps the default role.
    if (user.empty() || user.find_first_of("=[]\r\n;") != std::string::npos || user.front() == ' ')
        return;
    try {
        UserIni().WriteString(kRolesSection, user, role);
    } catch (const std::exception&) {
    }
}

bool HasAccountFields(const MemTable& table)
{
    return table.FindField(kUserField) >= 0 && table.FindField(kPasswordField) >= 0;
}

} // namespace

TSecurityForm::TSecurityForm(StationContext& ctx, MemTable& journal, IAccessStation& station)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      SecurityTable("SecurityTable"),
      m_ctx(ctx),
      m_journal(journal),
      m_station(station)
{
    Name(this, "SecurityForm", "Доступ"_cp);
    setWindowTitle(ToQ("Доступ"_cp));
    DefineSecurityTable(SecurityTable);

    PageControl1 = new QTabWidget(this);
    Name(PageControl1, "PageControl1");

    // Users' tab.
    auto* users = new QWidget;
    Name(users, "TabSheet1", "Пользователи"_cp);
    UserEdit = new QLineEdit(users);
    Name(UserEdit, "UserEdit", "Пользователь"_cp);
    PasswordEdit = new QLineEdit(users);
    Name(PasswordEdit, "PasswordEdit", "Пароль"_cp);
    StarEcho(PasswordEdit);
    PasswordEdit->setEnabled(false);
    RbButton1 = new QPushButton(ToQ(kLoginCaption), users);
    Name(RbButton1, "RbButton1", kLoginCaption);
    RbButton1->setEnabled(false);
    RbButton1->setMinimumWidth(160);
    // Enter in the password field logs in; it never reaches the
    // administrator's buttons (deleting asks nothing).
    RbButton1->setDefault(true);
    auto* userForm = new QFormLayout;
    userForm->addRow(Caption("Label1", "Пользователь"_cp, users), UserEdit);
    userForm->addRow(Caption("Label2", "Пароль"_cp, users), PasswordEdit);
    auto* usersLayout = new QVBoxLayout(users);
    usersLayout->setContentsMargins(16, 20, 16, 16);
    usersLayout->setSpacing(16);
    usersLayout->addLayout(userForm);
    usersLayout->addWidget(RbButton1, 0, Qt::AlignRight);
    usersLayout->addStretch(1);
    PageControl1->addTab(users, ToQ("Пользователи"_cp));

    // Administrator's tab.
    auto* admin = new QWidget;
    Name(admin, "TabSheet2", "Администратор"_cp);
    // Passwords are hashes and nobody's business: the grid lists the names only.
    m_model = new TMemTableModel(SecurityTable, {{std::string(kUserField), ToQ("Пользователь"_cp), 300}}, this);
    DBGrid1 = new TDBGrid(m_model, admin);
    Name(DBGrid1, "DBGrid1", "Пользователи"_cp);
    DBGrid1->horizontalHeader()->show();
    DBGrid1->horizontalHeader()->setStretchLastSection(true);
    DBGrid1->setMinimumHeight(130);
    Edit1 = new QLineEdit(admin);
    Name(Edit1, "Edit1", "Новый пользователь"_cp);
    Edit2 = new QLineEdit(admin);
    Name(Edit2, "Edit2", "Пароль нового пользователя"_cp);
    StarEcho(Edit2);
    Edit2->setEnabled(false);
    ViewerBox = new QCheckBox(ToQ("только просмотр (дежурный)"_cp), admin);
    Name(ViewerBox, "ViewerBox", "только просмотр (дежурный)"_cp);
    RbButton2 = new QPushButton(ToQ("Добавить пользователя"_cp), admin);
    Name(RbButton2, "RbButton2", "Добавить пользователя"_cp);
    RbButton2->setEnabled(false);
    RbButton3 = new QPushButton(ToQ("Удалить пользователя"_cp), admin);
    Name(RbButton3, "RbButton3", "Удалить пользователя"_cp);
    RbButton4 = new QPushButton(ToQ("Сменить пароль"_cp), admin);
    Name(RbButton4, "RbButton4", "Сменить пароль"_cp);
    RbButton4->setEnabled(false);
    RbButton2->setAutoDefault(false);
    RbButton3->setAutoDefault(false);
    RbButton4->setAutoDefault(false);
    auto* adminForm = new QFormLayout;
    adminForm->addRow(Caption("Label3", "Пользователь"_cp, admin), Edit1);
    adminForm->addRow(Caption("Label4", "Пароль"_cp, admin), Edit2);
    adminForm->addRow(QString(), ViewerBox);
    auto* adminButtons = new QHBoxLayout;
    adminButtons->addWidget(RbButton2);
    adminButtons->addWidget(RbButton4);
    adminButtons->addWidget(RbButton3);
    auto* adminLayout = new QVBoxLayout(admin);
    adminLayout->setContentsMargins(10, 10, 10, 10);
    adminLayout->addWidget(DBGrid1, 1);
    adminLayout->addLayout(adminForm);
    adminLayout->addLayout(adminButtons);
    PageControl1->addTab(admin, ToQ("Администратор"_cp));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(PageControl1);
    setFixedSize(460, 340);

    connect(UserEdit, &QLineEdit::textChanged, this,
            [this](const QString& text) { PasswordEdit->setEnabled(!text.isEmpty()); });
    connect(PasswordEdit, &QLineEdit::textChanged, this,
            [this](const QString& text) { RbButton1->setEnabled(!text.isEmpty()); });
    connect(Edit1, &QLineEdit::textChanged, this, [this](const QString& text) { Edit2->setEnabled(!text.isEmpty()); });
    connect(Edit2, &QLineEdit::textChanged, this, [this](const QString& text) {
        RbButton2->setEnabled(!text.isEmpty());
        RbButton4->setEnabled(!text.isEmpty());
    });
    // A click on an account names it for a new password.
    connect(DBGrid1, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        const int userField = SecurityTable.FindField(kUserField);
        if (index.isValid() && userField >= 0 && index.row() < SecurityTable.RecordCount())
            Edit1->setText(ToQ(SecurityTable.TextAt(index.row(), userField)));
    });
    connect(PageControl1, &QTabWidget::currentChanged, this, &TSecurityForm::PageControl1Changing);
    connect(RbButton1, &QPushButton::clicked, this, &TSecurityForm::RbButton1Click);
    connect(RbButton2, &QPushButton::clicked, this, &TSecurityForm::RbButton2Click);
    connect(RbButton3, &QPushButton::clicked, this, &TSecurityForm::RbButton3Click);
    connect(RbButton4, &QPushButton::clicked, this, &TSecurityForm::RbButton4Click);

    FormCreate();

    StationContext::WindowOps& ops = m_ctx.Window(ShownWindow::Access);
    ops.show = [this] { ShowCentred(); };
    ops.close = [this] { close(); };
}

TSecurityForm::~TSecurityForm()
{
    // The grid's model observes SecurityTable, which goes before the children.
    delete DBGrid1;
    delete m_model;
}

void TSecurityForm::FormCreate()
{
    if (auto last = UserIni().Read("Users", "LastLoginUser"))
        UserEdit->setText(ToQ(*last));
    LoadAccounts();
}

void TSecurityForm::LoadAccounts()
{
    bool loaded = false;
    try {
        frmbin.Load(SecurityTable, kTableFile);
        loaded = HasAccountFields(SecurityTable);
    } catch (const std::exception&) {
    }
    if (!loaded) {
        KeepAside(kTableFile); // the save at close would replace it with an empty list
        DefineSecurityTable(SecurityTable);
        ShowInfo(std::string("Нет информации о пользователях!"_cp), this);
        m_ctx.AdminAccess = true;
    } else if (SecurityTable.IsEmpty()) {
        ShowInfo(std::string("Список пользователей пуст!"_cp), this);
        m_ctx.AdminAccess = true;
    } else {
        HashStoredPasswords();
        SecurityTable.First();
    }
}

void TSecurityForm::HashStoredPasswords()
{
    // An older station kept the passwords in clear: each is replaced by its
    // hash at once (the same password still logs in), and the file saved.
    const int passwordField = SecurityTable.FindField(kPasswordField);
    bool changed = false;
    try {
        for (int row = 0; row < SecurityTable.RecordCount(); ++row) {
            const std::string stored = SecurityTable.TextAt(row, passwordField);
            if (IsPasswordHash(stored))
                continue;
            SetPassword(row, stored);
            changed = true;
        }
    } catch (const std::exception& e) {
        ShowError(e.what(), this);
    }
    // No box at the start, which may be unattended: a file that cannot be
    // written now is reported by the save at the window's close.
    if (changed) {
        try {
            frmbin.Save(SecurityTable, kTableFile);
        } catch (const std::exception&) {
        }
    }
}

void TSecurityForm::SetPassword(int row, const std::string& password)
{
    const std::string hash = HashPassword(password);
    SecurityTable.SetRecNo(row + 1);
    SecurityTable.Edit();
    SecurityTable.FieldByName(kPasswordField).SetAsString(hash);
    SecurityTable.Post();
}

bool TSecurityForm::SaveAccounts()
{
    try {
        frmbin.Save(SecurityTable, kTableFile);
        return true;
    } catch (const std::exception& e) {
        std::string text = e.what();
        if (text.find(kTableFile) == std::string::npos)
            text = std::string(kTableFile) + ": " + text;
        ShowError(text, this);
        return false;
    }
}

void TSecurityForm::ShowCentred() { ShowCentredOver(*this, m_ctx.MainWindow); }

void TSecurityForm::hideEvent(QHideEvent* e)
{
    // The close box, Escape, the main window's toggle and a successful login
    // all end here; a spontaneous hide (minimising everything) is no close.
    if (!e->spontaneous())
        FormClose();
    QDialog::hideEvent(e);
}

void TSecurityForm::FormClose()
{
    if (SaveAccounts() && AccountsSaved)
        AccountsSaved();
    m_ctx.Shown(ShownWindow::Access) = false;
    // Only a convenience for the next start: a folder the station may not
    // write to costs the operator nothing but retyping the name.
    try {
        UserIni().WriteString("Users", "LastLoginUser", FromQ(UserEdit->text()));
    } catch (const std::exception&) {
    }
}

void TSecurityForm::PageControl1Changing(int index)
{
    if (index == m_page)
        return;
    if (!m_ctx.AdminAccess) {
        const QSignalBlocker block(PageControl1);
        PageControl1->setCurrentIndex(m_page);
        return;
    }
    m_page = index;
}

void TSecurityForm::RbButton1Click()
{
    if (RbButton1->text() == ToQ(kLoginCaption))
        Login();
    else if (MayLogOut())
        Logout();
}

bool TSecurityForm::MayLogOut()
{
    // Leaving alarms for nobody to handle is a decision the operator takes knowingly.
    const std::string open = m_station.OpenAlarmsText();
    if (open.empty())
        return true;
    return Dialogs().AskYesNo(Str("Открытые тревоги: "_cp) + open +
                                  Str(".\nОни будут записаны как не обработанные и останутся следующему оператору.\nВыйти?"_cp),
                              this);
}

bool TSecurityForm::HasAdministrator() const
{
    if (!HasAccountFields(SecurityTable))
        return false;
    const int userField = SecurityTable.FindField(kUserField);
    for (int row = 0; row < SecurityTable.RecordCount(); ++row)
        if (SecurityTable.TextAt(row, userField) == kAdministrator)
            return true;
    return false;
}

bool TSecurityForm::IsAdministrator(const std::string& user, const std::string& password) const
{
    if (user != kAdministrator || !HasAccountFields(SecurityTable))
        return false;
    const int userField = SecurityTable.FindField(kUserField);
    const int passwordField = SecurityTable.FindField(kPasswordField);
    for (int row = 0; row < SecurityTable.RecordCount(); ++row)
        if (SecurityTable.TextAt(row, userField) == user &&
            PasswordMatches(SecurityTable.TextAt(row, passwordField), password))
            return true;
    return false;
}

void TSecurityForm::Login()
{
    const std::string user = FromQ(UserEdit->text());
    const std::string password = FromQ(PasswordEdit->text());
    const int userField = SecurityTable.FindField(kUserField);
    const int passwordField = SecurityTable.FindField(kPasswordField);
    int found = -1;
    for (int row = 0; row < SecurityTable.RecordCount() && found < 0; ++row) {
        if (SecurityTable.TextAt(row, userField) == user &&
            PasswordMatches(SecurityTable.TextAt(row, passwordField), password))
            found = row;
    }
    if (found < 0) {
        m_ctx.LoggedIn = false;
        ShowError(std::string("Не верное имя пользователя или пароль!"_cp), this);
        return;
    }
    // A password still in clear (its hash could not be saved at the start)
    // or a hash of weaker limits is replaced now that the password is known.
    if (NeedsRehash(SecurityTable.TextAt(found, passwordField))) {
        try {
            SetPassword(found, password);
            SaveAccounts();
        } catch (const std::exception& e) {
            ShowError(e.what(), this);
        }
    }
    SecurityTable.SetRecNo(found + 1);

    RbButton1->setText(ToQ(kLogoutCaption));
    RbButton1->setAccessibleName(ToQ(kLogoutCaption));
    m_ctx.LoggedIn = true;
    m_ctx.Operator = user;
    m_station.SetLoginControlsEnabled(true);
    const std::string role = RoleOf(user);
    const bool admin = user == kAdministrator || role == kRoleAdmin;
    m_ctx.AdminAccess = admin;
    m_ctx.Viewer = role == kRoleViewer;
    m_station.SetDeviceTablesReadOnly(!admin);
    UserEdit->setEnabled(false);
    PasswordEdit->setEnabled(false);
    WriteLoginEvent(std::string("Пользователь: "_cp) + user + std::string(" вошел в систему"_cp));
    close();
}

void TSecurityForm::Logout()
{
    RbButton1->setText(ToQ(kLoginCaption));
    RbButton1->setAccessibleName(ToQ(kLoginCaption));
    // What the operator leaves unhandled is on record before the logout.
    m_station.OperatorLeaving();
    WriteLoginEvent(std::string("Пользователь: "_cp) + FromQ(UserEdit->text()) + std::string(" вышел из системы"_cp));
    UserEdit->setEnabled(true);
    PasswordEdit->setEnabled(true);
    PasswordEdit->clear();
    m_ctx.LoggedIn = false;
    m_ctx.AdminAccess = false;
    m_ctx.Viewer = false;
    m_ctx.Operator.clear();
    // The next one to log in may be no administrator.
    m_station.HideTechnoJournal();
    m_station.SetLoginControlsEnabled(false);
    m_station.OperatorLeft();
}

void TSecurityForm::WriteLoginEvent(const std::string& event)
{
    MemTable* journal = &m_journal;
    // A journal opened from a foreign file may lack a column; the row gets the rest.
    auto set = [journal](const char* field, auto&& assign) {
        const int index = journal->FindField(field);
        if (index >= 0)
            assign(journal->FieldAt(index));
    };
    try {
        journal->First();
        journal->Insert();
        set("EventTime", [](Field f) { f.SetAsDateTime(LocalNow()); });
        set("Status", [](Field f) { f.SetAsString(status::kLogin); });
        set("tel", [](Field f) { f.SetAsString("GSM-модем"_cp); });
        set("event", [&event](Field f) { f.SetAsString(event); });
        journal->Post();
    } catch (const std::exception& e) {
        if (journal->State() != DataSetState::Browse)
            journal->Cancel();
        ShowError(e.what(), this);
    }
}

void TSecurityForm::RbButton2Click()
{
    const std::string user = FromQ(Edit1->text());
    const std::string password = FromQ(Edit2->text());
    try {
        const std::string hash = HashPassword(password);
        SecurityTable.Append();
        SecurityTable.FieldByName(kUserField).SetAsString(user);
        SecurityTable.FieldByName(kPasswordField).SetAsString(hash);
        SecurityTable.Post();
    } catch (const std::exception& e) {
        if (SecurityTable.State() != DataSetState::Browse)
            SecurityTable.Cancel();
        ShowError(e.what(), this);
        return;
    }
    // Written also when it is the default: a role an account of that name
    // had before must not come back with it.
    KeepRole(user, ViewerBox->isChecked() ? kRoleViewer : user == kAdministrator ? kRoleAdmin : kRoleOperator);
    ViewerBox->setChecked(false);
    Edit1->clear();
    Edit2->clear();
}

std::vector<StoredAccount> TSecurityForm::Accounts() const
{
    std::vector<StoredAccount> out;
    if (!HasAccountFields(SecurityTable))
        return out;
    const int userField = SecurityTable.FindField(kUserField);
    const int passwordField = SecurityTable.FindField(kPasswordField);
    for (int row = 0; row < SecurityTable.RecordCount(); ++row) {
        std::string user = SecurityTable.TextAt(row, userField);
        std::string role = RoleOf(user);
        out.push_back({std::move(user), SecurityTable.TextAt(row, passwordField), std::move(role)});
    }
    return out;
}

void TSecurityForm::ReplaceAccounts(const std::vector<StoredAccount>& accounts)
{
    if (Accounts() == accounts)
        return;
    try {
        if (SecurityTable.State() != DataSetState::Browse)
            SecurityTable.Cancel();
        if (!HasAccountFields(SecurityTable))
            DefineSecurityTable(SecurityTable);
        SecurityTable.EmptyTable();
        for (const StoredAccount& a : accounts) {
            SecurityTable.Append();
            SecurityTable.FieldByName(kUserField).SetAsString(a.user);
            SecurityTable.FieldByName(kPasswordField).SetAsString(a.passwordHash);
            SecurityTable.Post();
            KeepRole(a.user, a.role);
        }
        SecurityTable.First();
    } catch (const std::exception& e) {
        if (SecurityTable.State() != DataSetState::Browse)
            SecurityTable.Cancel();
        ShowError(e.what(), this);
        return;
    }
    SaveAccounts();
}

void TSecurityForm::RbButton4Click()
{
    const std::string user = FromQ(Edit1->text());
    const int userField = SecurityTable.FindField(kUserField);
    int found = -1;
    for (int row = 0; row < SecurityTable.RecordCount() && found < 0; ++row) {
        if (SecurityTable.TextAt(row, userField) == user)
            found = row;
    }
    if (found < 0) {
        ShowError(std::string("Нет пользователя "_cp) + user + "!", this);
        return;
    }
    try {
        SetPassword(found, FromQ(Edit2->text()));
    } catch (const std::exception& e) {
        if (SecurityTable.State() != DataSetState::Browse)
            SecurityTable.Cancel();
        ShowError(e.what(), this);
        return;
    }
    Edit2->clear();
    if (SaveAccounts())
        ShowInfo(std::string("Пароль пользователя "_cp) + user + std::string(" изменён."_cp), this);
}

void TSecurityForm::RbButton3Click()
{
    try {
        SecurityTable.Delete();
    } catch (const std::exception& e) {
        ShowError(e.what(), this);
    }
}

} // namespace kv
