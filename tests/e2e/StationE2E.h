#pragma once
// A whole station as an operator meets it: a fresh working folder for the table
// files, a fresh program folder for the INI files (the build's pictures and
// sounds linked in), the modem simulator on pseudo-terminals named in
// "config.ini", the real windows offscreen with the real board tick, a scripted
// operator and a sound recorder. Every step goes through the windows' own
// handlers; every wait serves the event loop and is bounded.
#include "tests/e2e/JournalTool.h"
#include "tests/station/StationFixture.h"
#include "tests/support/ModemSim.h"

#include <QLineEdit>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv::test {

// A device as the operator enters it on the card (station text).
struct CardEntry {
    std::string listName;
    std::string shortName;
    std::string number;
    std::string interval = "60";
    bool ringRound = false;
};

class StationE2E : public StationTest {
protected:
    StationE2E();
    ~StationE2E() override;

    // The simulator with two modems, its paths written into "config.ini".
    void StartSimulator();
    // A new station in the same folders, shown; the messages of its start stay recorded.
    void Start();
    // The main window's real close, then the station goes. False when the close was refused.
    bool Close();

    // Serves the event loop and the hand-overs until `done` or the limit; `done`
    // is asked every `period` (the simulator's listings cost a round trip).
    static bool Until(const std::function<bool()>& done, std::chrono::milliseconds limit,
                      std::chrono::milliseconds period = std::chrono::milliseconds(5));
    // Waits until the board tick has run `ticks` more times (it flips the blink
    // phase each time); a stalled UI thread only makes the wait longer.
    bool WaitTicks(int ticks, std::chrono::milliseconds limit);

    // ---- the operator ----
    // Types into a field key by key, as the operator does (station text).
    static void Type(QWidget* field, const std::string& cp1251, bool clearFirst = false);
    // In the access window's administrator tab (the window opened by its button).
    void CreateAccount(const std::string& user, const std::string& password);
    // Through the access window's user tab.
    void LogInAs(const std::string& user, const std::string& password);
    // The administrator account created on a station without accounts, then logged in.
    void LogInAsNewAdministrator();
    // Through the device window: "Добавить прибор", the card's fields, "Сохранить".
    void AddDevice(const CardEntry& card);
    // The devices button: shows or closes the device window.
    void ToggleDeviceWindow();
    // The modem window's journal button and the password dialog; recording ticked.
    void OpenTechnoJournal();
    // The modem window opened, "УСТАНОВИТЬ СВЯЗЬ" pressed, the window closed.
    void InitialiseModems();
    // Modem 1's start-up sequence is through: the text parameters confirmed.
    bool WaitModem1Ready(std::chrono::milliseconds limit = std::chrono::seconds(60));

    // ---- what the station shows ----
    std::string TechnoText() const; // UTF-8
    bool TechnoHas(const std::string& utf8) const;
    // Rows of a journal in memory whose Status is `status`.
    static int CountRows(const MemTable& journal, std::string_view status);
    // Index of the first (newest) row with that Status, -1 when none.
    static int FindRow(const MemTable& journal, std::string_view status);
    // Has the simulator seen the station send `line` (escaped) to `modem`?
    bool Sent(int modem, const std::string& line);
    std::uint8_t Guard(int column, int row) const;
    std::uint8_t Info(int column, int row) const;
    std::uint8_t AlarmMark(int column, int row) const;
    static bool Same(const QColor& a, int r, int g, int b) { return a == QColor(r, g, b); }

    // After a failure: the technological journal and the main journal on stderr.
    void ReportOnFailure() const;

    // Each file passes `korvalen-jrn check`.
    void ExpectToolReads(const std::vector<std::string>& files);

    std::filesystem::path program;
    std::unique_ptr<ModemSim> sim;
};

// Newest first, as in the station: the rows of a tool's CSV with that Status.
std::vector<CsvRow> RowsWithStatus(const std::vector<CsvRow>& rows, const std::string& utf8Status);

} // namespace kv::test
