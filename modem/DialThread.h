#pragma once
// TDialThread: the ring-round worker on modem 2. It calls every enabled device
// at its own interval (a device that is alive rejects the call, and "BUSY" is
// success), polls modem 2's signal level between calls and asks for its balance
// on request. It reads the modem as modem 1's worker does: the line reader
// tells the reply to the command in flight from the codes around it, and two
// tables act on them.
#include "modem/DialSchedule.h"
#include "modem/Modem.h"
#include "modem/ModemHost.h"
#include "modem/ReplyDispatch.h"
#include "modem/WorkerThread.h"
#include "serial/SerialIo.h"
#include "timing/Clock.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <span>
#include <string>

namespace kv {

// Consecutive failed calls that make a device's failure final, unless config.ini says otherwise.
inline constexpr int kDefaultFailuresToReport = 7;

// The ring-round's variables: one set for the program, outliving any one
// worker. A new worker resets only the next signal poll; the rest is what the
// previous worker left. Each device's failed calls are counted in the schedule.
struct DialState {
    std::atomic<bool> dialling{false};
    std::atomic<bool> busySeen{false};
    std::atomic<bool> signalWait{false};
    std::atomic<bool> balanceWait{false};
    // Set by the modem window to ask for modem 2's balance.
    std::atomic<bool> balanceRequest{false};
    // A device's failure is final at this many consecutive failed calls of it
    // (the modem window's setting).
    std::atomic<int> failuresToReport{kDefaultFailuresToReport};
    // Monotonic milliseconds (IClock::MonotonicMs): a wall clock set back must
    // not leave a call unjudged or the signal unpolled.
    std::atomic<std::uint64_t> nextSignalPollMs{0};
    std::atomic<std::uint64_t> dialDeadlineMs{0};
    std::atomic<std::uint64_t> balanceDeadlineMs{0};
};

class TDialThread {
public:
    static constexpr std::uint32_t kPassSleepMs = 500;
    static constexpr std::uint64_t kSignalPeriodMs = 5000;
    static constexpr std::uint64_t kBalanceWaitMs = 10000;
    // The longest a call waits for its verdict when the modem says nothing.
    static constexpr std::uint64_t kVerdictMs = 25000;
    static constexpr std::uint32_t kAfterFinalFailureMs = 2000;
    static constexpr std::uint32_t kAfterHangUpMs = 1000;
    static constexpr std::uint32_t kAfterErrorMs = 500;
    // How often a port whose device went away is tried again.
    static constexpr std::uint32_t kReopenEveryMs = 2000;

    TDialThread(TModem& modem, ISerialIo& port, IModemHost& host, IClock& clock, DialSchedule& schedule,
                DialState& state);
    // As for TCommThread: stops the loop and waits for the pass under way.
    ~TDialThread();
    TDialThread(const TDialThread&) = delete;
    TDialThread& operator=(const TDialThread&) = delete;

    void Start();
    // Clears modem 2's Running: the loop ends after the pass under way. A call in
    // progress is not hung up.
    void RequestStop();
    bool Wait(std::chrono::milliseconds limit);
    bool Finished() const;

    // Passes while Running is set, then "Статус дозвона: ожидание".
    void RunLoop();
    // One pass: sleep, time-outs, then the first case that applies.
    void Pass();

private:
    struct Call {
        DialSchedule::Tile tile;
        std::string number;
    };
    using ReplyRow = kv::ReplyRow<TDialThread>;
    using UnsolicitedRow = kv::UnsolicitedRow<TDialThread>;
    static std::span<const ReplyRow> ReplyRows();
    static std::span<const UnsolicitedRow> UnsolicitedRows();

    void PassBody();
    void CheckTimeouts(std::uint64_t nowMs);
    // Takes the whole lines received: the reply in flight, dispatched once
    // complete, and the codes around it.
    void ReadModem();
    void HandleUnsolicited(const ModemLine& line);
    // Writes a command whose reply is read from now on.
    void Send(const std::string& line);
    // The reply in flight no longer matters (its wait is over).
    void ForgetReply();
    void Verdict();
    void RequestBalance(std::uint64_t nowMs);
    void PollSignal(std::uint64_t nowMs);
    void StartCall(std::uint64_t nowMs);
    void HangUp();
    void DropRemains();
    void ReopenVanishedPort();
    void Techno(const std::string& text, Rgb colour);

    // ---- replies, by command and final result ----
    void OnNothing(const ModemReply&) {}
    void OnSignalLevel(const ModemReply& reply);
    void OnDialBusy(const ModemReply& reply);
    void OnDialFailed(const ModemReply& reply);
    void OnUssdAccepted(const ModemReply& reply);
    void OnUssdRefused(const ModemReply& reply);

    // ---- unsolicited codes ----
    void OnBusy(const ModemLine& line);
    void OnCallFailed(const ModemLine& line);
    void OnAsyncError(const ModemLine& line);
    void OnUssdAnswer(const ModemLine& line);

    // The modem told how the call under way ended.
    void CallEnded(bool busy);
    void RefuseBalance(const std::string& request, const std::string& errorLine);
    void BalanceAnswered(const std::string& text);

    TModem& m_modem;
    ISerialIo& m_port;
    IModemHost& m_host;
    IClock& m_clock;
    DialSchedule& m_schedule;
    DialState& m_state;
    // The call this worker started; a call inherited from a stopped worker has none.
    std::optional<Call> m_call;
    std::optional<std::uint64_t> m_lastReopen;
    // The balance request written last (its code as UCS2 hex, or plain after a refusal).
    std::string m_balanceRequest;
    TLineReader m_reader;
    ModemReply m_reply;
    // The call under way has ended by the modem's word; judged in this pass.
    bool m_callEnded = false;

    WorkerThread m_thread; // last: joined before the members above go
};

} // namespace kv
