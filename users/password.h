#pragma once
// The password dialog in front of the technological journal.
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kv {

struct StationContext;

class TPasswordDlg : public QDialog {
    Q_OBJECT
public:
    // Registers ctx.ShowPasswordDlg (shows this dialog, not modal).
    explicit TPasswordDlg(StationContext& ctx);

    // Centred on the screen.
    void ShowCentred();

    void OKBtnClick();

    QLabel* Label1;
    QLineEdit* Password;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;

private:
    StationContext& m_ctx;
};

} // namespace kv
