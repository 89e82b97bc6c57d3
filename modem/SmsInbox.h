#pragma once
// Modem 1's inbox: the messages the SIM holds, read, joined and journalled.
// The worker owns the exchange; it hands the inbox the replies to its memory
// polls, lists, reads and deletes and the new-message codes, and the inbox
// queues the reads and deletes they call for.
//
// Messages are read as PDUs: "AT+CMGF=0" goes in front of each list or read
// and "AT+CMGF=1" after it, so that every other exchange (sends, balance,
// calls) stays in text mode. A text-mode modem can drop the header that links
// the parts of a long message; the PDU always carries it. A modem that refuses
// PDU mode is read in text mode; once a message shows the hex of a header in
// front of its text, with the header fields ("AT+CSDH=1"), whose first octet
// says whether the header is there.
//
// The parts of a long message are kept in a store on disk (SmsPartStore) as
// soon as they are read, and leave the SIM; the whole text is journalled once,
// as one row, when the set is complete, or with what it has after a wait.
#include "data/SmsParts.h"
#include "modem/LineReader.h"
#include "modem/Modem.h"
#include "modem/ModemHost.h"
#include "modem/SmsReader.h"
#include "timing/Clock.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

inline constexpr std::string_view kCmdPduMode = "AT+CMGF=0\r";
inline constexpr std::string_view kCmdHeaderFields = "AT+CSDH=1\r";
inline constexpr std::string_view kCmdListAllPdu = "AT+CMGL=4\r";

// "[Messages] MultipartWaitSeconds" of config.ini and the modem window: a
// whole number of seconds from 10 to a day; nothing for anything else.
std::optional<std::chrono::seconds> MultipartWaitOf(std::string_view text);
// ... the default for anything else (missing, a typo).
std::chrono::seconds MultipartWaitFrom(std::string_view text);

class SmsInbox {
public:
    // How long the parts of an incomplete set are waited for by default.
    static constexpr std::chrono::seconds kDefaultMultipartWait{600};
    // A message announced and not yet readable is read again once after this.
    static constexpr std::uint32_t kReadRetryMs = 500;

    // `partsFile` empty: the parts are kept in memory only.
    SmsInbox(TModem& modem, IModemHost& host, IClock& clock, std::string partsFile);

    void SetMultipartWait(std::chrono::seconds wait)
    {
        m_modem.MultipartWaitSeconds = static_cast<std::uint32_t>(wait.count());
    }

    // ---- replies ----
    void OnMemory(const MemoryState& state);
    void OnList(const std::vector<ModemLine>& lines, bool damaged);
    void OnListRefused(std::string_view command);
    void OnListLost();
    void OnRead(std::string_view command, const std::vector<ModemLine>& lines, bool damaged);
    void OnReadEmpty(std::string_view command);
    void OnReadLost(std::string_view command);
    void OnDeleted(std::string_view command);
    void OnDeleteRefused(std::string_view command, bool error);
    // "+CMTI": a message stored; "+CMT": a message given straight to the station.
    void OnIndication(const ModemLine& line);
    void OnDelivered(const ModemLine& line);

    // ---- the reading mode ----
    void OnPduModeOn();
    void OnPduModeRefused();
    // Whether the modem is known to refuse PDU mode.
    bool PduModeRefused() const { return m_mode == ReadMode::Text; }
    // A send of the worker's own switched the modem back to text mode.
    void OnTextModeAgain() { m_pduNow = false; }
    // Whether a text-mode reply ("AT+CMGF=1" answered) was the switch back
    // after a read, which needs no line in the technological journal.
    bool TakeSwitchBack();
    // The modem was set up again (a restart; a link restore, after which it
    // may be another modem): in text mode, without the header fields.
    void ModemSetUpAgain(bool maybeAnother);

    // Whether a list, a read, the switch to PDU mode or the switch back after
    // a read goes out now.
    // A list may go in another form than it was queued in.
    bool AdmitRead(std::string& line, bool list);
    bool AdmitPduMode();
    bool AdmitSwitchBack();
    // "AT+CSDH=1" answered: taken or refused.
    void OnHeaderFields(bool on);

    // Read retries, and sets that waited long enough or are whole.
    void Tick();

private:
    enum class ReadMode { Unknown, Pdu, Text };
    // A message as read, in either mode.
    struct Received {
        bool readable = false; // a received message with its sender and text
        bool decoded = false;  // its text was read
        std::string sender; // station text
        std::string text;   // station text, without the note
        std::string note;   // follows the text in the row, not classified
        std::optional<SmsSetId> set;
        unsigned part = 0;
        std::string timestamp;
        std::string numberField; // as read, for the line about a damaged message
        std::string body;
        // Shown as text mode shows a part, without what tells it is one: to be read again.
        bool readAgain = false;
    };
    Received FromStored(const StoredMessage& message) const;

    void Techno(std::string_view text, Rgb colour);
    void Guarded(const std::function<void()>& fn);
    bool Queue(std::string_view line);
    bool QueueOnce(std::string_view line);
    void QueueRead(int index);
    void QueueListing();
    void StopListing();
    void ScanStep(int index, bool found);
    void RestoreTextMode();

    void HandleStoredMessage(const Received& message, int index, std::set<std::string>* keys);
    // Whether a message's row (or its part's place in the store) is safe, so
    // that it may leave the SIM.
    bool Keep(const Received& message, int index, const std::string& key);
    bool KeepPart(const Received& message, int index, const std::string& key);
    // Journals one message; true once its row is on disk. `key` names it in
    // the SIM, or its set (none for a message given straight to the station).
    bool JournalMessage(const Received& message, int index, const std::string* key);
    // ... telling a row that is not on disk with `notJournalled`, once.
    bool JournalMessage(const Received& message, int index, const std::string* key, std::string_view notJournalled);
    // Journals a set with the parts it has; true once its row is on disk.
    bool JournalSet(const SmsSetId& id);
    void QueueDelete(int index, const std::string& key);
    void ForgetGone(const std::set<std::string>& inSim);

    TModem& m_modem;
    IModemHost& m_host;
    IClock& m_clock;

    ReadMode m_mode = ReadMode::Unknown;
    bool m_pduNow = false;      // the modem took "AT+CMGF=0" and is not yet back
    enum class HeaderFields { Off, On, Refused };
    HeaderFields m_headerFields = HeaderFields::Off;
    // Where the queue is in a read's three lines (they go together): 2 after
    // the switch to PDU mode, 1 after the read, 0 outside.
    int m_groupStep = 0;
    bool m_switchingBack = false;

    enum class ListForm { Plain, Hex, Unsupported };
    ListForm m_listForm = ListForm::Plain;
    bool m_listing = false; // a list or a scan is queued or under way
    struct Scan {
        int next = 1;
        int found = 0;
        int count = 0;
        int total = 0;
    };
    std::optional<Scan> m_scan;
    MemoryState m_memory;
    std::set<int> m_announced;                  // reads queued for an indication
    std::map<int, std::uint64_t> m_readRetries; // index, when to read it again
    std::set<int> m_retried;
    std::map<int, std::string> m_deleting;      // index, key of the message going
    std::set<std::string> m_journalled;         // keys whose rows are on disk
    std::set<std::string> m_unjournalledTold;   // keys whose failed row was told
    std::set<std::string> m_heldInSim;          // keys whose row was written, not yet on disk

    SmsPartStore m_parts;
    std::map<SmsSetId, std::uint64_t> m_waitingSince; // on the worker's clock
    std::map<SmsSetId, std::uint64_t> m_setTried;     // when its row last failed
    std::optional<std::uint64_t> m_lastSetCheck;
    bool m_partsFailing = false; // told once per failure period
};

} // namespace kv
