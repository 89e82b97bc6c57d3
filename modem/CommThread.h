#pragma once
// TCommThread: the worker that owns the whole conversation with modem 1. It sends
// the queued commands one at a time; the line reader splits what comes back into
// the reply to the command in flight and the unsolicited codes around it; a
// dispatch keyed by the command and its final result acts on each reply, and a
// table of unsolicited codes acts on the rest. Between commands it polls the
// modem for its signal level and its SIM memory, and saves the tile states.
#include "data/SmsReceipts.h"
#include "modem/LineReader.h"
#include "modem/Modem.h"
#include "modem/ModemHost.h"
#include "modem/ReplyDispatch.h"
#include "modem/SmsInbox.h"
#include "modem/SmsReader.h"
#include "modem/WorkerThread.h"
#include "serial/SerialIo.h"
#include "timing/Clock.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

enum class TileSaveResult { Saved, CannotCreate, WriteFailed };
// Writes "t5.bin" (guard states, then info states) in the current directory.
using TileSaveFn = std::function<TileSaveResult()>;

class TCommThread {
public:
    // Exchange states.
    static constexpr std::uint8_t kAwaitingReply = 0xEE;
    static constexpr std::uint8_t kReplyIncomplete = 0xE0;
    static constexpr std::uint8_t kReplyHandled = 0;

    // The rest between passes when nothing is queued; bytes or a command end it.
    static constexpr std::uint32_t kPassSleepMs = 500;
    static constexpr std::uint32_t kPollIntervalMs = 2000;
    static constexpr std::uint32_t kExchangeWaitMs = 10000;
    // An SMS text and a dialling are answered by the network, which can take
    // longer than the modem alone: a send confirmed after ten seconds is sent.
    static constexpr std::uint32_t kNetworkWaitMs = 30000;
    // A breath between a final result and the next command, which some modems need.
    static constexpr std::uint32_t kAfterExchangeMs = 50;
    // How often the wait looks at the buffer when no byte wakes it.
    static constexpr std::uint32_t kLookIntervalMs = 5;
    // A balance request with no recognised answer after this long is given up,
    // so that one lost answer cannot stop the polls (and the SMS reading) for good.
    static constexpr std::uint32_t kUssdGiveUpMs = 30000;
    // An alarm call is answered, then hung up this long after.
    static constexpr std::uint32_t kHangUpAfterMs = 2000;
    // A device called for arming that neither rejects nor ends the call by then is hung up on.
    static constexpr std::uint32_t kDeviceCallLimitMs = 30000;
    // A message announced and not yet readable is read again once after this.
    static constexpr std::uint32_t kReadRetryMs = SmsInbox::kReadRetryMs;

    // The worker starts as at a fresh start: exchange handled, the first poll asks
    // for the signal, last poll now, SmsIndex 1, tile saving enabled. The parts
    // of long messages are kept in `partsFile` (none: in memory only).
    TCommThread(TModem& modem, ISerialIo& port, IModemHost& host, IClock& clock, TileSaveFn saveTiles,
                std::string partsFile = {});
    // Stops the loop and waits for the pass under way. A pass may be waiting on a
    // hand-over to the UI thread: destroy from the UI thread only after the
    // hand-overs have been released (BeginShutdown).
    ~TCommThread();
    TCommThread(const TCommThread&) = delete;
    TCommThread& operator=(const TCommThread&) = delete;

    // Runs the loop on its own thread while the modem's Running flag is set.
    void Start();
    // Clears Running: the loop ends after the pass under way.
    void RequestStop();
    bool Wait(std::chrono::milliseconds limit);
    bool Finished() const;

    // One pass: rest, unsolicited codes, timers, poll, one exchange. Any failure
    // inside ends the pass with the E001 line.
    void Pass();

    // Lets tests and fuzzers put replies straight into the buffer: the reply to
    // `line` is awaited as if it had just been written (nothing is sent).
    void BeginReplyFor(std::string line);
    // The reply dispatch on what the receive buffer holds now, without the wait:
    // bytes that arrived since the last call make the state "reply incomplete";
    // the lines are read as the wait reads them, the unsolicited ones handled.
    // Returns whether the reply is complete (and then dispatched).
    bool DispatchReceived();

    std::uint8_t ExchangeState() const { return m_state; }
    bool PollToggle() const { return m_pollToggle; }
    // How long the parts of an incomplete long message are waited for.
    void SetMultipartWait(std::chrono::seconds wait) { m_inbox.SetMultipartWait(wait); }
    bool SaveEnabled() const { return m_saveEnabled; }

private:
    using Cmd = AtCommand;
    using End = ReplyEnd;
    using Reply = ModemReply;
    using ReplyRow = kv::ReplyRow<TCommThread>;
    using UnsolicitedRow = kv::UnsolicitedRow<TCommThread>;
    static std::span<const ReplyRow> ReplyRows();
    static std::span<const UnsolicitedRow> UnsolicitedRows();

    void Run();
    void PassBody();
    void RunTimers();
    void CheckUssdGiveUp();
    void Poll();
    void SaveTiles();
    void Exchange();
    // Checks made before a line goes out; false: it does not go. A list may
    // go in another form (the modem refused PDU mode).
    bool Admit(std::string& line, Cmd cmd);
    void BeginReply(std::string line, Cmd cmd);
    // One look at the buffer; true when the reply is complete.
    bool LookAtReply();
    void EndReply();
    void ReadUnsolicited();
    void HandleUnsolicited(const ModemLine& line);
    // Runs `fn`; a failure in it is told with the E001 line and goes no further.
    void Guarded(const std::function<void()>& fn);

    void Techno(std::string_view text, Rgb colour);
    void Event(std::string_view status, std::string_view tel, std::string_view event);
    bool Queue(std::string_view line);
    bool QueueOnce(std::string_view line);

    // ---- replies, by command and final result ----
    void OnNothing(const Reply&) {}
    void OnError(const Reply& reply);
    void OnLinkTest(const Reply& reply);
    void OnSignalLevel(const Reply& reply);
    void OnMemoryCount(const Reply& reply);
    void OnMessageList(const Reply& reply);
    void OnListRefused(const Reply& reply);
    void OnListLost(const Reply& reply);
    void OnReadSms(const Reply& reply);
    void OnReadEmpty(const Reply& reply);
    void OnReadLost(const Reply& reply);
    void OnDeleted(const Reply& reply);
    void OnDeleteRefused(const Reply& reply);
    void OnTextMode(const Reply& reply);
    void OnTextModeRefused(const Reply& reply);
    void OnHeaderFields(const Reply& reply);
    void OnCharset(const Reply& reply);
    void OnTextParams(const Reply& reply);
    void OnIndicationsOffered(const Reply& reply);
    void OnIndicationsOn(const Reply& reply);
    void OnIndicationsRefused(const Reply& reply);
    void OnPrompt(const Reply& reply);
    void OnSmsSent(const Reply& reply);
    void OnSendFailed(const Reply& reply);
    void OnCallList(const Reply& reply);
    void OnCallListEnded(const Reply& reply);
    void OnDialling(const Reply& reply);
    void OnDialBusy(const Reply& reply);
    void OnDialNoCarrier(const Reply& reply);
    void OnDialFailed(const Reply& reply);
    void OnAnswerNoCarrier(const Reply& reply);
    void OnUssdAccepted(const Reply& reply);
    void OnUssdRefused(const Reply& reply);

    // ---- unsolicited codes ----
    void OnRing(const ModemLine& line);
    void OnNewMessage(const ModemLine& line);
    void OnDeliveredMessage(const ModemLine& line);
    void OnUssdAnswer(const ModemLine& line);
    void OnAsyncError(const ModemLine& line);
    void OnBusy(const ModemLine& line);
    void OnNoCarrier(const ModemLine& line);
    void OnCallUnanswered(const ModemLine& line);
    void OnModemRestarted(const ModemLine& line);

    // ---- calls, balance, sends ----
    void RaiseCallAlarm(const std::string& number);
    void EndDeviceCall();
    void BalanceAnswered(const std::string& text);
    void RefuseBalance(const std::string& request, const std::string& errorLine);
    // The send under way is over: told to its requester, journalled when refused.
    void FinishSend(bool sent);
    void RestoreLink();
    void RestoreSetup();
    void ReopenVanishedPort();

    TModem& m_modem;
    ISerialIo& m_port;
    IModemHost& m_host;
    IClock& m_clock;
    TileSaveFn m_saveTiles;

    std::uint8_t m_state = kReplyHandled;
    bool m_pollToggle = false;
    std::uint64_t m_lastPoll = 0;
    bool m_saveEnabled = true;
    bool m_tilesFailing = false; // told once per failure period
    std::optional<std::uint64_t> m_ussdSeenAt;

    TLineReader m_reader;
    bool m_inReply = false;
    bool m_replyDone = false;
    Reply m_reply;

    SmsInbox m_inbox;
    // Indications: the setting to try when the first one is refused.
    std::string m_indicationsFallback;

    // Calls.
    bool m_callsListed = false; // "AT+CLCC" queued or under way
    bool m_answering = false;   // an alarm call is being answered
    std::optional<std::uint64_t> m_hangUpAt;
    bool m_deviceCall = false;
    std::optional<std::uint64_t> m_deviceCallSince;

    // Sends.
    std::optional<TModem::SmsSend> m_send;
    bool m_promptGiven = false;
    // A long text's unit (SendSms.h): its record is taken at its switch to PDU
    // mode; its parts go one by one, then the switch back; its one-SMS form
    // goes only when no part was tried (the modem refused PDU mode).
    enum class LongSend { None, Switching, Parts, Skipping, Fallback, DropFallback };
    LongSend m_long = LongSend::None;
    bool m_longPduOn = false;      // its switch to PDU mode may have been taken
    bool m_longOver = false;       // its parts went, or one failed
    bool m_longSwitchBack = false; // its "AT+CMGF=1" is under way
    bool m_dropText = false;       // the one-SMS form's command was skipped: its text next
    int m_partsSent = 0;
    std::string m_fallbackCommand;
    // " (в 3 частях)" or " (сокращено)" for a long text's row; empty otherwise.
    std::string LongNote(const TModem::SmsSend& send) const;
    std::string m_ussdRequest;

    WorkerThread m_thread; // last: joined before the members above go
};

} // namespace kv
