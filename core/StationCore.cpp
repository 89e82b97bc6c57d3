#include "core/StationCore.h"

#include "centre/AlarmQueueWorker.h"
#include "centre/Forwarder.h"
#include "centre/Settings.h"
#include "centre/Utf8.h"
#include "core/ModemStart.h"
#include "core/Settings.h"

#include "data/IniFile.h"
#include "data/RecordEvent.h"
#include "data/Schemas.h"
#include "data/Status.h"
#include "data/SmsParts.h"
#include "data/Text.h"
#include "devices/DeviceRegister.h"
#include "modem/CommThread.h"
#include "modem/SendSms.h"
#include "modem/SmsInbox.h"
#include "timing/DateTime.h"
#include "timing/UiThread.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace kv {

using namespace literals;

std::string FormatSignalLevel(double level)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", level);
    std::string s(text);
    // Whatever the C library's numeric locale: the station writes a point.
    for (char& c : s)
        if (c == ',')
            c = '.';
    return s;
}

StationCore::StationCore(DeviceRegister& reg, std::string configFile)
    : m_register(reg), m_configFile(std::move(configFile)), m_desk(*this, RealClock::Instance()),
      m_contacts(RealClock::Instance())
{
    ComPort1.BeginUpdate();
    ComPort1.SetPort("COM1");
    ComPort1.SetBaudRate(br115200);
    ComPort1.SetDataBits(dbEight);
    ComPort1.SetStopBits(sbOneStopBit);
    ComPort1.SetParity({});
    ComPort1.SetFlowControl({}); // no handshake of any kind, DTR and RTS held off
    ComPort1.SetDiscardNull(true);
    ComPort1.SetBuffer({4096, 4096});
    ComPort1.SetEvents({evRxChar});
    ComPort1.EndUpdate();
    ComPort1.SetOnRxChar([this](TComPort*, int count) {
        try {
            const std::string bytes = ComPort1.ReadText(count);
            if (Modem1 && !bytes.empty())
                Modem1->AppendReceived(bytes);
        } catch (...) {
            // The bytes are lost; the exchange that waited for them times out.
        }
    });

    ComPort2.BeginUpdate();
    ComPort2.SetPort("COM2");
    ComPort2.SetBaudRate(br115200);
    ComPort2.SetDataBits(dbEight);
    ComPort2.SetStopBits(sbOneStopBit);
    ComPort2.SetParity({});
    ComPort2.SetFlowControl({});
    ComPort2.SetBuffer({1024, 1024});
    ComPort2.SetEvents(TComEvents::All());
    ComPort2.EndUpdate();
    ComPort2.SetOnRxChar([this](TComPort*, int count) {
        try {
            const std::string bytes = ComPort2.ReadText(count);
            if (Modem2 && !bytes.empty())
                Modem2->AppendReceived(bytes);
        } catch (...) {
        }
    });

    EventsTable.SetDefaultFormat(&frmbin);
    DialEventsTable.SetDefaultFormat(&frmbin);
    EventsTable.SetAfterPost([this](MemTable&) { MainRowPosted(); });
    DialEventsTable.SetAfterPost([this](MemTable&) {
        if (DialEventsLog)
            DialEventsLog->FoldIfDue();
    });
    Modem1 = std::make_unique<TModem>();
    Modem2 = std::make_unique<TModem>();

    m_desk.OnChanged = [this](bool opened) {
        if (IStationView* view = View())
            view->DeskChanged(opened);
    };
    // Handled in the list is acknowledged on the board too.
    m_desk.OnAcknowledged = [this](const std::string& shortName) { Board.Acknowledge(shortName); };
}

StationCore::~StationCore()
{
    if (!StopWorkers(kShutdownWait))
        BeginShutdown(); // let a worker still waiting on a hand-over go, so it can be joined
    m_commSlot.Join();
    m_dialSlot.Join();
    ClosePorts();
    m_forwarder.reset(); // before the journals it watches
    *m_alive = false;    // an answer already posted finds the core gone
    m_escalations.reset();
    m_contacts.Flush();
    EventsTable.SetAfterPost(nullptr);
    DialEventsTable.SetAfterPost(nullptr);
    m_desk.OnChanged = nullptr;
    m_desk.OnAcknowledged = nullptr;
}

void StationCore::Open(const Message& inform, const Message& warn)
{
    EventsLog = std::make_unique<DurableJournal>(EventsTable, "t3.bin", frmbin);
    EventsLog->Open(kMainJournalEmpty, inform, LocalNow());
    DialEventsLog = std::make_unique<DurableJournal>(DialEventsTable, "t6.bin", frmbin);
    DialEventsLog->Open(kDialJournalEmpty, inform, LocalNow());
    // With a centre, every row also goes to its database; the files stay first.
    // A desk until one of its modems runs (Tick).
    // Closes whose rows a stop kept out of the journal come back to it.
    const auto unmirrored = [this, alive = m_alive](std::vector<centre::ClosedRow> rows) {
        PostToUi([this, alive, rows = std::move(rows)] {
            if (*alive)
                for (const centre::ClosedRow& row : rows)
                    CentreHandled(row);
        });
    };
    m_forwarder = centre::StartForwarder(IniFile(m_configFile),
                                         {{"main", "t3.bin", EventsLog.get()}, {"ring", "t6.bin", DialEventsLog.get()}},
                                         "desk", WorkerClock, unmirrored);
    if (m_forwarder)
        if (const auto centre = centre::ReadDatabaseSettings(IniFile(m_configFile))) {
            m_centreName = Cp1251FromUtf8(centre->station);
            m_escalations = std::make_unique<centre::AlarmQueueWorker>(
                centre->connection, m_centreName, [](std::function<void()> fn) { PostToUi(std::move(fn)); });
        }
    RestoreTileStates(Tiles, kTileStatesFile, LocalNow(), warn);
    // Only a centre's station lays its board in pages.
    if (m_forwarder)
        Board.RestorePages(kTilePagesFile, LocalNow());
    ReadPriorities();
    // Before anything can start modem 1: its start rewrites the record.
    if (std::ifstream in(AlarmDesk::kRecordFile, std::ios::binary); in) {
        std::ostringstream all;
        all << in.rdbuf();
        m_crashRecord = all.str();
    }
}

void StationCore::ReadPriorities()
{
    std::vector<std::string> problems;
    m_desk.SetPriorities(kv::ReadPriorities(IniFile(m_configFile), problems));
    // Told once the technological journal can take it.
    m_priorityProblems = std::move(problems);
}

void StationCore::LoadContacts()
{
    for (const std::string& problem : m_priorityProblems)
        Techno(problem, kRed);
    m_priorityProblems.clear();
    const auto techno = [this](const std::string& text) { Techno(text, kRed); };
    m_contacts.OnSaveFailed = techno;
    m_contacts.Load(kLastContactFile, techno);
    // The register may have been laid before: its devices are watched anew.
    WatchDevices(RungDevices());
}

// ---------------------------------------------------------------- workers

bool StationCore::StartCommThread()
{
    const bool started = m_commSlot.Start(Modem1->Running, [this] {
        // Written at once rather than at the worker's first save, so that a crash
        // in the first seconds leaves a file and the unattended restart is not
        // stopped by the missing-states warning.
        SaveTiles();
        TileSaveFn save = [this] {
            switch (SaveTiles()) {
            case TileSave::Saved: return TileSaveResult::Saved;
            case TileSave::CannotCreate: return TileSaveResult::CannotCreate;
            case TileSave::WriteFailed: break;
            }
            return TileSaveResult::WriteFailed;
        };
        auto worker = std::make_shared<TCommThread>(*Modem1, ComPort1, *this, *WorkerClock, std::move(save), kSmsPartsFile);
        worker->SetMultipartWait(
            MultipartWaitFrom(IniFile(m_configFile).ReadString(std::string(settings::kMessages),
                                                          std::string(settings::kMultipartWaitSeconds), {})));
        TModem* modem = Modem1.get();
        return WorkerSlot::Worker{worker, [modem, w = worker.get()] {
                                      while (modem->Running)
                                          w->Pass();
                                  }};
    });
    // Started now, or a worker just stopped carries on: either way modem 1 is
    // watched, and the record of the run tells so.
    if (Modem1->Running)
        m_desk.StartRecord();
    if (started)
        Receiving();
    return started;
}

bool StationCore::StartDialThread()
{
    const bool started = m_dialSlot.Start(Modem2->Running, [this] {
        auto worker = std::make_shared<TDialThread>(*Modem2, ComPort2, *this, *WorkerClock, Schedule, DialVars);
        return WorkerSlot::Worker{worker, [w = worker.get()] { w->RunLoop(); }};
    });
    if (started)
        Receiving();
    return started;
}

void StationCore::Receiving()
{
    // Once receiving it stays a receiver, also while a modem is away; told at
    // once, so that a receiver's first heartbeat seldom calls it a desk.
    m_receiving = true;
    if (m_forwarder)
        m_forwarder->SetRole("receiver");
}

bool StationCore::StopWorkers(std::chrono::milliseconds limit)
{
    Modem1->Running = false;
    Modem2->Running = false;
    return WaitServing([this] { return !m_commSlot.Live() && !m_dialSlot.Live(); }, limit);
}

void StationCore::ClosePorts()
{
    // Closing at the end never fails the close: the devices are let go either way.
    for (TComPort* port : {&ComPort1, &ComPort2}) {
        try {
            port->Close();
        } catch (const std::exception&) {
        }
    }
}

void StationCore::BeginModem1(const Pause& pause, bool& workerStarted)
{
    kv::BeginModem1(*Modem1, ComPort1, pause, [this] { return StartCommThread(); }, workerStarted);
}

void StationCore::BeginModem2(const Pause& pause, bool& workerStarted)
{
    kv::BeginModem2(*Modem2, ComPort2, pause, [this] { return StartDialThread(); }, workerStarted);
}

// ---------------------------------------------------------------- commands

bool StationCore::SendSms(const std::string& number, const std::string& text, const std::string& commandName)
{
    return kv::SendSms(*Modem1, number, text, commandName);
}

bool StationCore::SendSms(const std::string& number, const std::string& text, const std::string& oneSmsText,
                          std::function<void(bool)> outcome)
{
    if (!Modem1->Running)
        return false;
    return SendUcs2Sms(
        *Modem1, number, text,
        [outcome = std::move(outcome)](bool sent) {
            if (outcome)
                Synchronize([&] { outcome(sent); });
        },
        oneSmsText);
}

// ---------------------------------------------------------------- board and desk

void StationCore::RebuildBoard(int columns, int rows)
{
    const std::vector<DialDevice> devices = RungDevices();
    if (!RingsHere) {
        Schedule.Rebuild(devices, columns, rows, WorkerClock->MonotonicMs());
        Board.SetLayout(Schedule.Snapshot());
        WatchDevices(devices);
        return;
    }
    // In a centre the board shows the company and the ring-round only this
    // station's share of it, whatever the register's order or the window's size.
    std::vector<DialDevice> rung;
    for (const DialDevice& d : m_register.Devices())
        if (RingsHere(d.simplename))
            rung.push_back(d);
    constexpr std::size_t kRoom = DialSchedule::kMaxColumns * DialSchedule::kMaxRows;
    const std::size_t beyond = rung.size() > kRoom ? rung.size() - kRoom : 0;
    if (beyond > 0 && beyond != m_rungBeyondBoard)
        Techno(Str("Обзвон: устройств этой станции "_cp) + std::to_string(rung.size()) +
                   Str(", обзваниваются первые "_cp) + std::to_string(kRoom),
               kRed);
    m_rungBeyondBoard = beyond;
    Schedule.Rebuild(rung, DialSchedule::kMaxColumns, DialSchedule::kMaxRows, WorkerClock->MonotonicMs());
    Board.SetPages(LayBoardPages(m_register.Devices(), ReceiverOf, columns, rows));
    WatchDevices(devices);
}

TileSave StationCore::SaveTiles()
{
    const TileSave saved = SaveTileStates(Tiles, kTileStatesFile);
    if (Board.Paged())
        Board.SavePages(kTilePagesFile);
    return saved;
}

std::vector<DialDevice> StationCore::RungDevices() const
{
    std::vector<DialDevice> devices = m_register.Devices();
    // A device the centre gives to another receiver is neither rung nor
    // watched for silence here: its calls go to that receiver.
    if (RingsHere)
        for (DialDevice& d : devices)
            if (d.dialenable && !RingsHere(d.simplename))
                d.dialenable = false;
    return devices;
}

void StationCore::WatchDevices(const std::vector<DialDevice>& devices)
{
    std::vector<ContactWatch::Device> watched;
    watched.reserve(devices.size());
    for (const DialDevice& d : devices)
        watched.push_back({d.simcard, d.simplename, d.dialenable, DialSchedule::IntervalMinutes(d.dialtime)});
    m_contacts.SetDevices(watched);
    if (IStationView* view = View())
        view->ContactsChanged();
}

void StationCore::SetEscalationTexts(const std::string& minutes, const std::string& numbers)
{
    m_minutesText = minutes;
    m_numbersText = numbers;
}

void StationCore::SetSilentHoursText(const std::string& text) { m_silentHoursTyped = text; }

void StationCore::Tick()
{
    m_desk.SetEscalation(m_minutesText, m_numbersText);
    m_desk.Tick();
    // The centre lets a receiver whose modem 1 answers send the escalations.
    if (m_forwarder) {
        m_forwarder->SetModem1Up(Modem1->Running && !m_desk.LinkDown());
        if (!m_receiving && (Modem1->Running || Modem2->Running))
            Receiving();
    }
    ClaimEscalations();
    if (Board.Paged() && !m_commSlot.Live() && --m_ticksToSaveTiles <= 0) {
        m_ticksToSaveTiles = 30;
        SaveTiles();
    }
    // Parsed, and a problem told, once per change.
    if (!m_silentHoursText || *m_silentHoursText != m_silentHoursTyped) {
        std::string problem;
        m_contacts.SetSilentHours(ParseSilentHours(m_silentHoursTyped, problem));
        if (!problem.empty())
            Techno(problem, kRed);
        m_silentHoursText = m_silentHoursTyped;
    }
    CheckContacts();
}

void StationCore::ClaimEscalations()
{
    // Every ten seconds, one claim at a time; the centre answers with nothing
    // unless it chose this receiver.
    const EscalationSettings& e = m_desk.Escalation();
    if (!m_escalations || m_claiming || --m_ticksToClaim > 0 || e.minutes <= 0 || e.numbers.empty() ||
        !Modem1->Running || m_desk.LinkDown())
        return;
    m_ticksToClaim = 10;
    m_claiming = true;
    const auto after = std::chrono::seconds(static_cast<long long>(e.minutes * 60.0));
    m_escalations->ClaimEscalations(m_centreName, after, [this, alive = m_alive](std::vector<centre::CentreAlarm> claimed) {
        if (!*alive)
            return;
        m_claiming = false;
        if (!claimed.empty())
            m_desk.EscalateClaimed(claimed);
    });
}

void StationCore::CheckContacts()
{
    m_contacts.SetRunning(Modem1->Running, Modem2->Running);
    const std::vector<std::string> silent = m_contacts.Check();
    for (const std::string& tel : silent) {
        const std::optional<LastContact> c = m_contacts.Of(tel);
        // Journalled: the stored time format, whatever the desktop's.
        std::string detail = c && c->at != 0 ? Str("последняя связь "_cp) + FixedDateTimeText(c->at) + " (" +
                                                   std::string(ContactWords(c->kind)) + ")"
                                             : Str("с начала наблюдения связи не было"_cp);
        detail += Str(", контроль "_cp) + SupervisionText(m_contacts.SupervisionMs(tel));
        m_desk.DeviceSilent(tel, detail);
    }
    if (IStationView* view = View(); view && !silent.empty())
        view->ContactsChanged();
    m_contacts.SaveIfDue();
}

void StationCore::SignOfLife(const std::string& tel, ContactKind kind)
{
    const bool wasSilent = m_contacts.Heard(tel, kind);
    if (wasSilent)
        m_desk.DeviceHeard(tel);
    // After the journal row's own refresh of the card, which came before this.
    if (IStationView* view = View())
        view->ContactsChanged();
}

std::string StationCore::LastContactText(const std::string& tel)
{
    const std::optional<LastContact> c = m_contacts.Of(tel);
    std::string text = c ? kv::LastContactText(*c) : std::string();
    if (m_contacts.Silent(tel))
        text += (text.empty() ? "" : "; ") + Str("нет связи"_cp);
    if (const std::uint64_t ms = m_contacts.SupervisionMs(tel); ms > 0 && !text.empty())
        text += Str(" (контроль "_cp) + SupervisionText(ms) + ")";
    return text;
}

std::optional<std::string> StationCore::TakeCrashRecord()
{
    std::optional<std::string> record;
    record.swap(m_crashRecord);
    return record;
}

bool StationCore::Resume()
{
    const std::optional<std::string> record = TakeCrashRecord();
    if (!record)
        return false;
    m_desk.Resume(*record);
    return true;
}

// ---------------------------------------------------------------- close

void StationCore::LeaveOpen(const std::string& user) { m_desk.LeftOpen(user); }

bool StationCore::SaveJournal(bool main, std::string& error)
{
    MemTable& table = main ? EventsTable : DialEventsTable;
    DurableJournal* log = main ? EventsLog.get() : DialEventsLog.get();
    const char* fileName = main ? "t3.bin" : "t6.bin";
    try {
        if (log)
            log->Fold(); // the table file, and an empty log
        else
            table.SaveToFile(fileName, &frmbin);
        return true;
    } catch (const std::exception& e) {
        error = Str("Ошибка сохранения журнала событий в файл "_cp) + fileName + ":\r\n" + e.what();
        return false;
    }
}

void StationCore::Closed()
{
    m_desk.Clear();
    m_desk.EndRecord();
    m_contacts.ForgetSilences();
    m_contacts.Flush();
    // A desk without modem 1 has no worker to keep its tiles.
    if (Board.Paged())
        SaveTiles();
}

// ---------------------------------------------------------------- the workers' host

void StationCore::Record(MemTable& journal, std::string_view status, const std::string& tel, const std::string& event,
                         double now)
{
    RecordEvent(
        journal, status, tel, event,
        [this](const std::string& number) { return m_register.FindShortNameByNumber(number, std::string()); }, now);
}

void StationCore::MainRowPosted()
{
    if (IStationView* view = View())
        view->MainRowPosted();
    if (EventsLog)
        EventsLog->FoldIfDue();
}

void StationCore::Reported(const Report& report)
{
    if (const std::optional<AlarmKind> alarm = AlarmOf(report))
        m_desk.Reported(*alarm, report.tel, report.event, report.shortName);
    switch (report.source) {
    case Report::Source::Sms: SignOfLife(report.tel, ContactKind::Report); break;
    case Report::Source::Call: SignOfLife(report.tel, ContactKind::Call); break;
    case Report::Source::Unreadable: break;
    }
}

void StationCore::WriteEvent(const std::string& status, const std::string& tel, const std::string& event)
{
    Synchronize([&] { Record(EventsTable, status, tel, event, LocalNow()); });
}

JournalWrite StationCore::HandOver(const Report& report, const std::string& tag)
{
    // A sync is a few milliseconds; this bounds a disk that has stopped
    // answering. A failing one ends the wait at its next failure.
    constexpr std::chrono::seconds kSyncLimit{10};
    DurableJournal* log = nullptr;
    std::uint64_t seq = 0;
    const bool ran = Synchronize([&] {
        // A line or a tile that fails costs its own part only: the row is
        // written all the same.
        try {
            for (const auto& [text, colour] : report.techno)
                Techno(text, colour);
        } catch (...) {
        }
        Board.SetGuardState(report.shortName, report.guard);
        Board.SetInfoState(report.shortName, report.info);
        // A fire or an opened case sounds until acknowledged, as an alarm does.
        if (report.info == kInfoWarning)
            Board.SetAlarmMark(report.shortName);
        const auto post = [&] { Record(EventsTable, report.status, report.tel, report.event, LocalNow()); };
        log = EventsLog.get();
        if (log)
            seq = log->PostTagged(tag, post);
        else
            post();
        Reported(report);
    });
    // An alarm call is answered at once: its row is synced as any other, unwaited.
    if (!ran || !log || seq == 0 || report.source == Report::Source::Call)
        return JournalWrite::Written;
    // Waited for here, on the worker's thread: the UI thread goes on meanwhile.
    return log->WaitDurable(seq, kSyncLimit) ? JournalWrite::Durable : JournalWrite::Written;
}

// The log keeps its tags under its own lock: asked on the worker's thread.
JournalState StationCore::JournalStateOf(const std::string& tag)
{
    if (!EventsLog)
        return JournalState::Unknown;
    switch (EventsLog->StateOf(tag)) {
    case DurableJournal::TagState::Durable: return JournalState::Durable;
    case DurableJournal::TagState::Pending: return JournalState::Pending;
    case DurableJournal::TagState::Unknown: break;
    }
    return JournalState::Unknown;
}

void StationCore::ForgetJournalTag(const std::string& tag)
{
    if (EventsLog)
        EventsLog->ForgetTag(tag);
}

void StationCore::WriteDialEvent(const std::string& status, const std::string& tel, const std::string& event,
                                 RingOutcome outcome)
{
    Synchronize([&] {
        Record(DialEventsTable, status, tel, event, LocalNow());
        switch (outcome) {
        case RingOutcome::None: break;
        case RingOutcome::Answered: SignOfLife(tel, ContactKind::RingRound); break;
        case RingOutcome::Failed:
            Board.SetInfoState(FindShortNameByNumber(tel, std::string()), kInfoWarning);
            m_desk.RingRoundFailed(tel, event);
            break;
        }
    });
}

void StationCore::WriteTechno(const std::string& text, Rgb colour)
{
    Synchronize([&] { Techno(text, colour); });
}

void StationCore::ShowSignalLevel(double level)
{
    Show([&](IStationView& view) { view.SignalLevel(1, level); });
}

void StationCore::ShowSignalLevel2(double level)
{
    Show([&](IStationView& view) { view.SignalLevel(2, level); });
}

void StationCore::Show(const std::function<void(IStationView&)>& show)
{
    Synchronize([&] {
        if (IStationView* view = View())
            show(*view);
    });
}

// On the worker's own thread: the register publishes what it looks up in.
std::string StationCore::FindShortNameByNumber(const std::string& number, const std::string& initial)
{
    return m_register.FindShortNameByNumber(number, initial);
}

std::string StationCore::FindNumberByShortName(const std::string& shortName, const std::string& initial)
{
    return m_register.FindNumberByShortName(shortName, initial);
}

void StationCore::SetCommandButtonsEnabled(bool enabled)
{
    Show([&](IStationView& view) { view.CommandButtons(enabled); });
}

void StationCore::SetStatusEdit(const std::string& number, const std::string& text)
{
    Show([&](IStationView& view) { view.StatusEdit(number, text); });
}

void StationCore::SetLinkText(const std::string& text)
{
    Show([&](IStationView& view) { view.LinkText(text); });
}

void StationCore::AddBalanceLine(const std::string& text)
{
    Show([&](IStationView& view) { view.BalanceLine(text); });
}

std::string StationCore::BalanceNumber()
{
    std::string number;
    Show([&](IStationView& view) { number = view.BalanceNumber(); });
    return number;
}

void StationCore::SetDialStatus(const std::string& text)
{
    Show([&](IStationView& view) { view.DialStatus(text); });
}

void StationCore::SetDialNumber(const std::string& text)
{
    Show([&](IStationView& view) { view.DialNumber(text); });
}

void StationCore::ShowLinkLost()
{
    Synchronize([&] {
        if (IStationView* view = View())
            view->LinkLostAlert();
        m_desk.LinkLost();
    });
}

void StationCore::LinkRestored()
{
    Synchronize([&] { m_desk.LinkRestored(); });
}

void StationCore::ShowWarning(const std::string& text)
{
    Show([&](IStationView& view) { view.Warning(text); });
}

void StationCore::PlaySound(Sound sound)
{
    if (IStationView* view = View())
        view->PlaySound(sound);
}

// ---------------------------------------------------------------- the desk's station

void StationCore::Journal(std::string_view status, const std::string& tel, const std::string& event, double now)
{
    try {
        Record(EventsTable, status, tel, event, now);
    } catch (const std::exception& e) {
        Techno(Str("Не удалось записать событие в журнал: "_cp) + e.what(), kRed);
    }
}

void StationCore::Techno(const std::string& text, Rgb colour)
{
    if (IStationView* view = View())
        view->TechnoLine(text, colour);
}

bool StationCore::Modem1Running() { return Modem1->Running; }

std::string StationCore::ShortName(const std::string& tel) { return ShortNameOf(*this, tel); }

bool StationCore::InCentre(const std::string& journal, std::uint64_t seq)
{
    return m_forwarder && seq <= m_forwarder->SentUpTo(journal);
}

void StationCore::Escalated(const OpenAlarm& alarm, double at)
{
    if (!m_forwarder)
        return;
    centre::DeskOutcome escalated;
    escalated.journal = alarm.journal;
    escalated.seq = alarm.seq;
    escalated.at = at;
    m_forwarder->NoteOutcome(std::move(escalated));
}

void StationCore::Handled(const OpenAlarm& alarm, std::uint64_t rowSeq, std::string_view result,
                          std::string_view comment, const std::string& user, double at)
{
    if (m_forwarder)
        m_forwarder->NoteOutcome(
            {true, alarm.journal, alarm.seq, at, rowSeq, std::string(result), std::string(comment), user});
}

void StationCore::CentreHandled(const centre::ClosedRow& row)
{
    if (!EventsLog || row.deskSeq <= 0)
        return;
    // Once: the close's answer and a connection's look for rows left out may
    // both bring it.
    const std::string tag = centre::DeskRowTag(row.deskSeq);
    if (!m_deskRowsJournalled.insert(row.deskSeq).second ||
        EventsLog->StateOf(tag) != DurableJournal::TagState::Unknown)
        return;
    try {
        EventsLog->PostTagged(tag, [&] { Record(EventsTable, status::kHandling, row.tel, row.event, row.at); });
    } catch (const std::exception& e) {
        Techno(Str("Не удалось записать событие в журнал: "_cp) + e.what(), kRed);
    }
}

std::uint64_t StationCore::LastRowSeq(bool ring)
{
    const DurableJournal* log = ring ? DialEventsLog.get() : EventsLog.get();
    return log ? log->LastSeq() : 0;
}

std::string StationCore::ListName(const std::string& tel) { return m_register.FindListNameByNumber(tel); }

} // namespace kv
