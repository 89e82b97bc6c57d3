#pragma once
// One simulated GSM modem in SMS text mode, driven by the bytes the station writes
// and by the time its owner passes in. It never reads a clock, sleeps or touches a
// descriptor: the host (a poll loop over a pseudo-terminal, or a test) feeds it
// bytes, advances it and takes the output that has become due.
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

enum class DialAnswer { Busy, Never };

// How an ATD call is answered: BUSY after a delay drawn between min and max, or nothing.
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
    std::uint32_t seed = 1;
    // Service-centre time stamp of a message stored now, "yy/MM/dd,hh:mm:ss+12";
    // the local time when empty.
    std::function<std::string()> stampNow;
};

struct StoredSms {
    int index = 0;
    std::string status; // "REC UNREAD", "REC READ", "STO UNSENT", "STO SENT"
    std::string number; // UTF-8
    std::string text;   // UTF-8
    std::string stamp;
};

// A message the station sent with AT+CMGS, as the modem understood it.
struct SentSms {
    int reference = 0;
    std::string charset; // the character set in force: "UCS2", "IRA" or "GSM"
    std::string number;  // decoded to UTF-8 in UCS2 mode, else the bytes sent
    std::string text;
};

// A call the station placed with ATD; outcome "dialling" while it lasts, then
// "busy", "hung up" (ATH), "no carrier" (the far end hung up) or "lost" (unplugged).
struct CallRecord {
    std::string number;
    std::string outcome;
};

class SimModem {
public:
    static constexpr int kSimSlots = 25;
    // Longer command lines or SMS texts are dropped and answered with ERROR.
    static constexpr size_t kMaxLine = 4096;
    // Output beyond this backlog is dropped, as a modem's own buffer would overflow.
    static constexpr size_t kMaxBacklog = 1 << 20;

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
    // Stores an unread message at the lowest free index; nothing when the SIM is full.
    std::optional<int> StoreSms(std::string number, std::string text);
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

    std::vector<StoredSms> Messages() const;
    // Lines the station sent since the last call, escaped, each ending at "\r",
    // Ctrl-Z or ESC; a USSD request is followed by a line "ussd: <decoded text>".
    std::vector<std::string> TakeSentLines();
    const std::vector<CallRecord>& Calls() const { return m_callRecords; }
    const std::vector<SentSms>& Outbox() const { return m_outbox; }
    // Numbers of the incoming calls that are still ringing.
    std::vector<std::string> RingingCalls() const;
    bool Echo() const { return m_echo; }
    const std::string& Charset() const { return m_charset; }

private:
    struct Chunk {
        Millis due = 0;
        std::string bytes;
        std::uint64_t flood = 0; // pseudo-random bytes still to produce
    };
    enum class TimerKind { Ring, DialVerdict, UssdAnswer };
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
    };

    void HandleCommandByte(char c);
    void HandlePromptByte(char c);
    void RecordSent(char c);
    void ExecuteLine(const std::string& line);
    void Execute(const std::string& body, const std::string& upper);
    void SubmitSms();

    void CmdCharset(const std::string& upper);
    void CmdReadSms(const std::string& upper);
    void CmdDeleteSms(const std::string& upper);
    void CmdSendSms(const std::string& body);
    void CmdDial(const std::string& body);
    void CmdAnswer();
    void CmdHangUp();
    void CmdListCalls();
    void CmdUssd(const std::string& body);

    void Reply(std::string bytes);
    void Ok() { Reply("\r\nOK\r\n"); }
    void Error() { Reply("\r\nERROR\r\n"); }
    void Unsolicited(std::string bytes);
    void FlushEcho();
    void Enqueue(std::string bytes, Millis due, bool splittable);
    void AddTimer(TimerKind kind, Millis due, int callId);
    void CancelTimers(int callId);
    void EndCall(int callId, const char* outcome);
    Millis Draw(Millis lo, Millis hi);
    std::string StampNow() const;
    std::string ModemText(std::string_view utf8) const;
    std::optional<std::string> StationText(std::string_view bytes) const;
    void PowerOn();

    ModemOptions m_options;
    std::mt19937 m_rng;
    Millis m_now = 0;
    bool m_plugged = true;

    // Dialogue state, reset at power-on.
    bool m_echo = true;
    bool m_textMode = false;
    std::string m_charset = "GSM";
    bool m_prompt = false;
    std::string m_line;
    bool m_lineOverflow = false;
    std::string m_smsNumber;
    std::string m_smsText;
    bool m_smsOverflow = false;
    std::string m_echoPending;

    // Control settings.
    bool m_failNext = false;
    bool m_failAll = false;
    bool m_truncateNext = false;
    bool m_split = false;
    bool m_silent = false;
    int m_signal = 21;
    std::string m_balance;
    DialRule m_defaultRule;
    std::map<std::string, DialRule> m_numberRules;

    Slot m_slots[kSimSlots];
    int m_nextReference = 1;
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
