#pragma once
// The narrow interface through which the modem workers reach the rest of the
// station. The station's core implements every call that touches a table or a
// window by running it on the UI thread (Synchronize) and returning when it
// has run; tests implement it with a recorder. All texts are code page 1251 bytes.
#include "codec/Sound.h"
#include "data/Rgb.h"
#include "modem/Report.h"

#include <cstdint>
#include <string>

namespace kv {

// How far a row got: synced to disk, or only into the journal (its log entry
// is not on disk yet; the journal goes on writing it, and tells by its tag).
enum class JournalWrite { Durable, Written };
// What the journal knows of the row logged under a tag.
enum class JournalState { Unknown, Pending, Durable };
// What a ring-round row tells of its device beyond the journal.
enum class RingOutcome { None, Answered, Failed };

class IModemHost {
public:
    virtual ~IModemHost() = default;

    // Journals: RecordEvent on EventsTable / DialEventsTable.
    virtual void WriteEvent(const std::string& status, const std::string& tel, const std::string& event) = 0;
    // Failed: the call failed for good (the device's tile is told, an alarm opens).
    virtual void WriteDialEvent(const std::string& status, const std::string& tel, const std::string& event,
                                RingOutcome outcome = RingOutcome::None) = 0;
    // A report, handed over once: its technological lines, its tile states and
    // its journal row with `tag` on the row's log entry (none when empty), and
    // the alarm it opens; then a wait, on the caller's thread, until that entry
    // is on disk. Throws when the row could not be written. Anything but
    // Durable: what the row stands for must be kept (a message stays in the
    // SIM) until JournalStateOf(tag) says Durable.
    virtual JournalWrite HandOver(const Report& report, const std::string& tag) = 0;
    // Whether the row written with `tag` is on disk, in the journal but not yet
    // on disk, or unknown (never written, or its tag forgotten). Kept across restarts.
    virtual JournalState JournalStateOf(const std::string& tag) = 0;
    // What the tag stands for is gone (the message left the SIM).
    virtual void ForgetJournalTag(const std::string& tag) = 0;
    // One time-stamped line of the technological journal.
    virtual void WriteTechno(const std::string& text, Rgb colour) = 0;

    // Modem 1: Edit4 and Image1. Modem 2: Edit8 and Image3.
    virtual void ShowSignalLevel(double level) = 0;
    virtual void ShowSignalLevel2(double level) = 0;

    // Register lookups; `initial` is what the caller's result starts as.
    virtual std::string FindShortNameByNumber(const std::string& number, const std::string& initial) = 0;
    virtual std::string FindNumberByShortName(const std::string& shortName, const std::string& initial) = 0;

    // Controls of other windows.
    virtual void SetCommandButtonsEnabled(bool enabled) = 0; // device card command group
    // Device card StatusEdit: the result of a command to the device with that
    // number, shown on its card; an empty number: the card on show.
    virtual void SetStatusEdit(const std::string& number, const std::string& text) = 0;
    virtual void SetLinkText(const std::string& text) = 0;   // modem window Edit5
    virtual void AddBalanceLine(const std::string& text) = 0; // modem window BalanceInfo
    virtual std::string BalanceNumber() = 0;                 // modem window BalanceNumber
    virtual void SetDialStatus(const std::string& text) = 0; // main window DialStatus
    virtual void SetDialNumber(const std::string& text) = 0; // main window DialNumber

    // Modem 1 went silent: enable the command group, sound the alarm, show the
    // link-lost alert (not modal), open the desk's row of the loss.
    virtual void ShowLinkLost() = 0;
    // Modem 1 answers again after a loss: the desk's row of the loss says when.
    virtual void LinkRestored() = 0;
    // Warning box with an OK button; returns once it has been dismissed.
    virtual void ShowWarning(const std::string& text) = 0;
    // Asynchronous: returns at once.
    virtual void PlaySound(Sound sound) = 0;
};

// The register's short name of that number; empty when it is no device's
// (the register answers eight blanks then).
inline std::string ShortNameOf(IModemHost& host, const std::string& number)
{
    std::string name = host.FindShortNameByNumber(number, std::string());
    return name.find_first_not_of(' ') == std::string::npos ? std::string() : name;
}

} // namespace kv
