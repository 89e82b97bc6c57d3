#pragma once
// The password dialog in front of the technological journal. Only a
// logged-in administrator gets it; the password is one the administrator
// sets at the first opening, kept as a hash in "user.ini".
#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kv {

struct StationContext;
class IAccessStation;

class TPasswordDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kSection = "TechnoJournal";
    static constexpr const char* kKey = "PasswordHash";

    // The journal it opens is the station's.
    TPasswordDlg(StationContext& ctx, IAccessStation& station);

    // Centred on the screen; for anyone but a logged-in administrator an
    // error box instead. Asks for a new password (twice) while none is set.
    void ShowCentred();
    // Whether the dialog sets the password rather than asks for it.
    bool Setting() const { return m_setting; }

    void OKBtnClick();

    QLabel* Label1;
    QLineEdit* Password;
    QLabel* Label2;
    QLineEdit* Password2; // the new password again; shown while setting
    QPushButton* OKBtn;
    QPushButton* CancelBtn;

private:
    std::string StoredHash() const;
    void OpenJournal();

    StationContext& m_ctx;
    IAccessStation& m_station;
    bool m_setting = false;
};

} // namespace kv
