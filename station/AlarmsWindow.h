#pragma once
// The open-alarms window "Тревоги" and the handling dialog. The window lists
// the desk's open rows, oldest first, with how long each has waited (renewed
// every second) and who acknowledged it from the board; a logged-in operator
// handles the selected row with a result and a comment. Before a login the
// rows are shown (and sound) but cannot be handled.
#include <QDialog>
#include <QTimer>

#include "centre/CentreAlarm.h"

#include <cstdint>
#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace kv {

class AlarmDesk;
class DeviceRegister;
struct OpenAlarm;
struct StationContext;

class THandlingDialog : public QDialog {
    Q_OBJECT
public:
    explicit THandlingDialog(QWidget* parent);

    using Done = std::function<void(std::uint64_t id, std::string result, std::string comment, bool wholeDevice)>;
    // Opens the dialog over the alarm, window-modal, with no result chosen;
    // `done` runs on "Записать". `waited` is asked every second while open;
    // `deviceRows` above 1 offers handling them all, unchecked.
    void Ask(const OpenAlarm& alarm, std::function<std::uint64_t()> waited, int deviceRows, Done done);
    std::uint64_t AlarmId() const { return m_id; }

    void OkButtonClick();
    // The alarm's text with its wait as it is now.
    void UpdateWait();

    QLabel* AlarmText;
    QComboBox* ResultBox;
    QLineEdit* CommentEdit;
    QCheckBox* WholeDeviceBox;
    QPushButton* OkButton;
    QPushButton* CancelButton;

private:
    void UpdateOk();

    std::uint64_t m_id = 0;
    std::string m_head;
    std::function<std::uint64_t()> m_waited;
    Done m_done;
    QTimer m_waitTimer;
};

class TAlarmsForm : public QDialog {
    Q_OBJECT
public:
    // The object card beside the list comes from `reg`, which outlives the window.
    TAlarmsForm(AlarmDesk& desk, const DeviceRegister& reg, StationContext& ctx);

    void ShowCentred(bool activate = true);
    // A new alarm: the list comes up, restored and on top, but the keyboard
    // stays where the operator is typing.
    void PopUp();
    // The rows again from the desk (after a change), and the waits (every second).
    void Refresh();
    void UpdateWaits();
    // The id of the selected row, 0 when none.
    std::uint64_t SelectedId() const;
    void SelectRow(int row);

    void HandleButtonClick();
    // The selected alarm's object: its name and address, what to do, whom to call.
    void ShowObjectCard();
    // A click on a contact's phone puts it on the clipboard.
    void ContactClicked(int row, int column);
    // The centre's queue, through which its rows are taken and closed; none
    // without a centre. It outlives the window's use of it.
    void SetCentre(centre::IAlarmHandling* handling) { m_centre = handling; }
    // The centre alarm this desk holds while its dialog is open; 0 when none.
    long long Holding() const { return m_holding; }
    // How often the lease of a held alarm is renewed: well within its two minutes.
    static constexpr int kRenewMs = 30000;

    QLabel* Label1;
    QTableWidget* AlarmsGrid;
    QLabel* LoginHint;
    QPushButton* HandleButton;
    QPushButton* CloseButton;
    THandlingDialog* HandlingDlg;
    QLabel* ObjectTitle;
    QPlainTextEdit* ObjectInstructions;
    QTableWidget* ObjectContacts;
    QLabel* CopyHint;

private:
    // A centre row: taken first, so that one desk alone handles it.
    void HandleCentreRow(const OpenAlarm& alarm);
    void AskCentre(std::uint64_t id, long long centreId, const std::string& op);
    void LetGo();
    // The alarm's wait as it is whenever asked, and as it was once it is gone.
    std::function<std::uint64_t()> WaitOf(const OpenAlarm& alarm);

    AlarmDesk& m_desk;
    const DeviceRegister& m_register;
    StationContext& m_ctx;
    centre::IAlarmHandling* m_centre = nullptr;
    bool m_taking = false; // a take is on its way
    long long m_holding = 0;
    std::string m_holdingOp;
    QTimer m_leaseTimer;
};

} // namespace kv
