#pragma once
// A serial port that plays a modem: it records every line the station writes and
// answers from a script, at once or after some virtual milliseconds. It can be
// made to fail its writes or its opening.
#include "serial/SerialIo.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kv::test {

class CallLog;
class TestClock;

class FakePort final : public ISerialIo {
public:
    using Sink = std::function<void(const std::string&)>;
    struct Piece {
        std::uint32_t delayMs = 0; // after the write that triggered it
        std::string bytes;
    };

    // Without a clock every answer is delivered during the write itself.
    explicit FakePort(TestClock* clock = nullptr, CallLog* log = nullptr) : m_clock(clock), m_log(log) {}

    // Where the modem's bytes go: the modem's receive append.
    void DeliverTo(Sink sink);

    // When the station writes a line equal to `pattern` (or starting with it when
    // the pattern ends in '*'), the modem answers. The first matching rule answers;
    // a once-rule is then used up.
    void On(std::string pattern, std::string reply, std::uint32_t delayMs = 0);
    void On(std::string pattern, std::vector<Piece> pieces);
    void Always(std::string pattern, std::string reply, std::uint32_t delayMs = 0);
    void Always(std::string pattern, std::vector<Piece> pieces);
    // The answer when no rule of On and Always matches: what a modem family
    // says to a line the script does not care about.
    void Otherwise(std::string pattern, std::string reply);
    // Unsolicited bytes at an absolute virtual time (now, without a clock).
    void Inject(std::uint64_t atMs, std::string bytes);
    void Send(const std::string& bytes);

    void FailWrites(bool fail);
    void FailOpen(bool fail);

    std::vector<std::string> Writes() const;
    int Opens() const;
    int Closes() const;
    int FailedWrites() const;

    int WriteText(const std::string& text) override;
    void Open() override;
    void Close() override;
    bool Connected() const override;

private:
    struct Rule {
        std::string pattern;
        std::vector<Piece> pieces;
        bool repeat = false;
    };
    static bool Matches(const std::string& pattern, const std::string& line);
    void Schedule(const std::vector<Piece>& pieces);

    TestClock* m_clock;
    CallLog* m_log;
    mutable std::mutex m_lock;
    Sink m_sink;
    std::vector<Rule> m_rules;
    std::vector<Rule> m_defaults;
    std::vector<std::string> m_writes;
    bool m_failWrites = false;
    bool m_failOpen = false;
    bool m_open = true;
    int m_opens = 0;
    int m_closes = 0;
    int m_failedWrites = 0;
};

} // namespace kv::test
