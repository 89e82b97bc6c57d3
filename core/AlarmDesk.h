#pragma once
// The operator's alarm desk. Every alarm the modem workers report (an
// intrusion, an alarm call, fire or a case opened, a ring-round call failed for
// good, the loss of modem 1) is an open row until a named operator handles it
// with a result; the handling goes into the main journal as a "Обработка" row,
// every row still open at a logout or at the station's end as "Не обработано".
// A tile click only acknowledges its device's rows: silenced and no longer
// escalated, they stay open for their results. A row neither acknowledged nor
// handled within the escalation time is sent by SMS to each escalation number, once, and no
// number gets more than kSmsPerHour of them in any hour. An SMS from a number
// that is no device's is one row per number, whatever it says, and never
// leaves the station.
//
// UI thread only. No widgets: the windows show and drive it, tests drive it on
// a virtual clock. All texts are code page 1251 bytes.
#include "centre/CentreAlarm.h"
#include "core/AlarmPriority.h"
#include "data/Rgb.h"
#include "data/Text.h"
#include "modem/AlarmRows.h"
#include "modem/Report.h"
#include "timing/Clock.h"
#include "timing/ClockStep.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// The results an operator chooses from; the tile click has its own.
inline constexpr std::string_view kHandlingResults[] = {"Ложная тревога"_cp, "Выезд группы"_cp,
                                                       "Проверено, всё в порядке"_cp, "Другое"_cp};
inline constexpr std::string_view kResultFromBoard = "Принята с табло"_cp;
inline constexpr std::size_t kCommentLimit = 100;
// What one UCS2 SMS carries.
inline constexpr std::size_t kSmsLimit = 70;
inline constexpr std::string_view kResumeEvent = "Возобновление работы после сбоя"_cp;
inline constexpr std::string_view kStrangerName = "Неизвестный отправитель"_cp;

struct OpenAlarm {
    std::uint64_t id = 0;
    AlarmKind kind = AlarmKind::Intrusion;
    int priority = 0;         // of its kind; 1 is the most urgent
    double openedAt = 0;      // station date-time
    std::string tel;          // the device's number, or "GSM-модем №1"
    std::string shortName;    // empty when the number is no device's
    std::string listName;     // the device's name in the device list
    std::string what;         // the journal text of the alarm

    // Escalation: the numbers the SMS reached, and the failed tries per number.
    std::vector<std::string> escalatedTo;
    struct Tries {
        int failed = 0;
        std::uint64_t retryAfterMs = 0; // desk time
    };
    std::map<std::string, Tries> tries;
    bool delayTold = false; // why escalation waits is in the journal
    std::vector<std::string> heldTold; // numbers whose hourly limit held this row back, journalled

    std::uint64_t openedMs = 0;       // desk time when the desk saw it
    std::uint64_t waitedBeforeMs = 0; // waited before the station's restart

    // Acknowledged from the board: who and when (station date-time).
    bool acked = false;
    std::string ackedBy;
    double ackedAt = 0;

    // This station's own row: its journal and its number there (0: unknown),
    // by which the centre's copy of it is known.
    std::string journal = "main";
    std::uint64_t seq = 0;
    // A row of the centre's shared queue (0: a row of this desk alone): its
    // id there, the receiver that journalled it, the operator holding it.
    long long centreId = 0;
    std::string station;
    std::string takenBy;
};
// "принята <user> <hh:mm>", empty while not acknowledged; a centre row that
// an operator holds: "Принята оператором <user>".
std::string AckText(const OpenAlarm& alarm);

struct EscalationSettings {
    double minutes = 0; // 0: off
    std::vector<std::string> numbers;
};
// The "[Escalation]" texts of "config.ini". What cannot be used is left out
// (a negative or non-numeric time switches escalation off, a number with
// anything but digits and a leading "+" is skipped, blanks are dropped) and
// told in `problems`, one line each for the technological journal.
EscalationSettings ParseEscalation(std::string_view minutes, std::string_view numbers,
                                   std::vector<std::string>& problems);

// "m:ss"; minutes go past 59.
std::string WaitText(std::uint64_t seconds);
// A comment as it goes into the journal: line breaks and tabs as blanks, at
// most kCommentLimit bytes, blanks around it dropped.
std::string CleanComment(std::string_view comment);
// "Обработано: <result>. <comment> (оператор <user>, ждала <m:ss>)", within a
// journal's 200 bytes (the comment gives way first).
std::string HandledEvent(std::string_view result, std::string_view comment, std::string_view user,
                         std::uint64_t waitedSeconds);
// "Не обработано: <what> (оператор <user>, ждала <m:ss>)"; "без оператора"
// when nobody is logged in.
std::string UnhandledEvent(std::string_view what, std::string_view user, std::uint64_t waitedSeconds);
// "Korvalen: тревога <short name> <hh:mm> (<what>) не обработана", at most
// kSmsLimit characters: <what> gives way first, cut after a whole word with
// "…" or left out; a name is cut only when it cannot fit by itself.
std::string EscalationText(const OpenAlarm& alarm);
// The same with <what> and the name whole, for a modem that sends long texts.
std::string EscalationWholeText(const OpenAlarm& alarm);
// "Системное время изменено: было <time>, стало <time>", with the dates when
// the step crossed midnight.
std::string ClockStepText(const ClockStepDetector::Step& step);

// What the desk needs of the station.
class IDeskStation {
public:
    virtual ~IDeskStation() = default;
    // A row of the main journal (RecordEvent: the short name follows the number).
    virtual void Journal(std::string_view status, const std::string& tel, const std::string& event, double now) = 0;
    virtual void Techno(const std::string& text, Rgb colour) = 0;
    // StationContext::SendUcs2Sms.
    // `oneSmsText`: the text's form within one SMS, for a modem that cannot send more.
    virtual bool SendSms(const std::string& number, const std::string& text, const std::string& oneSmsText,
                         std::function<void(bool sent)> outcome) = 0;
    virtual bool Modem1Running() = 0;
    // The register: empty when the number is no device's.
    virtual std::string ShortName(const std::string& tel) = 0;
    virtual std::string ListName(const std::string& tel) = 0;
    // Whether the centre's database holds that row of this station's journal:
    // its alarm is then the centre's to escalate.
    virtual bool InCentre(const std::string& journal, std::uint64_t seq)
    {
        (void)journal;
        (void)seq;
        return false;
    }
    // This desk's own alarm reached its first escalation number, or was
    // handled (`rowSeq`: its "Обработка" row in the main journal): a centre
    // that did not have its row then learns it with the row.
    virtual void Escalated(const OpenAlarm& alarm, double at)
    {
        (void)alarm;
        (void)at;
    }
    virtual void Handled(const OpenAlarm& alarm, std::uint64_t rowSeq, std::string_view result,
                         std::string_view comment, const std::string& user, double at)
    {
        (void)alarm, (void)rowSeq, (void)result, (void)comment, (void)user, (void)at;
    }
    // A centre alarm closed by this desk: its "Обработка" row, as the centre
    // has it, goes into this station's own journal too, once.
    virtual void CentreHandled(const centre::ClosedRow& row) { (void)row; }
    // The number of the row journalled last in the main or the ring journal; 0 when unknown.
    virtual std::uint64_t LastRowSeq(bool ring)
    {
        (void)ring;
        return 0;
    }
};

class AlarmDesk {
public:
    // The record of a monitoring run, beside the tables: written when modem 1
    // starts, kept up to date with the open rows, removed by the clean close.
    // Found at a start, it tells that the last run ended without its close.
    static constexpr const char* kRecordFile = "korvalen.running";
    // A refused escalation SMS is tried again after this, at most kEscalationTries times.
    static constexpr std::uint64_t kRetryMs = 60000;
    static constexpr int kEscalationTries = 3;
    // A send whose outcome never came (a worker stopped under it) is given up.
    static constexpr std::uint64_t kSendGiveUpMs = 120000;
    // A responder's phone is not flooded: at most this many escalation SMS
    // per number in any hour (sliding); the rest wait with their rows.
    static constexpr std::size_t kSmsPerHour = 10;
    static constexpr std::uint64_t kHourMs = 3600000;

    AlarmDesk(IDeskStation& station, IClock& clock);
    ~AlarmDesk();
    AlarmDesk(const AlarmDesk&) = delete;
    AlarmDesk& operator=(const AlarmDesk&) = delete;

    // Tests put a virtual clock here; rows opened since keep their waits.
    void SetClock(IClock& clock);

    // A report's alarm, after its row was journalled: `what` is the row's
    // text, `shortName` empty for a number of no device. A stranger's number
    // is one row until handled, whatever it sends, and never escalated.
    void Reported(AlarmKind kind, const std::string& tel, const std::string& what, const std::string& shortName);
    // A ring-round call failed for good. A device whose failure or silence is
    // still open gets it into that row (how many more, the last when), not a
    // row of its own.
    void RingRoundFailed(const std::string& tel, const std::string& what);
    // Modem 1 did not answer: one row per loss, however many time-outs follow,
    // until LinkRestored ends the loss.
    void LinkLost();
    // Modem 1 answers again: the loss's open row says when, and stays.
    void LinkRestored();
    // The device of that number has not been heard for longer than its
    // supervision time: journalled and opened, "Нет связи с объектом" and
    // `detail` after it. False when a row of its silence is still open.
    bool DeviceSilent(const std::string& tel, const std::string& detail);
    // The silent device was heard again: its open row says when, and stays
    // for the operator.
    void DeviceHeard(const std::string& tel);

    // One row handled by `user`; false when it is no longer open.
    bool Handle(std::uint64_t id, std::string_view result, std::string_view comment, const std::string& user);
    // The tile of that short name was selected: its rows not yet acknowledged
    // are, journalled "Принята с табло"; they stay open. Returns how many.
    int AcknowledgeDevice(const std::string& shortName, const std::string& user);
    // Every open row of that device handled with one result (the operator chose so).
    int HandleDevice(const std::string& shortName, std::string_view result, std::string_view comment,
                     const std::string& user);
    // The open rows of that device (none for an empty or blank name).
    std::vector<std::uint64_t> RowsOfDevice(const std::string& shortName) const;
    // Every open row journalled "Не обработано" (a logout, the station's end);
    // the rows stay open for whoever comes next.
    void LeftOpen(const std::string& user);
    // The list emptied without a word (the station has ended).
    void Clear();

    // The centre's queue as the desk's feed read it: every alarm not closed,
    // of every station. Its rows replace the centre rows shown before; a
    // centre row of this station (`thisStation`) stands in for the local row
    // it copies, which leaves the desk. A centre row that is gone was closed
    // at some desk. Centre rows are handled through the centre's queue, and
    // neither escalated nor recorded here.
    void SetCentreAlarms(const std::vector<centre::CentreAlarm>& alarms, const std::string& thisStation);
    // The centre's alarms this receiver claimed for escalation: each goes by
    // SMS to every escalation number as a row of its own would, and is not shown.
    void EscalateClaimed(const std::vector<centre::CentreAlarm>& claimed);
    // The centre row closed by this desk: gone at once, ahead of the feed;
    // `row` (the close's "Обработка" row) journalled here too.
    void CentreRowClosed(long long centreId, const centre::ClosedRow* row = nullptr);

    // Every second: escalation, and a step of the wall clock told in the
    // technological journal (waits run on the monotonic clock regardless).
    void Tick();
    // The "[Escalation]" texts; parsed (and problems told) when they change.
    void SetEscalation(const std::string& minutesText, const std::string& numbersText);
    const EscalationSettings& Escalation() const { return m_escalation; }

    const std::vector<OpenAlarm>& Rows() const { return m_rows; } // oldest first
    // The open rows as the operator takes them: the most urgent first, the
    // oldest first within a priority.
    std::vector<const OpenAlarm*> Queue() const;
    // The kinds' priorities; rows already open take them too.
    void SetPriorities(const AlarmPriorities& priorities);
    // The most urgent priority among the rows nobody has acknowledged; 0 when none.
    int SoundingPriority() const;
    const OpenAlarm* Find(std::uint64_t id) const;
    std::uint64_t WaitedSeconds(const OpenAlarm& alarm) const;
    bool LinkDown() const { return m_linkDown; }
    bool AnyOpen() const { return !m_rows.empty(); }
    // Rows nobody has acknowledged yet: these sound.
    bool AnyUnacknowledged() const;

    // After every change of the rows; `opened` when a new alarm came.
    std::function<void(bool opened)> OnChanged;
    // Every open row of that device is acknowledged or handled: its tile stops blinking.
    std::function<void(const std::string& shortName)> OnAcknowledged;

    // The record file, in the working folder beside the tables.
    void StartRecord();
    void EndRecord();
    // The open rows of a record: the rows put back, with their waits; damaged
    // lines are skipped. Returns how many came back. The centre's alarms whose
    // escalation this desk had begun go on to the numbers not yet reached.
    int Restore(std::string_view record);
    std::string RecordText() const;
    // The start after a run that ended without its close: "Возобновление
    // работы после сбоя" is journalled and the rows of its record come back.
    int Resume(std::string_view record);

private:
    OpenAlarm& Open(AlarmKind kind, const std::string& tel, const std::string& what, std::string shortName);
    void Changed(bool opened);
    // Rows of these devices left the desk: a tile with nothing unacknowledged stops blinking.
    void Calmed(std::vector<std::string> devices);
    void Escalate();
    // One row's next escalation SMS; false when it has none to send now.
    bool EscalateRow(OpenAlarm& row, std::uint64_t now);
    // A row of the centre's alarm, with a new id and the wait it had before.
    OpenAlarm FromCentre(const centre::CentreAlarm& alarm);
    // Every escalation number reached or given up.
    bool EscalationDone(const OpenAlarm& alarm) const;
    // A row of the record: `fields` its number, short name, list name, text
    // and the numbers it reached.
    OpenAlarm RecordedRow(AlarmKind kind, double openedAt, const std::vector<std::string_view>& fields, double now);
    void SendOutcome(std::uint64_t serial, bool sent);
    // Sends to that number within the last hour, the older ones forgotten.
    std::size_t SentLastHour(const std::string& number, std::uint64_t now);
    std::uint64_t DeskMs() const;

    IDeskStation& m_station;
    IClock* m_clock;
    std::vector<OpenAlarm> m_rows;
    std::vector<OpenAlarm> m_claimed; // the centre's, escalated from here
    AlarmPriorities m_priorities;
    std::uint64_t m_nextId = 1;
    bool m_linkDown = false;

    std::string m_minutesText, m_numbersText;
    bool m_settingsRead = false;
    EscalationSettings m_escalation;
    struct Sending {
        std::uint64_t serial = 0; // an outcome of an earlier send is not this one's
        std::uint64_t id = 0;
        std::string number, text;
        std::uint64_t sinceMs = 0;
    };
    std::optional<Sending> m_sending;
    // Desk times of the escalation SMS that may have gone, per number.
    std::map<std::string, std::deque<std::uint64_t>> m_sentAt;
    std::uint64_t m_sendSerial = 0;
    // Desk time: milliseconds on the clock, carried on across a change of
    // clock and across the clock's 32-bit elapsed times.
    mutable std::uint64_t m_clockBase = 0;
    mutable std::uint64_t m_clockStart = 0;

    ClockStepDetector m_clockStep;

    bool m_recording = false;
    // Outcomes of sends come back later; they reach the desk only while it lives.
    std::shared_ptr<AlarmDesk*> m_self;
};

} // namespace kv
