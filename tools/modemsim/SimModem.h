#pragma once
// One simulated GSM modem in SMS text or PDU mode, driven by the bytes the station writes
// and by the time its owner passes in. It never reads a clock, sleeps or touches a
// descriptor: the host (a poll loop over a pseudo-terminal, or a test) feeds it
// bytes, advances it and takes the output that has become due. Where real modems
// differ it answers as its family (Family.h) does.
#include "codec/SmsPdu.h"
#include "tools/modemsim/Family.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace kv::modemsim {

// Monotonic milliseconds; only differences matter.
using Millis = std::int64_t;

// How the far end of an ATD call answers, after the rule's delay: busy, the
// network's NO CARRIER, nobody picks up, no dial tone, picked up, or never a word.
enum class DialAnswer { Busy, NoCarrier, NoAnswer, NoDialtone, Answer, Never };

// How an ATD call is answered, after a delay drawn between min and max.
struct DialRule {
    DialAnswer answer = DialAnswer::Busy;
    Millis minDelay = 3000;
    Millis maxDelay = 3000;
};

struct ModemOptions {
    // Each reply follows its command after a delay drawn from this range.
    Millis replyDelayMin = 10;
    Millis replyDelayMax = 50;
    // Gap between bytes while replies are split.
    Millis splitGap = 3;
    Millis ringPeriod = 5000;
    Millis ussdDelay = 1000;
    // A family that sends unsolicited codes a moment late holds them this long.
    Millis urcHold = 250;
    // The network tries a message again this long after the full SIM has room.
    Millis networkRetry = 1000;
    // Harmless unsolicited codes come this far apart while noise is on.
    Millis noiseMin = 3000;
    Millis noiseMax = 15000;
    const Family* family = nullptr; // the default family when null
    std::uint32_t seed = 1;
    // Service-centre time stamp of a message stored now, "yy/MM/dd,hh:mm:ss+12";
    // the local time when empty.
    std::function<std::string()> stampNow;
};

struct StoredSms {
    Medium medium = Medium::Sim;
    int index = 0;
    std::string status; // "REC UNREAD", "REC READ", "STO UNSENT", "STO SENT"
    std::string number; // UTF-8
    std::string text;   // UTF-8
    std::string stamp;
    // How the network coded it: 7-bit when the alphabet holds the text.
    kv::sms::Coding coding = kv::sms::Coding::Gsm7;
    // One part of a concatenated message: its header.
    std::optional<kv::sms::Concat> part;
};

// A message the station sent with AT+CMGS, as the modem understood it.
struct SentSms {
    int reference = 0;
    std::string charset; // the character set in force: "UCS2", "IRA" or "GSM"; "PDU" in PDU mode
    std::string number;  // decoded to UTF-8 in UCS2 or PDU mode, else the bytes sent
    std::string text;
    std::optional<kv::sms::Concat> part; // a part of a concatenated send
};

// A call the station placed with ATD; outcome "dialling" while it lasts, then
// "busy", "no answer", "no dialtone", "answered", "hung up" (ATH), "no carrier"
// (the far end or the network ended it) or "lost" (unplugged).
struct CallRecord {
    std::string number;
    std::string outcome;
};

// Where a message from the network went: into the receiving memory at `index`,
// or (the memory being full) into the network's queue, to be stored when it has room.
struct Delivery {
    bool stored = false;
    int index = 0;
};

// The next USSD answer refused: "+CUSD: 4", or "+CME ERROR: 132" after the OK.
enum class UssdRefusal { None, Cusd4, Cme132 };

class SimModem {
public:
    // Longer command lines or SMS texts are dropped and answered with ERROR.
    static constexpr size_t kMaxLine = 4096;
    // Output beyond this backlog is dropped, as a modem's own buffer would overflow.
    static constexpr size_t kMaxBacklog = 1 << 20;
    // Messages the network keeps for a full SIM; beyond them it gives up.
    static constexpr size_t kMaxWaiting = 100000;

    explicit SimModem(ModemOptions options = {});

    // --- station side ---
    void Receive(std::string_view bytes, Millis now);
    // Runs the timers that are due (RING repeats, BUSY, USSD answers).
    void Advance(Millis now);
    // Output bytes due by `now`, at most `maxBytes`.
    std::string TakeOutput(Millis now, size_t maxBytes = SIZE_MAX);
    std::optional<Millis> NextTimer() const;
    std::optional<Millis> NextOutput() const;
    bool Plugged() const { return m_plugged; }
    // A pulled modem: queued output, timers and calls are lost.
    void Unplug();
    // Plugged in again: the dialogue starts from power-on (echo on, PDU mode,
    // GSM character set); the SIM and the settings made by control commands stay.
    void PlugIn();

    // --- control side ---
    // Stores an unread message at the lowest free index of the receiving memory
    // and announces it as new-message indications are set; when the memory is
    // full the message waits at the network and comes when a message is deleted.
    Delivery StoreSms(std::string number, std::string text);
    // One part of a concatenated message, stored as StoreSms does; 7-bit when
    // `coding` is not given and the alphabet holds the text.
    Delivery StorePart(std::string number, std::string text, std::optional<kv::sms::Coding> coding,
                       kv::sms::Concat concat);
    // A text that needs several SMS, split as a sender's phone does (7-bit when
    // `coding` is not given and the alphabet holds it), the reference the next
    // of this modem's own when not given. The parts are stored in `order` (part
    // numbers from 1; a number twice is a part the network delivered twice, a
    // number left out one that never came), in part order when it is empty.
    // Nothing when a number of `order` is no part of the split text.
    std::optional<std::vector<Delivery>> StoreLongSms(std::string number, std::string text,
                                                      std::optional<kv::sms::Coding> coding, bool wideReference,
                                                      std::optional<unsigned> reference, const std::vector<int>& order);
    void Ring(std::string number, Millis now);
    // The far end hangs up: "NO CARRIER", and the calls (only those with `number`
    // when given) end. False when there was no such call.
    bool FarEndHangsUp(Millis now, std::string_view number = {});
    void SetDialRule(DialRule rule) { m_defaultRule = rule; }
    void SetDialRule(const std::string& number, DialRule rule) { m_numberRules[number] = rule; }
    void FailNext() { m_failNext = true; }
    void SetFailAll(bool on) { m_failAll = on; }
    void Inject(std::string_view bytes, Millis now);
    void Flood(std::uint64_t count, Millis now);
    void SetSplit(bool on) { m_split = on; }
    void TruncateNext() { m_truncateNext = true; }
    void SetSilent(bool on);
    void SetEcho(bool on) { m_echo = on; }
    void SetSignal(int level) { m_signal = level; }
    void SetBalance(std::string text) { m_balance = std::move(text); }
    void RefuseNextUssd(UssdRefusal refusal) { m_ussdRefusal = refusal; }
    // An unsolicited line (without its CR LF), sent at the next moment the family lets it.
    void InjectUrc(std::string_view line, Millis now);
    // An unsolicited line between the next read or listed message's header and
    // its body, framed as a code is, as a modem that sends its codes at any
    // moment may put it. Once.
    void InjectUrcInBody(std::string line) { m_urcInBody = std::move(line); }
    // Harmless unsolicited codes of the family at random moments.
    void SetNoise(bool on, Millis now);
    // Off: a modem without new-message indications (AT+CNMI is refused).
    void SetIndications(bool on) { m_indications = on; }
    // A phonebook entry: its name stands in the alpha of messages and calls.
    void SetContact(std::string number, std::string name) { m_contacts[std::move(number)] = std::move(name); }
    // The family this modem answers as from its next power-on.
    void SetNextFamily(const Family& family) { m_nextFamily = &family; }
    const Family& CurrentFamily() const { return *m_family; }
    const Family& NextFamily() const { return *m_nextFamily; }

    // Stored messages, SIM first then the modem's own memory, by index.
    std::vector<StoredSms> Messages() const;
    // Messages waiting at the network for room: number and text.
    std::vector<std::pair<std::string, std::string>> Waiting() const;
    // The settings of the dialogue as lines "name value" (family, echo, cmgf, cscs,
    // cmee, cnmi, cpms, clip, crc, csdh), and the control switches.
    std::vector<std::string> Settings() const;
    // Lines the station sent since the last call, escaped, each ending at "\r",
    // Ctrl-Z or ESC; a USSD request is followed by a line "ussd: <decoded text>".
    std::vector<std::string> TakeSentLines();
    const std::vector<CallRecord>& Calls() const { return m_callRecords; }
    const std::vector<SentSms>& Outbox() const { return m_outbox; }
    // The texts sent: the parts of a concatenated send joined in part order
    // once every part has come (by number, reference and total); a set still
    // missing a part stays as its parts.
    std::vector<SentSms> SentTexts() const;
    // A stored message as PDU mode lists it: the service centre's address and the SMS-DELIVER, in hex.
    std::string PduOf(const StoredSms& sms) const;
    // Numbers of the incoming calls that are still ringing.
    std::vector<std::string> RingingCalls() const;
    bool Echo() const { return m_echo; }
    const std::string& Charset() const { return m_charset; }

private:
    struct Chunk {
        Millis due = 0;
        std::string bytes;
        std::uint64_t flood = 0; // pseudo-random bytes still to produce
        bool pieceStart = true;  // an unsolicited code may go in front of this chunk
    };
    enum class TimerKind { Ring, DialVerdict, UssdAnswer, NetworkRetry, UrcRelease, Noise };
    struct Timer {
        Millis due = 0;
        std::uint64_t order = 0;
        TimerKind kind = TimerKind::Ring;
        int callId = 0;
    };
    struct Call {
        int id = 0;
        bool incoming = true;
        bool active = false; // answered (incoming) or connected
        std::string number;
        size_t record = 0; // index into m_callRecords for outgoing calls
    };
    struct Slot {
        bool used = false;
        StoredSms sms;
        std::optional<Millis> announced; // when its +CMTI was made
        bool earlyRefused = false;
    };
    struct Waiter {
        std::string number, text, stamp;
        kv::sms::Coding coding = kv::sms::Coding::Gsm7;
        std::optional<kv::sms::Concat> part;
    };

    void HandleCommandByte(char c);
    void HandlePromptByte(char c);
    void RecordSent(char c);
    void ExecuteLine(const std::string& line);
    void Execute(const std::string& body, const std::string& upper);
    void SubmitSms();

    void CmdCharset(const std::string& upper);
    void CmdErrorMode(const std::string& upper);
    void CmdIndications(const std::string& upper);
    void CmdStorage(const std::string& upper);
    void CmdReadSms(const std::string& upper);
    void CmdListSms(const std::string& body);
    void CmdDeleteSms(const std::string& upper);
    void CmdSendSms(const std::string& body);
    void CmdDial(const std::string& body);
    void CmdAnswer();
    void CmdHangUp();
    void CmdListCalls();
    void CmdUssd(const std::string& body);
    void CmdSwitch(const std::string& upper, std::string_view name, bool& setting);

    // Output. Final results end the command in flight; codes held for it follow.
    void Emit(std::string bytes);
    void Final(std::string bytes);
    void Ok() { Final("\r\nOK\r\n"); }
    void Error() { Final("\r\nERROR\r\n"); }
    void CmsError(int code);
    void CmeError(int code);
    std::string CmeLine(int code) const;
    // An unsolicited line; `indication`: governed by AT+CNMI.
    void Unsolicited(const std::string& line, bool indication = false);
    void Deliver(std::string bytes);
    void ReleaseHeld();
    void ReleaseBeforeEcho(bool inFrontOfEcho);
    bool InFlight() const;
    void FlushEcho();
    void Enqueue(std::string bytes, Millis due, bool splittable);
    void InsertNow(std::string bytes);
    std::string Frame(std::string bytes) const;
    void AddTimer(TimerKind kind, Millis due, int callId);
    void CancelTimers(int callId);
    void RemoveTimers(TimerKind kind);
    bool HasTimer(TimerKind kind) const;
    void EndCall(int callId, const char* outcome);
    void DialVerdict(int callId);
    void EndDialInFlight();
    void UssdAnswer();
    Millis Draw(Millis lo, Millis hi);
    std::string StampNow() const;

    // Family forms.
    std::string Join(const std::vector<std::string>& fields) const;
    std::string Quoted(std::string_view utf8) const; // in the character set in force
    std::string NumberField(const std::string& number, bool hex) const;
    std::string AlphaOf(const std::string& number, EmptyAlpha empty) const;
    std::string StampField(const std::string& stamp) const;
    // `list`: the +CMGL form (AT+CSDH=1 adds only <tooa> and <length> there).
    std::string MessageHeader(const StoredSms& sms, bool list = false) const;
    // PDU mode: "<stat>,[<alpha>],<length>" and the PDU.
    std::string PduHeader(const StoredSms& sms) const;
    Delivery Arrive(Waiter message);
    std::string MessageBody(const StoredSms& sms) const;
    std::string ModemText(std::string_view utf8) const;
    std::optional<std::string> StationText(std::string_view bytes) const;
    // The code of InjectUrcInBody with its line ends, or nothing; taken once.
    std::string TakeUrcInBody();

    // Memories.
    std::vector<Slot>& Store(Medium medium) { return medium == Medium::Sim ? m_sim : m_phone; }
    const std::vector<Slot>& Store(Medium medium) const { return medium == Medium::Sim ? m_sim : m_phone; }
    std::optional<Medium> MediumOf(std::string_view storage) const;
    Medium Memory(int which) const; // 0 read, 1 write, 2 receive
    int Used(Medium medium) const;
    // The index it took (0: routed to the line unstored); nothing when there is no room.
    std::optional<int> StoreIncoming(const Waiter& message);
    void RetryNetwork();
    void Rehome();

    void PowerOn();

    ModemOptions m_options;
    std::mt19937 m_rng;
    Millis m_now = 0;
    bool m_plugged = true;
    const Family* m_family;
    const Family* m_nextFamily;

    // Dialogue state, reset at power-on.
    bool m_echo = true;
    bool m_textMode = false;
    std::string m_charset = "GSM";
    int m_cmee = 0;
    int m_cnmi[5] = {0, 0, 0, 0, 0};
    bool m_clip = false;
    bool m_crc = false;
    bool m_csdh = false;
    std::string m_mem[3];
    bool m_prompt = false;
    std::string m_line;
    std::string m_lineEcho; // the line as it was typed, for a second echo
    bool m_lineOverflow = false;
    std::string m_smsNumber;
    std::string m_smsText;
    bool m_smsOverflow = false;
    int m_smsPduLength = -1; // AT+CMGS=<length> in PDU mode; -1 in text mode
    std::string m_echoPending;
    int m_dialInFlight = 0; // the call whose ATD awaits its final result
    bool m_ussdInFlight = false;
    std::vector<std::string> m_held;       // codes waiting for a final result
    std::vector<std::string> m_beforeEcho; // codes held a moment (they may precede an echo)
    std::vector<std::string> m_modemBuffer; // indications kept while AT+CNMI mode is 0

    // Control settings.
    bool m_failNext = false;
    bool m_failAll = false;
    bool m_truncateNext = false;
    std::optional<std::string> m_urcInBody;
    bool m_split = false;
    bool m_silent = false;
    bool m_noise = false;
    bool m_indications = true;
    int m_signal = 21;
    std::string m_balance;
    UssdRefusal m_ussdRefusal = UssdRefusal::None;
    UssdRefusal m_ussdPending = UssdRefusal::None; // the refusal of the request under way
    DialRule m_defaultRule;
    std::map<std::string, DialRule> m_numberRules;
    std::map<std::string, std::string> m_contacts;

    std::vector<Slot> m_sim;
    std::vector<Slot> m_phone;
    std::deque<Waiter> m_network;
    int m_nextReference = 1;
    unsigned m_nextPartReference = 1; // of the long messages the network brings
    std::vector<SentSms> m_outbox;
    std::vector<CallRecord> m_callRecords;
    std::vector<Call> m_calls;
    int m_nextCallId = 1;
    std::vector<Timer> m_timers;
    std::uint64_t m_timerOrder = 0;
    std::deque<Chunk> m_out;
    size_t m_backlog = 0;

    std::string m_sentPartial;
    std::deque<std::string> m_sentLines;
};

} // namespace kv::modemsim
