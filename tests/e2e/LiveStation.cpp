#include "tests/e2e/LiveStation.h"

#include "data/Schemas.h"
#include "devices/DeviceRegister.h"
#include "data/TableFormat.h"
#include "data/Text.h"
#include "data/TileStates.h"
#include "modem/DialSchedule.h"
#include "station/AutoStart.h"
#include "station/StatusBoard.h"
#include "tests/support/Cp1251.h"
#include "timing/UiThread.h"
#include "windows/AppPaths.h"
#include "windows/TechnoJournalUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QPlainTextEdit>

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace kv::test {

namespace fs = std::filesystem;
using namespace kv::literals;

namespace {

void WriteTables(const std::vector<Reporter>& moreReporters, bool ringRound)
{
    const TableFormat format;
    MemTable devices, descriptions;
    DefineDeviceTable(devices);
    DefineDescriptionTable(descriptions);
    struct Device {
        std::string name;
        std::string number;
        bool dial;
    };
    std::vector<Device> all = {{std::string("Склад"_cp), kReporterNumber, false},
                               {std::string("Офис"_cp), kRingedNumber, ringRound}};
    for (const Reporter& r : moreReporters)
        all.push_back({r.shortName, r.number, false});
    int key = 0;
    for (const Device& d : all) {
        devices.Append();
        devices.FieldAt(device::K1).SetAsInteger(key);
        devices.FieldAt(device::Device).SetAsString(d.name);
        devices.Post();
        descriptions.Append();
        descriptions.FieldAt(description::K1).SetAsInteger(key);
        descriptions.FieldAt(description::SimpleName).SetAsString(d.name);
        descriptions.FieldAt(description::SimCard).SetAsString(d.number);
        // Due again at once after each call: the test lets it ring when it wants a call.
        descriptions.FieldAt(description::DialTime).SetAsString("0");
        descriptions.FieldAt(description::DialEnable).SetAsBoolean(d.dial);
        descriptions.Post();
        ++key;
    }
    format.Save(devices, "t2.bin");
    format.Save(descriptions, "t1.bin");

    MemTable accounts;
    DefineSecurityTable(accounts);
    accounts.Append();
    const std::string login = kOperatorLogin;
    accounts.FieldAt(security::User).SetAsString(Utf8ToCp1251(login.substr(0, login.find(':'))));
    accounts.FieldAt(security::Password).SetAsString(login.substr(login.find(':') + 1));
    accounts.Post();
    format.Save(accounts, "t4.bin");

    MemTable events, dialEvents;
    DefineJournal(events);
    DefineJournal(dialEvents);
    format.Save(events, "t3.bin");
    format.Save(dialEvents, "t6.bin");
    TileStates tiles;
    SaveTileStates(tiles, kTileStatesFile);
}

void WriteConfig(const fs::path& dir, const ModemSim& sim)
{
    std::ofstream ini(dir / "config.ini", std::ios::binary);
    ini << "[MainDevice]\r\nPhoneNumber=*100#\r\nCPort=" << sim.Path(1) << "\r\nCPortBaudRate=115200\r\n"
        << "[SecondDevice]\r\nPhoneNumber=\r\nCPort=" << sim.Path(2) << "\r\nCPortBaudRate=115200\r\n"
        // The shortest wait for the missing parts of a long message: real-time tests stay short.
        << "[Messages]\r\nMultipartWaitSeconds=10\r\n";
}

} // namespace

void WriteLiveStationFiles(const fs::path& dir, const ModemSim& sim, const std::vector<Reporter>& moreReporters,
                           bool ringRound)
{
    WriteTables(moreReporters, ringRound);
    WriteConfig(dir, sim);
}

std::vector<JournalRow> NewestRows(const MemTable& journal, int count)
{
    std::vector<JournalRow> rows;
    for (int r = 0; r < count && r < journal.RecordCount(); ++r)
        rows.push_back({journal.TextAt(r, journal::Status), journal.TextAt(r, journal::Tel),
                        journal.TextAt(r, journal::Event), journal.TextAt(r, journal::SimpleName)});
    return rows;
}

void PrintTo(const JournalRow& row, std::ostream* out)
{
    *out << Cp1251ToUtf8(row.status) << " | " << row.tel << " | " << Cp1251ToUtf8(row.event) << " | '"
         << Cp1251ToUtf8(row.simplename) << "'";
}

std::string Describe(const std::vector<JournalRow>& rows)
{
    std::string out;
    for (const JournalRow& r : rows)
        out += "\n  " + Cp1251ToUtf8(r.status) + " | " + Cp1251ToUtf8(r.tel) + " | " + Cp1251ToUtf8(r.event) + " | '"
               + Cp1251ToUtf8(r.simplename) + "'";
    return out.empty() ? "\n  (none)" : out;
}

void ServeFor(std::chrono::milliseconds span)
{
    WaitServing([] { return false; }, span);
}

LiveStation::LiveStation(const fs::path& dir, const ModemSim& sim, const std::vector<Reporter>& moreReporters)
{
    if (const char* bin = std::getenv("KORVALEN_BIN_DIR"))
        for (const char* folder : {"ICO", "Pictures", "Sounds"})
            fs::create_directory_symlink(fs::path(bin) / folder, dir / folder);
    WriteLiveStationFiles(dir, sim, moreReporters, true);
    SetProgramDirForTests(QString::fromStdString(dir.string()));
    ResetShutdownForTests();
    SetSoundPlayer(&sounds);
    UseDecimalPoint();

    m_station = std::make_unique<Station>();
    // The real register, but "Офис" takes part in the ring-round only while the test lets it.
    StationContext& c = ctx();
    RingRound(false);
    // What the operator would read to find out what went wrong.
    m_station->TechnoJournalForm().WriteTechnoJournal->setChecked(true);
    m_station->Show();
    ServeFor(std::chrono::milliseconds(50));
    m_started = dialogs.messages.empty() && AutoStart(*m_station, kOperatorLogin) && c.LoggedIn &&
                form().ComPort1.Connected() && form().ComPort2.Connected();
}

LiveStation::~LiveStation()
{
    m_station.reset();
    SetProgramDirForTests({});
    SetSoundPlayer(nullptr);
    ResetShutdownForTests();
}

void LiveStation::RingRound(bool on)
{
    DeviceRegister& reg = m_station->Register();
    const bool readOnly = reg.DescriptionTable.ReadOnly();
    reg.SetReadOnly(false);
    // The descriptions show the current device's rows only.
    for (reg.DeviceTable.First(); !reg.DeviceTable.Eof(); reg.DeviceTable.Next()) {
        for (reg.DescriptionTable.First(); !reg.DescriptionTable.Eof(); reg.DescriptionTable.Next()) {
            if (reg.DescriptionTable.FieldByName("simcard").AsString() != kRingedNumber)
                continue;
            reg.DescriptionTable.Edit();
            reg.DescriptionTable.FieldByName("dialenable").SetAsBoolean(on);
            reg.DescriptionTable.Post();
        }
    }
    const std::vector<DialDevice> devices = reg.Devices();
    if (std::none_of(devices.begin(), devices.end(),
                     [&](const DialDevice& d) { return d.simcard == kRingedNumber && d.dialenable == on; }))
        throw std::runtime_error("the ringed device's ring-round could not be switched");
    reg.SetReadOnly(readOnly);
    form().RebuildBoard();
}

int LiveStation::TileOf(const std::string& shortName)
{
    const TStatusBoard& board = *form().StringGrid1;
    for (int c = 0; c < board.ColCount(); ++c)
        for (int r = 0; r < board.RowCount(); ++r)
            if (board.TileText(c, r) == shortName)
                return TileStates::Index(c, r);
    return -1;
}

std::uint8_t LiveStation::Guard(const std::string& shortName)
{
    const int tile = TileOf(shortName);
    return tile < 0 ? 0xFF : form().Tiles.GuardStates[static_cast<std::size_t>(tile)].load();
}

std::uint8_t LiveStation::Info(const std::string& shortName)
{
    const int tile = TileOf(shortName);
    return tile < 0 ? 0xFF : form().Tiles.InfoStates[static_cast<std::size_t>(tile)].load();
}

std::string LiveStation::TechnoTail(int lines)
{
    const QStringList all = m_station->TechnoJournalForm().Otchet->toPlainText().split(QLatin1Char('\n'));
    return all.mid(std::max<qsizetype>(0, all.size() - lines)).join(QLatin1Char('\n')).toStdString();
}

std::chrono::milliseconds LiveStation::Close(bool& accepted)
{
    const auto start = std::chrono::steady_clock::now();
    accepted = form().close();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

std::chrono::milliseconds LiveStation::Destroy()
{
    const auto start = std::chrono::steady_clock::now();
    m_station.reset();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

} // namespace kv::test
