#pragma once
// TCommThread: the worker that owns the whole conversation with modem 1. It sends
// the queued commands one at a time, waits for each reply in the receive buffer,
// recognises what the reply (and anything unsolicited that came with it) says and
// acts on it; between commands it polls the modem for its signal level and its
// SIM memory, and saves the tile states.
#include "modem/Modem.h"
#include "modem/ModemHost.h"
#include "modem/WorkerThread.h"
#include "serial/SerialIo.h"
#include "timing/Clock.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

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

    static constexpr std::uint32_t kPassSleepMs = 500;
    static constexpr std::uint32_t kPollIntervalMs = 2000;
    static constexpr std::uint32_t kExchangeWaitMs = 10000;
    static constexpr std::uint32_t kAfterExchangeMs = 500;
    // How often the wait looks at the buffer when no byte wakes it.
    static constexpr std::uint32_t kLookIntervalMs = 5;
    // A balance request with no recognised answer after this long is given up,
    // so that one lost answer cannot stop the polls (and the SMS reading) for good.
    static constexpr std::uint32_t kUssdGiveUpMs = 30000;

    // The worker starts as at a fresh start: exchange handled, the first poll asks
    // for the signal, last poll now, SmsIndex 1, tile saving enabled.
    TCommThread(TModem& modem, ISerialIo& port, IModemHost& host, IClock& clock, TileSaveFn saveTiles);
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

    // One pass: sleep, poll, one exchange. Any failure inside ends the pass with
    // the E001 line.
    void Pass();

    // The reply dispatch of an exchange on what the receive buffer holds now,
    // without sending and without the ten-second wait: bytes that arrived since
    // the last call make the state "reply incomplete", then the buffer is looked
    // at as the wait looks at it, again after every look in which a row acted, at
    // most `maxLooks` times. Returns whether the wait would end. Sleeps inside the
    // handlers go to the worker's clock; a failure leaves as it leaves a pass.
    // Lets tests and fuzzers put replies straight into the buffer.
    bool DispatchReceived(int maxLooks);

    std::uint8_t ExchangeState() const { return m_state; }
    bool PollToggle() const { return m_pollToggle; }
    bool SaveEnabled() const { return m_saveEnabled; }

private:
    struct ReplyRow {
        std::string_view name;
        bool (*matches)(std::string_view buffer);
        void (TCommThread::*handle)(std::string& buffer);
    };
    static std::span<const ReplyRow> ReplyRows();
    static std::span<const ReplyRow> FinalReplyRows();

    void Run();
    void PassBody();
    void CheckUssdGiveUp();
    void Poll();
    void SaveTiles();
    void Exchange();
    // One look at the buffer; true when the wait ends. `acted`: some row changed it.
    bool Dispatch(bool& acted);

    void Techno(std::string_view text, Rgb colour);
    void Event(std::string_view status, std::string_view tel, std::string_view event);
    void Queue(std::string_view line);

    // Rows, in the order the buffer is checked.
    void OnPrompt(std::string& buffer);
    void OnError(std::string& buffer);
    void OnRing(std::string& buffer);
    void OnBusy(std::string& buffer);
    void OnNoCarrier(std::string& buffer);
    void OnCallOver(std::string& buffer);
    void OnHangUp(std::string& buffer);
    void OnIncomingCall(std::string& buffer);
    void OnLinkTest(std::string& buffer);
    void OnSignalLevel(std::string& buffer);
    void OnBalance(std::string& buffer);
    void OnReadSms(std::string& buffer);
    void OnDeleted(std::string& buffer);
    void OnTextMode(std::string& buffer);
    void OnCharset(std::string& buffer);
    void OnTextParams(std::string& buffer);
    void OnSmsSent(std::string& buffer);
    void OnMemoryCount(std::string& buffer);

    // The send under way is over: the polls may go again, its requester is told.
    void EndSend(bool sent);
    void RestoreLink();
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
    bool m_endWait = false;
    std::optional<std::uint64_t> m_ussdSeenAt;

    WorkerThread m_thread; // last: joined before the members above go
};

} // namespace kv
