#pragma once
// A station around the device window: a temporary working folder, the scripted
// operator, a real modem-1 state whose queue receives the commands, a main
// journal, and a SendSms that records its calls and runs the real one. The
// window reaches the rest of the station through it (IDeviceStation).
#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "data/TableFormat.h"
#include "devicecard/DataControls.h"
#include "devicecard/DeviceUnit.h"
#include "modem/SendSms.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TempDir.h"
#include "windows/AppPaths.h"
#include "windows/QtText.h"
#include "windows/StationContext.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

namespace kv::test {

struct DeviceStation : IDeviceStation {
    TempDir dir;
    ScriptedDialogs dialogs;
    QWidget mainWindow;
    TModem modem1;
    MemTable events{"EventsTable"};
    StationContext ctx;
    DeviceRegister reg;
    int rebuilds = 0;
    std::vector<std::pair<std::string, std::string>> sentSms;
    std::vector<std::string> commandNames; // as the card gave them with each SMS
    std::vector<std::string> searches; // the journal search's device filters
    // The last contact the station tells; none unless a test sets it.
    std::function<std::string(const std::string& number)> lastContact;
    std::unique_ptr<TDeviceForm> form;
    double clock = 45000.0;

    DeviceStation()
    {
        if (const char* bin = std::getenv("KORVALEN_BIN_DIR"))
            SetProgramDirForTests(QString::fromLocal8Bit(bin));
        DefineJournal(events);
        ctx.MainWindow = &mainWindow;
    }
    ~DeviceStation() { SetProgramDirForTests({}); }

    void RebuildBoard() override { ++rebuilds; }
    bool SendSms(const std::string& number, const std::string& text, const std::string& name) override
    {
        sentSms.emplace_back(number, text);
        commandNames.push_back(name);
        return kv::SendSms(modem1, number, text, name);
    }
    void QueueModemCommand(const std::string& line) override { EnqueueCommand(modem1, line); }
    std::string LastContactText(const std::string& number) override
    {
        return lastContact ? lastContact(number) : std::string();
    }
    void ShowJournalSearch(const std::string& device) override { searches.push_back(device); }

    // With an empty register on disk, as at any start but the very first.
    TDeviceForm& Open()
    {
        if (!std::filesystem::exists("t1.bin") && !std::filesystem::exists("t2.bin")) {
            MemTable descriptions, devices;
            DefineDescriptionTable(descriptions);
            DefineDeviceTable(devices);
            TableFormat().Save(descriptions, "t1.bin");
            TableFormat().Save(devices, "t2.bin");
        }
        return OpenAsFound();
    }
    TDeviceForm& OpenAsFound()
    {
        form.reset(); // one window over the register at a time
        form = std::make_unique<TDeviceForm>(ctx, reg, events, *this);
        return *form;
    }

    std::vector<std::string> Timeline() const { return modem1.PendingCommands(); }

    // A device, and its card unless `simplename` is null; written straight into the tables.
    void AddDevice(const std::string& device, const char* simplename = nullptr, const std::string& simcard = {},
                   bool drosvel = false, const std::string& dialtime = "60", bool dialenable = false)
    {
        TDeviceForm& f = *form;
        const bool readOnly = f.DeviceTable.ReadOnly();
        f.SetDeviceTablesReadOnly(false);
        f.DeviceTable.Append();
        f.DeviceTable.FieldByName("device").SetAsString(device);
        f.DeviceTable.Post();
        if (simplename) {
            MemTable& d = f.DescriptionTable;
            d.Append();
            for (auto [field, value] : {std::pair{"name", device}, {"simplename", std::string(simplename)},
                                        {"simcard", simcard}, {"dialtime", dialtime}})
                d.FieldByName(field).SetAsString(value);
            d.FieldByName("dialenable").SetAsBoolean(dialenable);
            d.FieldByName("drosvel").SetAsBoolean(drosvel);
            d.Post();
            f.RbButton2->hide();
        }
        f.SetDeviceTablesReadOnly(readOnly);
    }

    void Event(const std::string& tel, const std::string& text)
    {
        RecordEvent(events, "", tel, text, nullptr, clock += 1.0 / 1440);
    }

    std::string CurrentDevice() { return form->DeviceTable.FieldByName("device").AsString(); }
};

// Keys as the operator types them (station text); an empty text clears the field.
inline void Type(QWidget* w, const std::string& cp1251, bool clearFirst = false)
{
    if (clearFirst) {
        QKeyEvent selectAll(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier);
        QKeyEvent erase(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
        QApplication::sendEvent(w, &selectAll);
        QApplication::sendEvent(w, &erase);
    }
    for (QChar ch : ToQ(cp1251)) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(w, &press);
    }
}

} // namespace kv::test
