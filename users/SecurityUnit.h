#pragma once
// The access window: the operator accounts ("t4.bin", passwords as Argon2id
// hashes), login and logout with their journal rows, and the administrator's
// tab for adding and deleting accounts and setting new passwords. Its result
// is carried by ctx.LoggedIn and ctx.AdminAccess.
#include "data/MemTable.h"
#include "data/TableFormat.h"
#include "data/Text.h"
#include "users/AccessWindow.h"

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace kv {

struct StationContext;
class TDBGrid;
class TMemTableModel;

// The account that may edit the register and the accounts, and end an unattended station.
inline constexpr std::string_view kAdministratorName = "Администратор"_cp;

// One account as kept: its password's hash, never the password, and its role.
struct StoredAccount {
    std::string user;
    std::string passwordHash;
    std::string role; // kRoleAdmin, kRoleOperator or kRoleViewer
    bool operator==(const StoredAccount&) const = default;
};
inline constexpr const char* kRoleAdmin = "admin";
inline constexpr const char* kRoleOperator = "operator";
// A duty manager: logs in and sees everything, changes nothing.
inline constexpr const char* kRoleViewer = "viewer";

class TSecurityForm : public QDialog, public IAccessWindow {
    Q_OBJECT
public:
    static constexpr const char* kTableFile = "t4.bin";

    // Offers the last user again, loads the accounts and registers the
    // window's show and close in ctx. Message boxes may appear. The login rows
    // go to `journal`; both it and the station outlive the window.
    TSecurityForm(StationContext& ctx, MemTable& journal, IAccessStation& station);
    ~TSecurityForm() override;

    // Centred on the main window.
    void ShowCentred();

    void RbButton1Click(); // login, or logout while logged in
    void RbButton2Click(); // add the account of Edit1 and Edit2
    void RbButton3Click(); // delete the selected account
    void RbButton4Click(); // a new password (Edit2) for the account named in Edit1

    // The accounts as kept; roles from user.ini's [Roles] (an account not
    // named there: the administrator's name is "admin", any other "operator").
    std::vector<StoredAccount> Accounts() const;
    // Another copy of the accounts (the centre's) replaces these, file and
    // roles; whoever is logged in stays so until the logout.
    void ReplaceAccounts(const std::vector<StoredAccount>& accounts);
    // Called when the window closes with its accounts saved.
    std::function<void()> AccountsSaved;

    bool HasAdministrator() const override;
    bool IsAdministrator(const std::string& user, const std::string& password) const override;

    MemTable SecurityTable;
    TableFormat frmbin;

    QTabWidget* PageControl1;
    QLineEdit* UserEdit;
    QLineEdit* PasswordEdit;
    QPushButton* RbButton1;
    TDBGrid* DBGrid1;
    QLineEdit* Edit1;
    QLineEdit* Edit2;
    QCheckBox* ViewerBox; // the new account only sees
    QPushButton* RbButton2;
    QPushButton* RbButton3;
    QPushButton* RbButton4;

protected:
    void hideEvent(QHideEvent* e) override;

private:
    void FormCreate();
    void FormClose();
    void LoadAccounts();
    void HashStoredPasswords();
    // The row's password becomes the hash of `password`; throws when it cannot.
    void SetPassword(int row, const std::string& password);
    // False, with the reason shown, when the file could not be written.
    bool SaveAccounts();
    void Login();
    // Asks when alarms are open; false keeps the operator logged in.
    bool MayLogOut();
    void Logout();
    // A "Логин" row at the top of the main journal; simplename stays null.
    void WriteLoginEvent(const std::string& event);
    void PageControl1Changing(int index);

    StationContext& m_ctx;
    MemTable& m_journal;
    IAccessStation& m_station;
    TMemTableModel* m_model;
    int m_page = 0;
};

} // namespace kv
