#pragma once
// The state of one GSM modem: its command ring, its receive buffer and its flags.
// Two exist, one per modem. The ring-round worker uses only Running and the
// receive buffer of modem 2's object.
#include "timing/Clock.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class TModem {
public:
    static constexpr std::size_t kRingSize = 256;
    // A modem's longest reply (an SMS read, a balance answer) is well under a
    // kilobyte. More than this waiting is line noise or a runaway device: only
    // the newest bytes are kept, so that a flood neither grows the buffer
    // without end nor makes each look at it slow.
    static constexpr std::size_t kRxLimit = 16 * 1024;

    TModem() = default;
    TModem(const TModem&) = delete;
    TModem& operator=(const TModem&) = delete;

    // The worker loops while this is set.
    std::atomic<bool> Running{false};
    // SIM index the next read of a scan through the SIM takes (a modem that
    // cannot list its messages is read index by index, 1 up to its size).
    std::atomic<std::uint16_t> SmsIndex{1};
    // The concatenation reference of the next long message sent.
    std::atomic<unsigned> NextSmsReference{0};
    // An SMS send is under way: the polls are not queued.
    std::atomic<bool> SmsSending{false};
    // A balance request (USSD) is under way: the polls are not queued. Kept here,
    // beside SmsSending, because both gate the same polls of this modem; only
    // modem 1's object uses it.
    std::atomic<bool> UssdPending{false};
    // An exchange ended without any reply; the next memory reply restores the link.
    std::atomic<bool> LinkLost{false};
    // The last character set the worker selected was UCS2. A device command
    // switches modem 1 to the plain set for its SMS; a message read in between
    // would not decode and would be deleted as damaged, so reads wait for UCS2.
    std::atomic<bool> CharsetUcs2{true};
    // How long the parts of an incomplete long message are waited for, in
    // seconds: config.ini and the modem window set it, modem 1's inbox reads it.
    std::atomic<std::uint32_t> MultipartWaitSeconds{600};

    // --- command ring (Commands, QueueIn, QueueOut under one lock) ---
    // Stores the line at QueueIn. False when the ring already holds 255 unsent
    // lines: one more would make QueueIn meet QueueOut and the ring look empty.
    bool PutCommand(std::string line);
    // Stores the lines one after the other, with nothing of anyone else's
    // between them; all or none (false when the ring has no room for all).
    bool PutCommands(const std::vector<std::string>& lines);
    // The line at QueueOut, advancing it; nothing when the ring is empty.
    std::optional<std::string> TakeCommand();
    // The line at QueueOut, left in the ring.
    std::optional<std::string> PeekCommand() const;
    // Whether `line` is in the ring, not yet sent.
    bool HasPending(std::string_view line) const;
    bool QueueEmpty() const;
    std::size_t PendingCount() const;
    std::vector<std::string> PendingCommands() const;
    std::uint16_t QueueIn() const;
    std::uint16_t QueueOut() const;

    // --- the SMS sends queued, in the order of their "AT+CMGS" lines ---
    // Told on the worker thread: true when the modem confirmed the message,
    // false when it refused it or did not answer.
    using SmsOutcome = std::function<void(bool sent)>;
    struct SmsSend {
        std::string number; // station text
        std::string text;
        // A device card's command: a failure is journalled and shown on the card.
        bool deviceCommand = false;
        SmsOutcome outcome;
        // A device command's name for the journal ("Поставить на охрану");
        // empty: the text stands for it.
        std::string commandName = {};
        // A long text's unit: its PDU parts (0 for one SMS) and the send command
        // of the one-SMS form behind them, taken when the modem has no PDU mode.
        int parts = 0;
        std::string fallbackCommand = {};
    };
    void PushSend(SmsSend send);
    // The send whose "AT+CMGS" line the worker takes now; nothing when none was
    // registered (a line queued on its own).
    std::optional<SmsSend> TakeSend();
    // Drops the newest registered send (its lines could not be queued).
    void DropLastSend();

    // --- receive path (RxBuffer and DataReceived under one lock) ---
    // The port's receive handler: appends (keeping at most kRxLimit bytes, the
    // newest), sets DataReceived, wakes the worker.
    void AppendReceived(std::string_view bytes);
    void ClearRx();
    std::string RxSnapshot() const;
    bool RxContains(std::string_view what) const;
    // Clears DataReceived; returns whether it was set.
    bool TakeDataReceived();
    void ClearDataReceived();
    // Sleeps until bytes arrive (DataReceived set) or `limit` of real time has passed.
    void WaitForData(std::chrono::milliseconds limit);
    // Also wakes when a command is queued.
    void WaitForWork(std::chrono::milliseconds limit);
    bool DataWaiting() const;

    // A worker works on the buffer outside the lock (it hands work to the UI
    // thread, which appends under the same lock): it takes the bytes out, and
    // gives back what is left, which goes in front of anything that arrived in
    // the meantime. A ClearRx in between wins: what was taken is dropped.
    struct RxTicket {
        std::uint64_t clearCount;
        // The buffer dropped bytes from its front since the last take: its
        // first line is not whole.
        bool trimmed = false;
    };
    std::string TakeRx(RxTicket& ticket);
    void ReturnRx(std::string rest, const RxTicket& ticket);

private:
    void NotifyCommand();

    mutable std::mutex m_queueLock;
    std::array<std::string, kRingSize> m_commands;
    std::uint16_t m_queueIn = 0;
    std::uint16_t m_queueOut = 0;

    std::mutex m_sendLock;
    std::deque<SmsSend> m_sends;

    mutable std::mutex m_rxLock;
    std::condition_variable m_rxSignal;
    std::string m_rxBuffer;
    bool m_dataReceived = false;
    bool m_commandQueued = false;
    bool m_trimmed = false;
    std::uint64_t m_clearCount = 0;
};

// The dispatch's working copy of the receive buffer for one look: taken out on
// construction, handed back on destruction, also when a handler throws (a failed
// pass leaves the buffer as the handlers left it).
class RxLease {
public:
    explicit RxLease(TModem& modem) : m_modem(modem), m_buffer(modem.TakeRx(m_ticket)) {}
    ~RxLease() { m_modem.ReturnRx(std::move(m_buffer), m_ticket); }
    RxLease(const RxLease&) = delete;
    RxLease& operator=(const RxLease&) = delete;
    std::string& Buffer() { return m_buffer; }
    bool Trimmed() const { return m_ticket.trimmed; }

private:
    TModem& m_modem;
    TModem::RxTicket m_ticket{};
    std::string m_buffer;
};

// Queues a command line on modem 1. The polls "AT+CSQ\r" and "AT+CPMS?\r" are
// refused while an SMS send or a balance request is under way; any line is
// refused when the ring is full. Returns whether the line was queued.
bool EnqueueCommand(TModem& modem, std::string line);

// Lets the worker wait for modem bytes: on the real clock it sleeps on the
// receive signal for at most `ms`; on any other clock (a test's virtual time,
// which only moves when someone sleeps on it) it sleeps `ms` on that clock.
void WaitForModemBytes(TModem& modem, IClock& clock, std::uint32_t ms);
// The worker's rest between passes: at most `ms`, over as soon as bytes arrive
// or a command is queued (on virtual time in steps of a few milliseconds).
void WaitForModemWork(TModem& modem, IClock& clock, std::uint32_t ms);

} // namespace kv
