#pragma once
// The device window "Каталог устройств охраны": shows and edits the device
// register (devices/DeviceRegister.h), and the device card with its commands
// and the device's five newest events.
#include "data/MemTable.h"
#include "data/Rgb.h"
#include "data/TableFormat.h"
#include "devicecard/DeviceWindow.h"
#include "devices/DeviceRegister.h"
#include "modem/Modem.h"

#include <QDialog>

#include <map>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPainter;
class QPushButton;
class QTabWidget;
class QTableWidget;

namespace kv {

struct StationContext;
class TDataSource;
class TDBCheckBox;
class TDBEdit;
class TDBGrid;
class TDBMemo;
class TMemTableModel;
class TPNGButton;
class TelEventIndex;
class TObjectPage;

// The text colour of a row of the last-events grid, chosen by its event text;
// later rules win over earlier ones.
Rgb LastEventColour(std::string_view eventText);

class TDeviceForm : public QDialog, public IDeviceWindow {
    Q_OBJECT
public:
    // Loads the register and registers the window's show and close in `ctx`
    // (created once, after the main window). The register, the main journal
    // and the station outlive the window.
    TDeviceForm(StationContext& ctx, DeviceRegister& reg, MemTable& events, IDeviceStation& station);
    ~TDeviceForm() override;

    // Shown centred on the main window.
    void ShowCentred();

    // --- register ---
    DeviceRegister& Register;
    // After the window's close has saved the register's files.
    std::function<void()> RegisterSaved;
    MemTable& DeviceTable;
    MemTable& DescriptionTable;
    TableFormat& frmbin;

    // The register's lookups; they leave the current device and an unsaved
    // change on the card as they are.
    std::string FindShortNameByNumber(const std::string& number, const std::string& initial) const
    {
        return Register.FindShortNameByNumber(number, initial);
    }
    std::string FindNumberByShortName(const std::string& shortName, const std::string& initial) const
    {
        return Register.FindNumberByShortName(shortName, initial);
    }
    std::string FindListNameByNumber(const std::string& number) const { return Register.FindListNameByNumber(number); }
    // Makes the first device with that short name current; when none has it,
    // the last device is left current and the result is false.
    bool SelectDeviceByShortName(const std::string& shortName) override;
    // The register in its order, as the board and the ring-round need it.
    std::vector<DialDevice> RegisterDevices() const { return Register.Devices(); }
    // The newest main-journal row of that number; false when there is none.
    bool LastEventOf(const std::string& number, double& at, std::string& status, std::string& event) override;
    void SetDeviceTablesReadOnly(bool readOnly) override;

    // --- card ---
    void SetCommandButtonsEnabled(bool enabled) override;
    // A command's result for the device with that number (empty: the device on
    // show); kept per device, shown while its card is.
    void SetStatusEdit(const std::string& number, const std::string& text) override;
    void FillLastEvents() override;
    // "ПОСЛЕДНЯЯ СВЯЗЬ" of the card's device.
    void ShowLastContact();
    void LastContactChanged() override { ShowLastContact(); }
    void ShowDeviceCard() override { ShowCentred(); }
    // Draws one cell of LastEvents (`selected`: the cell's row is selected).
    void LastEventsDrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool selected);

    // Handlers.
    void FormClose();
    void FormShow();
    void DBGrid1CellClick();
    void N1Click();
    void N2Click();
    void RbButton2Click();
    void DescriptionTableAfterEdit();
    void DescriptionTableAfterInsert();
    void DataSource2DataChange();
    void InfoButtonClick();
    void OnAlarmButtonClick();
    void OffAlarmButtonClick();
    void TempButtonClick();
    void Rele1ButtonONClick();
    void Rele1ButtonOffClick();
    void Rele2ButtonONClick();
    void Rele2ButtonOffClick();
    void JournalButtonClick(); // the journal search, filtered to this device

    // Components.
    TMemTableModel* DataSource1;
    TDataSource* DataSource2;
    TDBGrid* DBGrid1;
    QMenu* PopupMenu1;
    QAction* N1;
    QAction* N2;
    TDBEdit* DBEdit1;
    TDBEdit* DBEdit2;
    TDBEdit* DBEdit3;
    TDBEdit* DBEdit4;
    TDBEdit* DBEdit5;
    TDBEdit* DBEdit6;
    TDBMemo* DBMemo1;
    TDBCheckBox* DBCheckBox1;
    TDBCheckBox* DBCheckBox2;
    QPushButton* RbButton2;
    TPNGButton* InfoButton;
    TPNGButton* OnAlarmButton;
    TPNGButton* OffAlarmButton;
    TPNGButton* TempButton;
    TPNGButton* Rele1ButtonON;
    TPNGButton* Rele1ButtonOff;
    TPNGButton* Rele2ButtonON;
    TPNGButton* Rele2ButtonOff;
    QLabel* Label1;
    QLabel* Label3;
    QLabel* Label4;
    QLineEdit* StatusEdit;
    QLabel* LastContact; // "ПОСЛЕДНЯЯ СВЯЗЬ": when the device was last heard
    QTableWidget* LastEvents;
    QPushButton* JournalButton; // "Журнал объекта"
    QTabWidget* CardPages;      // "Устройство" and "Объект"
    TObjectPage* ObjectPage;

protected:
    void hideEvent(QHideEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void BuildWindow();
    void LoadRegister();
    void RegisterOperations();
    void SmsCommand(std::string_view text, std::string_view name);
    void ShowCommandResult();
    void CallCommand();
    // A viewer's command is refused, with the reason shown.
    bool ViewerRefused();
    void Enqueue(std::string_view line);
    std::string CardNumber() const;
    void DeviceChanged();
    // The object page's edits into the register's object cards, and the
    // card of the device on show onto the page.
    void KeepObjectCard();
    void ShowObjectCard();

    StationContext& m_ctx;
    MemTable& m_journal;
    IDeviceStation& m_station;
    std::unique_ptr<TelEventIndex> m_events;
    RecordHandle m_objectRow; // the description row whose object card the page shows
    RecordHandle m_shownDevice;
    std::map<std::string, std::string> m_commandResults; // by device number
};

} // namespace kv
