#pragma once
// The main window: the picture buttons that open the other windows, the status
// board, the two journal views with the journal menu, the ring-round controls,
// the clock and the two modem icons. It shows the station's core (the ports,
// modem states, journals, tile states, schedule and workers are the core's;
// the names below are its, for the window's own code) and runs the board timer.
#include "core/StationCore.h"
#include "data/Rgb.h"
#include "timing/MMTimer.h"
#include "windows/HelpUnit.h"
#include "windows/StationContext.h"

#include <QWidget>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QTabWidget;

class QTabBar;

namespace kv {

class TAbClock;
class TJournalBanner;
class TJournalGrid;
class TMemTableModel;
class TPNGButton;
class TStatusBoard;

// What the main window asks of the windows created after it, each answering
// as if absent until it exists (UI thread).
class IMainStation {
public:
    // A board tile was selected (acknowledged).
    virtual void TileSelected(const std::string& shortName) = 0;
    virtual void ShowAlarms() = 0;
    // The open alarms named for a question ("Склад (Тревога, 12:03), ..."); empty when none.
    virtual std::string OpenAlarmsText() = 0;
    // The journal search, its device filter set ("" for none).
    virtual void ShowJournalSearch(const std::string& device) = 0;
    // The card of the device with that short name (the board's right click);
    // false, nothing shown, when no device has it.
    virtual bool ShowDeviceCardOf(const std::string& shortName) = 0;
    // A main-journal row came: the card's last events are read again.
    virtual void FillLastEvents() = 0;
    virtual void RefreshPortFields() = 0;
    virtual void TechnoLine(const std::string& text, Rgb colour) = 0;
    // Whether the administrator has an account, and whether these are the
    // administrator's name and password.
    virtual bool HasAdministrator() = 0;
    virtual bool IsAdministrator(const std::string& user, const std::string& password) = 0;
    // The main window's close went through.
    virtual void StationClosed() = 0;

protected:
    ~IMainStation() = default;
};

class TForm1 : public QWidget {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 850;
    static constexpr int kClientHeight = 600;
    // Board tiles per pixel of window, and the pixels the rest of the window keeps.
    static constexpr double kColumnStep = 142.6;
    static constexpr double kRowStep = 34.43;
    static constexpr int kReservedWidth = 137;
    static constexpr int kReservedHeight = 359;
    static constexpr int kMaxColumns = 30;
    static constexpr int kMaxRows = 30;
    // How long the close waits for the workers' last passes.
    static constexpr std::chrono::milliseconds kShutdownWait = StationCore::kShutdownWait;

    // Creates the controls, starts the board tick, and runs FormCreate (the
    // core's journals and tile states). The station outlives the window.
    TForm1(StationContext& ctx, StationCore& core, IMainStation& station);
    ~TForm1() override;

    // ---- controls ----
    TPNGButton* PNGButton6; // logo: the maker's page
    TPNGButton* PNGButton1; // modem window
    TPNGButton* PNGButton2; // device window
    TPNGButton* PNGButton3; // access window
    TPNGButton* PNGButton4; // work journal
    TPNGButton* PNGButton5; // help
    QGroupBox* GroupBox1;   // "Обзвон"
    QPushButton* Button3;
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button4;
    QLabel* DialNumber;
    QLabel* DialStatus;
    TStatusBoard* StringGrid1;
    // A centre's board in pages: one tab per page above it, hidden for one page.
    QTabBar* BoardPages;
    // Beside the tabs while a page not on show has an alarm nobody has
    // acknowledged, whether or not its tab is scrolled into sight; a click shows it.
    QPushButton* AlarmPageButton;
    QTabWidget* PageControl1;
    TJournalGrid* DBGrid2;
    TJournalGrid* DBGrid3;
    QMenu* PopupMenu2;
    QAction* N3;
    QAction* N4;
    QAction* N5;
    QAction* N6;
    QWidget* Panel1; // the right-hand panel
    TAbClock* AbClock1;
    QLabel* Label1;
    QLabel* Image1;
    QLabel* Label2;
    QLabel* Image3;
    QPushButton* AlarmsButton; // the open-alarms window
    QAction* N7;               // "Поиск в журнале"

    // ---- the core's ----
    StationCore& Core;
    TableFormat& frmbin;
    MemTable& EventsTable;
    MemTable& DialEventsTable;
    std::unique_ptr<DurableJournal>& EventsLog;
    std::unique_ptr<DurableJournal>& DialEventsLog;
    TileStates& Tiles;
    DialSchedule& Schedule;
    DialState& DialVars;
    std::unique_ptr<TModem>& Modem1;
    std::unique_ptr<TModem>& Modem2;
    TComPort& ComPort1;
    TComPort& ComPort2;
    IClock*& WorkerClock;
    // Red beside the journal tabs while a journal's log cannot be written.
    std::unique_ptr<TJournalBanner> JournalBanner;
    // Opens a web page; replaceable in tests.
    std::function<void(const QString& url)> OpenUrl = OpenWebPage;

    // ---- handlers ----
    void FormCreate();
    void FormResize();
    // The close: closes the other windows (each saves what it holds), stops the
    // workers, closes the ports, saves both journals.
    // False when a journal could not be saved and the operator keeps the window.
    bool FormClose();
    // The close box's question: the plain one, or the administrator's name and
    // password while nobody is logged in or alarms are open. True: close.
    bool CloseQuery();
    // The close of a signal or of the session's end: no question, and one
    // already open on the screen gives way.
    void CloseForSystem();

    void PNGButton6Click();
    void PNGButton1Click();
    void PNGButton2Click();
    void PNGButton3Click();
    void PNGButton4Click();
    void PNGButton5Click();

    void Button1Click(); // start the ring-round
    void Button2Click(); // stop it
    void Button3Click(); // the schedule window

    // A row went into the main journal: the card's last events and the view's top.
    void MainRowPosted();

    void N3Click(); // "Сохранить"
    void N4Click(); // "Открыть"
    void N6Click(); // "Очистить"
    void N7Click(); // "Поиск в журнале"

    // The board and the main journal take clicks only while someone is logged in.
    void SetLoginControlsEnabled(bool enabled);
    void SetDialStatus(const std::string& text);

    // ---- the board ----
    void RebuildBoard();
    void SetGuardState(const std::string& shortName, std::uint8_t code);
    void SetInfoState(const std::string& shortName, std::uint8_t code);
    void CheckStatusDevices(); // MMTimer1's handler, on the timer's thread
    bool StringGrid1DrawCell(QPainter& painter, int column, int row, const QRect& cell);
    void StringGrid1SelectCell(int column, int row);
    void StringGrid1MouseDown(int column, int row); // right button
    // The pages' tabs follow the board's pages and their alarms (UI thread).
    void ShowBoardPages();

    // ---- the workers ----
    bool StartCommThread() { return Core.StartCommThread(); }
    bool StartDialThread() { return Core.StartDialThread(); }
    bool CommThreadLive() const { return Core.CommThreadLive(); }
    bool DialThreadLive() const { return Core.DialThreadLive(); }
    // Clears both Running flags and waits, serving hand-overs, until both
    // workers have ended. False when one is still running at the limit.
    bool StopWorkers(std::chrono::milliseconds limit) { return Core.StopWorkers(limit); }

    // The workers' host.
    StationCore& Host() { return Core; }

    // Widens the last column of both journal grids to what the grid leaves.
    void WidenEventColumns();

signals:
    // The window has closed for good: the program ends.
    void Closed();

protected:
    void resizeEvent(QResizeEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void CloseOtherWindows();
    void CreateControls();
    void LayOut();
    bool LoginGate();
    // False, with the reason shown, for a viewer: the change does not go.
    bool ChangeGate();
    void Toggle(ShownWindow which, const std::function<void()>& afterClose = {});
    bool SaveJournal(bool main);

    StationContext& m_ctx;
    IMainStation& m_station;
    TMemTableModel* m_eventsModel = nullptr;
    TMemTableModel* m_dialEventsModel = nullptr;
    int m_boardColumns = 1;
    int m_boardRows = 1;
    int m_pagedRows = 1; // with the pages' tabs above the board
    int m_alarmPage = -1; // the page AlarmPageButton shows
    int m_alarmPages = 0;  // and how many pages not on show have alarms
    bool m_centred = false;
    bool m_closed = false;
    bool m_asking = false;      // the close box's question is open
    bool m_systemClose = false; // a signal or the session wants the station ended
    // A closing station no longer sounds its open alarms (the tick reads it).
    std::atomic<bool> m_closing{false};

public:
    // The board tick, 500 ms. Last: destroyed first, waiting for a tick under way.
    TMMTimer MMTimer1;
};

} // namespace kv
