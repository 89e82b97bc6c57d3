// The main window together with the real register and access windows.
#include "tests/station/StationFixture.h"

#include "data/Schemas.h"
#include "data/TableFormat.h"
#include "devicecard/DeviceUnit.h"
#include "users/SecurityUnit.h"
#include "windows/JournalGrid.h"
#include "windows/QtText.h"

#include <QLineEdit>
#include <QMouseEvent>

namespace kv::test {
namespace {

using namespace kv::literals;

// A register of one device on disk, as the device window saves it.
void WriteRegister()
{
    MemTable devicesTable, descriptions;
    DefineDeviceTable(devicesTable);
    DefineDescriptionTable(descriptions);
    devicesTable.Append();
    devicesTable.FieldAt(device::K1).SetAsInteger(0);
    devicesTable.FieldAt(device::Device).SetAsString("Sklad");
    devicesTable.Post();
    descriptions.Append();
    descriptions.FieldAt(description::K1).SetAsInteger(0);
    descriptions.FieldAt(description::SimpleName).SetAsString("Sklad");
    descriptions.FieldAt(description::SimCard).SetAsString("+79110000001");
    descriptions.FieldAt(description::DialTime).SetAsString("5");
    descriptions.FieldAt(description::DialEnable).SetAsBoolean(true);
    descriptions.Post();
    TableFormat().Save(devicesTable, kDeviceFile);
    TableFormat().Save(descriptions, kDescriptionFile);
}

TEST_F(StationTest, TheRegisterFillsTheBoardAndALoginOpensIt)
{
    WriteRegister();
    Create();
    ShowAndSettle();
    EXPECT_EQ(board().TileText(0, 0), "Sklad") << "laid by the device window at its creation";
    EXPECT_TRUE(form().Schedule.At(0, 0).enabled);

    std::thread worker([&] { form().Host().WriteEvent(Str("Тревога"_cp), "+79110000001", "alarm"); });
    const bool written = WaitFor([&] { return form().EventsTable.RecordCount() == 2; });
    worker.join();
    ASSERT_TRUE(written);
    EXPECT_EQ(form().EventsTable.TextAt(0, journal::SimpleName), "Sklad") << "the register's lookup";

    // No accounts yet: the administrator tab is open to create the first.
    TSecurityForm& access = station->SecurityForm();
    access.Edit1->setText(ToQ("Администратор"_cp));
    access.Edit2->setText("pw");
    access.RbButton2Click();
    access.UserEdit->setText(ToQ("Администратор"_cp));
    access.PasswordEdit->setText("pw");
    access.RbButton1Click();
    ASSERT_TRUE(ctx().LoggedIn);
    EXPECT_TRUE(board().isEnabled());
    EXPECT_TRUE(form().DBGrid2->isEnabled());
    EXPECT_EQ(form().EventsTable.TextAt(0, journal::Status), "Логин"_cp);
    EXPECT_EQ(form().DBGrid2->RowColour(1), QColor(255, 0, 0));

    // A right-click on the tile opens the device's card.
    const QPointF at = board().CellRect(0, 0).center();
    QMouseEvent press(QEvent::MouseButtonPress, at, board().mapToGlobal(at), Qt::RightButton, Qt::RightButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&board(), &press);
    Settle();
    EXPECT_TRUE(station->DeviceForm().isVisible());
    station->DeviceForm().hide();
}

} // namespace
} // namespace kv::test
