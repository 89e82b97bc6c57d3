#pragma once
// A whole station in a fresh working folder, with a scripted operator, a sound
// recorder and a register the test fills itself (the device window is not
// part of these tests, its register is). The board tick is stopped: tests drive the blinking.
#include "data/Text.h"
#include "devices/DeviceRegister.h"
#include "modem/EventTexts.h"
#include "modem/DialSchedule.h"
#include "station/Station.h"
#include "station/StatusBoard.h"
#include "station/mainunit.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TempDir.h"
#include "timing/UiThread.h"
#include "windows/AppPaths.h"
#include "windows/SoundPlayer.h"

#include <QApplication>
#include <QImage>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace kv::test {

struct FakeDevice {
    std::string simplename;
    std::string simcard;
    bool dialenable = false;
    std::string dialtime = "60";
    std::string listName{};
};

class StationTest : public ::testing::Test {
protected:
    StationTest() : StationTest(std::filesystem::path()) {}
    // `programDir`: the folder of the program file (INI files, pictures, sounds);
    // empty for the working folder itself.
    explicit StationTest(const std::filesystem::path& programDir)
    {
        // The program folder is the test's own, so that INI files land there; the
        // build's pictures and sounds are reached through links.
        const std::filesystem::path program = programDir.empty() ? dir.path() : programDir;
        if (const char* bin = std::getenv("KORVALEN_BIN_DIR"))
            for (const char* folder : {"ICO", "Pictures", "Sounds"})
                std::filesystem::create_directory_symlink(std::filesystem::path(bin) / folder, program / folder);
        SetProgramDirForTests(QString::fromStdString(program.string()));
        ResetShutdownForTests();
        SetSoundPlayer(&sounds);
        UseDecimalPoint();
    }
    ~StationTest() override
    {
        station.reset();
        SetProgramDirForTests({});
        SetSoundPlayer(nullptr);
        ResetShutdownForTests();
    }

    void Create(bool keepMessages = false)
    {
        station = std::make_unique<Station>();
        form().MMTimer1.SetEnabled(false);
        if (!keepMessages)
            dialogs.messages.clear();
    }
    StationContext& ctx() { return station->Context(); }
    TForm1& form() { return station->Form1(); }
    TStatusBoard& board() { return *form().StringGrid1; }

    // The board reads the register at each rebuild: `devices` goes into the
    // station's register first, through its tables as the device window writes them.
    void InstallRegister() { m_registerInstalled = true; }
    // `devices` into the register, and the board laid anew from it.
    void RebuildBoard()
    {
        if (m_registerInstalled)
            SyncRegister();
        form().RebuildBoard();
    }
    void SyncRegister()
    {
        DeviceRegister& reg = station->Register();
        const bool readOnly = reg.DeviceTable.ReadOnly();
        reg.SetReadOnly(false);
        reg.DescriptionTable.EmptyTable();
        reg.DeviceTable.EmptyTable();
        for (const FakeDevice& d : devices) {
            reg.DeviceTable.Append();
            reg.DeviceTable.FieldByName("device").SetAsString(d.listName);
            reg.DeviceTable.Post();
            reg.DescriptionTable.Append();
            reg.DescriptionTable.FieldByName("simplename").SetAsString(d.simplename);
            reg.DescriptionTable.FieldByName("simcard").SetAsString(d.simcard);
            reg.DescriptionTable.FieldByName("dialtime").SetAsString(d.dialtime);
            reg.DescriptionTable.FieldByName("dialenable").SetAsBoolean(d.dialenable);
            reg.DescriptionTable.Post();
        }
        reg.SetReadOnly(readOnly);
    }
    // An SMS report of that number handed over as modem 1's worker hands it
    // (`text` without "Новое сообщение:").
    void Sms(const std::string& tel, const std::string& text)
    {
        const std::string_view prefix = events::kNewMessage;
        const std::string body = text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : text;
        form().Host().HandOver(SmsReport(tel, ShortNameOf(form().Host(), tel), body), {});
    }
    void Place(std::initializer_list<const char*> names)
    {
        for (const char* n : names)
            devices.push_back({n, std::string("+7911") + n});
        RebuildBoard();
        Settle();
    }

    void LogIn(bool in = true)
    {
        ctx().LoggedIn = in;
        form().SetLoginControlsEnabled(in);
    }
    void ShowAndSettle()
    {
        station->Show();
        Settle();
    }
    static void Settle()
    {
        for (int i = 0; i < 3; ++i) {
            QApplication::processEvents();
            ServeHandOvers();
        }
    }
    template <class F>
    static bool WaitFor(F done, std::chrono::milliseconds limit = std::chrono::seconds(5))
    {
        return WaitServing(done, limit) || done();
    }

    // A board pixel as drawn now, (x, y) inside the tile.
    QColor TilePixel(int column, int row, int x, int y)
    {
        const QRect cell = board().CellRect(column, row);
        return board().grab().toImage().pixelColor(cell.left() + x, cell.top() + y);
    }
    // Bottom-left corner of a tile: neither the (right-aligned) text nor the icon reach it.
    QColor TileBackground(int column, int row) { return TilePixel(column, row, 3, TStatusBoard::kTileHeight - 3); }

    TempDir dir;
    ScriptedDialogs dialogs;
    RecordingSoundPlayer sounds;
    std::vector<FakeDevice> devices;
    bool m_registerInstalled = false;
    std::unique_ptr<Station> station;
};

} // namespace kv::test
