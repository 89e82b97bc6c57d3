#pragma once
// The station without its windows: both serial ports and modem states, both
// journals with their durable logs, the board's tile states, the ring-round
// schedule, the modem workers, the alarm desk with escalation and crash
// resume, and the devices' last contacts. The windows program and the
// receiver service each run one, and show it through an IStationView.
//
// It is the workers' host: every call that touches a table, the desk or the
// view runs on the UI thread while the worker waits (Synchronize); register
// lookups, sounds and the board's state bytes do not wait. A report costs one
// hand-over. Once shut-down has begun nothing more runs.
#include "core/AlarmDesk.h"
#include "core/BoardState.h"
#include "core/ContactWatch.h"
#include "core/ModemStart.h"
#include "core/StationView.h"
#include "core/WorkerSlot.h"
#include "data/DurableJournal.h"
#include "data/MemTable.h"
#include "data/TableFormat.h"
#include "data/TileStates.h"
#include "modem/DialSchedule.h"
#include "modem/DialThread.h"
#include "modem/Modem.h"
#include "modem/ModemHost.h"
#include "serial/CPort.h"
#include "timing/Clock.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kv {

namespace centre {
class Forwarder;
class AlarmQueueWorker;
}
class DeviceRegister;
struct DialDevice;

// Level text as the modem window shows it: one decimal, "." as separator.
std::string FormatSignalLevel(double level);

class StationCore final : public IModemHost, private IDeskStation {
public:
    // How long a close waits for the workers' last passes.
    static constexpr std::chrono::milliseconds kShutdownWait{15000};
    using Message = std::function<void(const std::string&)>;

    // Creates the ports and modem states; nothing is opened yet. `configFile`:
    // "config.ini", read again at each start of modem 1.
    StationCore(DeviceRegister& reg, std::string configFile);
    // Stops the workers (waiting, serving hand-overs) and closes the ports.
    ~StationCore() override;
    StationCore(const StationCore&) = delete;
    StationCore& operator=(const StationCore&) = delete;

    // Where the core shows itself; null shows nothing. UI thread, before any
    // worker starts or after every worker has ended.
    void SetView(IStationView* view) { m_view = view; }

    // Opens both journals with their logs (`inform`: a journal was started
    // empty), the tile states (`warn`: they could not be read), and reads the
    // record of the last run.
    void Open(const Message& inform, const Message& warn);
    // The devices' last contacts, once the technological journal can tell
    // what was wrong with them.
    void LoadContacts();
    // The alarm kinds' priorities from "config.ini" ("[Priorities]"); what
    // cannot be used is told with the contacts' load.
    void ReadPriorities();

    // ---- owned (the workers go before what they use) ----
    TableFormat frmbin;
    MemTable EventsTable{"EventsTable"};
    MemTable DialEventsTable{"DialEventsTable"};
    // Every row of the two journals also goes to a log synced within a second,
    // so a crash or a power cut loses no event.
    std::unique_ptr<DurableJournal> EventsLog;
    std::unique_ptr<DurableJournal> DialEventsLog;
    TileStates Tiles;
    BoardState Board{Tiles};
    DialSchedule Schedule;
    DialState DialVars;
    std::unique_ptr<TModem> Modem1;
    std::unique_ptr<TModem> Modem2;
    TComPort ComPort1;
    TComPort ComPort2;
    // The workers' time; tests put a virtual clock here before starting one.
    IClock* WorkerClock = &RealClock::Instance();

    DeviceRegister& Register() { return m_register; }
    // The journals going to the centre's database; null without [Database].
    const centre::Forwarder* Centre() const { return m_forwarder.get(); }
    const std::string& ConfigFile() const { return m_configFile; }
    AlarmDesk& Desk() { return m_desk; }
    ContactWatch& Contacts() { return m_contacts; }

    // ---- the workers ----
    bool StartCommThread(); // false when one is already running
    bool StartDialThread();
    bool CommThreadLive() const { return m_commSlot.Live(); }
    bool DialThreadLive() const { return m_dialSlot.Live(); }
    // Clears both Running flags and waits, serving hand-overs, until both
    // workers have ended. False when one is still running at the limit.
    bool StopWorkers(std::chrono::milliseconds limit);
    void ClosePorts();
    // A modem's port opened, its set-up sent and its worker started, as the
    // modem window's "УСТАНОВИТЬ СВЯЗЬ" does. `pause` waits on the UI thread.
    // Throws what the port threw; `workerStarted` tells whether the worker
    // had started by then.
    void BeginModem1(const Pause& pause, bool& workerStarted);
    void BeginModem2(const Pause& pause, bool& workerStarted);

    // ---- device commands ----
    // A command by SMS through modem 1, queued whole, journalled by its name;
    // false, nothing queued, when modem 1 cannot take it now.
    bool SendSms(const std::string& number, const std::string& text, const std::string& commandName);
    // One SMS (or a long text in parts) as UCS2; `outcome` on the UI thread:
    // true when the modem confirmed it. `oneSmsText`: its form within one SMS,
    // sent instead when the modem cannot send long texts. False, nothing
    // sent, when modem 1 cannot take it now.
    bool SendSms(const std::string& number, const std::string& text, const std::string& oneSmsText,
                 std::function<void(bool sent)> outcome) override;

    // ---- the board and the desk ----
    // The register laid on a board of that size; its devices watched.
    void RebuildBoard(int columns, int rows);
    // With a centre: whether this station rings that device (UI thread). Set,
    // the ring-round holds the devices rung here only and the board is laid in
    // pages (every device of the company).
    std::function<bool(const std::string& shortName)> RingsHere;
    // With a centre: the receiver that rings that device, empty for none; the
    // board's pages group by it.
    std::function<std::string(const std::string& shortName)> ReceiverOf;
    // Writes t5.bin, and the pages past the first while the board is paged.
    TileSave SaveTiles();
    // Escalation and supervision texts of "config.ini" (the modem window's fields).
    void SetEscalationTexts(const std::string& minutes, const std::string& numbers);
    void SetSilentHoursText(const std::string& text);
    // The second's work: escalation, the clock's steps, silent devices.
    void Tick();
    // "Последняя связь" of the device with that number, as the card shows it.
    std::string LastContactText(const std::string& tel);
    // The record of the last run when it ended without its close; given once.
    std::optional<std::string> TakeCrashRecord();
    // After a crash: "Возобновление работы после сбоя" and its open rows back.
    bool Resume();

    // ---- the close ----
    // The workers have stopped: every open row journalled as left by `user`.
    void LeaveOpen(const std::string& user);
    // Folds the journal into its table file; false with the reason (station text).
    bool SaveJournal(bool main, std::string& error);
    // The close went through: the desk emptied, the record removed, contacts kept.
    void Closed();

    // ---- IModemHost ----
    void WriteEvent(const std::string& status, const std::string& tel, const std::string& event) override;
    void WriteDialEvent(const std::string& status, const std::string& tel, const std::string& event,
                        RingOutcome outcome = RingOutcome::None) override;
    JournalWrite HandOver(const Report& report, const std::string& tag) override;
    JournalState JournalStateOf(const std::string& tag) override;
    void ForgetJournalTag(const std::string& tag) override;
    void WriteTechno(const std::string& text, Rgb colour) override;
    void ShowSignalLevel(double level) override;
    void ShowSignalLevel2(double level) override;
    std::string FindShortNameByNumber(const std::string& number, const std::string& initial) override;
    std::string FindNumberByShortName(const std::string& shortName, const std::string& initial) override;
    void SetCommandButtonsEnabled(bool enabled) override;
    void SetStatusEdit(const std::string& number, const std::string& text) override;
    void SetLinkText(const std::string& text) override;
    void AddBalanceLine(const std::string& text) override;
    std::string BalanceNumber() override;
    void SetDialStatus(const std::string& text) override;
    void SetDialNumber(const std::string& text) override;
    void ShowLinkLost() override;
    void LinkRestored() override;
    void ShowWarning(const std::string& text) override;
    void PlaySound(Sound sound) override;

    // ---- IDeskStation ----
    void Journal(std::string_view status, const std::string& tel, const std::string& event, double now) override;
    void Techno(const std::string& text, Rgb colour) override;
    bool Modem1Running() override;
    std::string ShortName(const std::string& tel) override;
    std::string ListName(const std::string& tel) override;
    std::uint64_t LastRowSeq(bool ring) override;
    bool InCentre(const std::string& journal, std::uint64_t seq) override;
    void Escalated(const OpenAlarm& alarm, double at) override;
    void Handled(const OpenAlarm& alarm, std::uint64_t rowSeq, std::string_view result, std::string_view comment,
                 const std::string& user, double at) override;
    void CentreHandled(const centre::ClosedRow& row) override;

private:
    void Record(MemTable& journal, std::string_view status, const std::string& tel, const std::string& event,
                double now);
    // What a report means beyond its row: the desk's alarm, the device heard.
    void Reported(const Report& report);
    void SignOfLife(const std::string& tel, ContactKind kind);
    void WatchDevices(const std::vector<DialDevice>& devices);
    // The register as this station rings it.
    std::vector<DialDevice> RungDevices() const;
    void CheckContacts();
    void ClaimEscalations();
    // A modem of this station runs: the centre lists it as a receiver.
    void Receiving();
    void MainRowPosted();
    // Runs `show` on the view, if any, on the UI thread.
    void Show(const std::function<void(IStationView&)>& show);

    DeviceRegister& m_register;
    std::string m_configFile;
    std::vector<std::string> m_priorityProblems;
    // Read by the workers for sounds.
    std::atomic<IStationView*> m_view{nullptr};
    IStationView* View() const { return m_view.load(); }
    AlarmDesk m_desk;
    ContactWatch m_contacts;
    std::optional<std::string> m_crashRecord;
    std::string m_minutesText = "0", m_numbersText;
    std::optional<std::string> m_silentHoursText;
    std::string m_silentHoursTyped = "0";

    WorkerSlot m_commSlot;
    WorkerSlot m_dialSlot;
    std::unique_ptr<centre::Forwarder> m_forwarder;
    // With a centre: the claims of the escalations this receiver is to send.
    std::unique_ptr<centre::AlarmQueueWorker> m_escalations;
    std::string m_centreName; // this station's name there, station text
    // The centre's rows of this desk journalled here in this run (UI thread).
    std::set<long long> m_deskRowsJournalled;
    bool m_claiming = false;
    bool m_receiving = false; // a modem has run: the centre lists a receiver, not a desk
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    int m_ticksToClaim = 0;
    int m_ticksToSaveTiles = 0;
    std::size_t m_rungBeyondBoard = 0; // devices rung here that the ring-round has no room for
};

} // namespace kv
