#pragma once
// An IModemHost that records every call in order and answers the register
// lookups from a small table, the way the register answers them: the first
// device with the number gives its short name; eight blanks when the register
// holds devices but none has it; the caller's value when it is empty.
#include "modem/ModemHost.h"
#include "tests/support/CallLog.h"

#include <map>
#include <optional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace kv::test {

struct TechnoLine {
    std::string text;
    Rgb colour;
};

struct EventRow {
    std::string status, tel, event;
    friend bool operator==(const EventRow&, const EventRow&) = default;
};

class RecordingHost final : public IModemHost {
public:
    // Records into `log` when given (shared with a FakePort for one ordered
    // record), otherwise into a log of its own.
    explicit RecordingHost(CallLog* log = nullptr) : m_log(log ? log : &m_ownLog) {}

    void AddDevice(std::string number, std::string shortName);
    // How HandOver ends from now on: the row on disk (the default),
    // logged but not yet on disk (its tag pending), or a failure (nothing: it
    // throws after recording).
    void SetJournalWrite(std::optional<JournalWrite> result);
    // A later sync covers every pending row: their tags become durable.
    void SettlePending();
    void SetBalanceNumberText(std::string text);
    // The next call whose log kind is `kind` ("techno", "event", ...) throws.
    void FailNext(std::string kind);

    const CallLog& Log() const { return *m_log; }
    std::vector<std::string> Calls() const { return m_log->Texts(); }
    std::vector<TechnoLine> Techno() const;
    std::vector<EventRow> Events() const;
    std::vector<EventRow> DialEvents() const;
    std::vector<Report> Reports() const;
    // Payloads of one kind of call, e.g. Of("guard") -> {"Obj1 3"}.
    std::vector<std::string> Of(const std::string& kind) const { return m_log->Kind(kind); }

    static std::string ColourName(Rgb colour);

    void WriteEvent(const std::string& status, const std::string& tel, const std::string& event) override;
    // Records "dialevent ..."; a final failure then "info <short name> 9".
    void WriteDialEvent(const std::string& status, const std::string& tel, const std::string& event,
                        RingOutcome outcome = RingOutcome::None) override;
    // Records its technological lines, "guard", "info" (and "alarmmark" for
    // a warning) of its short name, then "event ..." and "synced" when the row
    // is on disk (an alarm call is not waited for); "eventfailed ..." when the
    // journal fails. A line or tile that fails costs its own part only.
    JournalWrite HandOver(const Report& report, const std::string& tag) override;
    JournalState JournalStateOf(const std::string& tag) override;
    void ForgetJournalTag(const std::string& tag) override;
    void WriteTechno(const std::string& text, Rgb colour) override;
    void ShowSignalLevel(double level) override;
    void ShowSignalLevel2(double level) override;
    std::string FindShortNameByNumber(const std::string& number, const std::string& initial) override;
    std::string FindNumberByShortName(const std::string& shortName, const std::string& initial) override;
    void SetCommandButtonsEnabled(bool enabled) override;
    // Recorded as "statusedit <text>", or "statusedit <number> | <text>".
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

private:
    void Record(const std::string& kind, const std::string& payload, bool hasPayload = true);

    CallLog m_ownLog;
    CallLog* m_log;
    mutable std::mutex m_lock;
    std::vector<std::pair<std::string, std::string>> m_devices; // number, short name
    std::string m_balanceNumber = "*100#";
    std::multiset<std::string> m_failNext;
    std::vector<TechnoLine> m_techno;
    std::vector<EventRow> m_events;
    std::map<std::string, JournalState> m_tags;
    std::optional<JournalWrite> m_journalWrite = JournalWrite::Durable;
    std::vector<EventRow> m_dialEvents;
    std::vector<Report> m_reports;
};

} // namespace kv::test
