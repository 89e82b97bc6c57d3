#pragma once
// The open-alarms window "Тревоги" and the handling dialog. The window lists
// the desk's open rows, oldest first, with how long each has waited (renewed
// every second); a logged-in operator handles the selected row with a result
// and a comment. Before a login the rows are shown (and sound) but cannot be
// handled.
#include <QDialog>

#include <cstdint>
#include <functional>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace kv {

class AlarmDesk;
struct OpenAlarm;
struct StationContext;

class THandlingDialog : public QDialog {
    Q_OBJECT
public:
    explicit THandlingDialog(QWidget* parent);

    // Opens the dialog over the alarm, window-modal; `done` runs on "Записать".
    void Ask(const OpenAlarm& alarm, std::uint64_t waitedSeconds,
             std::function<void(std::uint64_t id, std::string result, std::string comment)> done);
    std::uint64_t AlarmId() const { return m_id; }

    void OkButtonClick();

    QLabel* AlarmText;
    QComboBox* ResultBox;
    QLineEdit* CommentEdit;
    QPushButton* OkButton;
    QPushButton* CancelButton;

private:
    void UpdateOk();

    std::uint64_t m_id = 0;
    std::function<void(std::uint64_t, std::string, std::string)> m_done;
};

class TAlarmsForm : public QDialog {
    Q_OBJECT
public:
    TAlarmsForm(AlarmDesk& desk, StationContext& ctx);

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

    QLabel* Label1;
    QTableWidget* AlarmsGrid;
    QLabel* LoginHint;
    QPushButton* HandleButton;
    QPushButton* CloseButton;
    THandlingDialog* HandlingDlg;

private:
    AlarmDesk& m_desk;
    StationContext& m_ctx;
};

} // namespace kv
