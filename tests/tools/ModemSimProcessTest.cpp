// The modemsim program end to end: its banner, its pseudo-terminals as the station
// opens them, unplugging and plugging, and how it ends.
#include "codec/SmsPdu.h"
#include "tests/support/ModemSim.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <sys/wait.h>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <unistd.h>

using kv::test::ModemSim;
using kv::test::ModemSimOptions;
using namespace std::chrono_literals;

namespace {

int OpenPort(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(fd, 0) << path;
    return fd;
}

void Send(int fd, std::string_view bytes)
{
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// Reads until `done` holds for what has arrived, or two seconds have passed.
template <typename Done>
std::string ReadWhile(int fd, Done done)
{
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (!done(got) && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0 || !(p.revents & POLLIN))
            continue;
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

std::string ReadUntil(int fd, std::string_view until)
{
    return ReadWhile(fd, [until](const std::string& got) { return got.find(until) != std::string::npos; });
}

TEST(ModemSimProgram, AnswersOnEachPseudoTerminalAndSurvivesTheStationClosingIt)
{
    ModemSim sim;
    ASSERT_EQ(sim.Modems(), 2);
    EXPECT_EQ(sim.Path(1).rfind("/dev/pts/", 0), 0u);
    const int one = OpenPort(sim.Path(1));
    const int two = OpenPort(sim.Path(2));
    Send(one, "AT\r");
    Send(two, "AT+CSQ\r");
    EXPECT_EQ(ReadUntil(one, "OK\r\n"), "AT\r\r\nOK\r\n");
    EXPECT_EQ(ReadUntil(two, "OK\r\n"), "AT+CSQ\r\r\n+CSQ: 21,0\r\n\r\nOK\r\n");
    EXPECT_EQ(sim.Command("sent 1"), std::vector<std::string>{"AT\\r"});
    EXPECT_EQ(sim.Command("sent 2"), std::vector<std::string>{"AT+CSQ\\r"});

    // The station closing its end must not hang the modem up.
    ::close(one);
    const int again = OpenPort(sim.Path(1));
    sim.Command("signal 1 7");
    Send(again, "AT+CSQ\r");
    EXPECT_EQ(ReadUntil(again, "OK\r\n"), "AT+CSQ\r\r\n+CSQ: 7,0\r\n\r\nOK\r\n");
    ::close(again);
    ::close(two);
}

TEST(ModemSimProgram, UnplugHangsUpTheStationAndPlugComesBackOnTheSameLink)
{
    kv::test::TempDir dir;
    ModemSimOptions options;
    options.linkDir = dir.File("ports");
    ModemSim sim(options);
    const std::string link = dir.File("ports") + "/modem1";
    ASSERT_EQ(sim.Path(1), link);
    const int old = OpenPort(link);
    sim.Command("unplug 1");
    pollfd p{old, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    EXPECT_FALSE(std::filesystem::is_symlink(link)) << "a pulled modem's port is gone";

    EXPECT_EQ(sim.Command("plug 1"), std::vector<std::string>{link});
    const int fresh = OpenPort(link);
    Send(fresh, "AT\r");
    EXPECT_EQ(ReadUntil(fresh, "OK\r\n"), "AT\r\r\nOK\r\n");
    Send(fresh, "AT+CSQ\r");
    EXPECT_TRUE(sim.WaitForSent(1, "AT+CSQ\\r"));
    EXPECT_EQ(sim.SentLines(1), (std::vector<std::string>{"AT\\r", "AT+CSQ\\r"}));
    EXPECT_FALSE(sim.WaitForSent(1, "ATZ\\r", 100ms));
    ::close(fresh);
    ::close(old);
}

TEST(ModemSimProgram, AFloodNobodyReadsDoesNotHoldUpTheControlChannel)
{
    ModemSim sim;
    sim.Command("flood 1 50000000");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(sim.Command("sim 1").empty());
    EXPECT_EQ(sim.Command("sms 1 +7900 x"), std::vector<std::string>{"1"});
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    const int fd = OpenPort(sim.Path(1));
    EXPECT_GT(ReadWhile(fd, [](const std::string& got) { return got.size() > 100000; }).size(), 100000u);
    ::close(fd);
}

TEST(ModemSimProgram, ReportsWhatTheStationSentEscapedAndWhatItMeant)
{
    ModemSim sim;
    const int fd = OpenPort(sim.Path(1));
    Send(fd, "AT+CMGF=1\r");
    ReadUntil(fd, "OK\r\n");
    Send(fd, "AT+CSCS=\"IRA\"\r");
    ReadUntil(fd, "OK\r\n");
    Send(fd, "AT+CMGS=\"+79111111111\"\r");
    EXPECT_EQ(ReadUntil(fd, "> "), "AT+CMGS=\"+79111111111\"\r\r\n> ");
    Send(fd, "*8411#_on#\x1a");
    EXPECT_EQ(ReadUntil(fd, "OK\r\n"), "*8411#_on#\r\n+CMGS: 1\r\n\r\nOK\r\n");
    EXPECT_EQ(sim.Command("sent 1"), (std::vector<std::string>{"AT+CMGF=1\\r", "AT+CSCS=\"IRA\"\\r",
                                                                "AT+CMGS=\"+79111111111\"\\r", "*8411#_on#\\x1a"}));
    EXPECT_EQ(sim.Command("outbox 1"), std::vector<std::string>{"1 IRA +79111111111 *8411#_on#"});

    const ModemSim::Result bad = sim.TryCommand("bogus 1");
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.error, "error unknown command bogus");
    EXPECT_TRUE(sim.Command("calls 1").empty()) << "the run goes on after an error";
    ::close(fd);
}

TEST(ModemSimProgram, EndsOnEndOfInputAndOnSigtermAndRemovesItsLinks)
{
    kv::test::TempDir dir;
    ModemSimOptions options;
    options.modems = 1;
    options.linkDir = dir.File("a");
    ModemSim first(options);
    ASSERT_TRUE(std::filesystem::is_symlink(first.Path(1)));
    first.CloseInput();
    EXPECT_EQ(first.WaitExit(), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(first.Path(1)));

    options.linkDir = dir.File("b");
    ModemSim second(options);
    EXPECT_EQ(second.Terminate(), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(second.Path(1)));
}

TEST(ModemSimProgram, PlaysTheFamilyItIsToldAndTakesUnsolicitedLines)
{
    ModemSimOptions options;
    options.modems = 1;
    options.family = "huawei";
    ModemSim sim(options);
    const int fd = OpenPort(sim.Path(1));
    Send(fd, "AT+CPMS?\r");
    EXPECT_EQ(ReadUntil(fd, "OK\r\n"), "AT+CPMS?\r\r\n+CPMS: \"SM\",0,10,\"SM\",0,10,\"SM\",0,10\r\n\r\nOK\r\n");
    sim.Command("urc 1 ^RSSI: 9");
    EXPECT_EQ(ReadUntil(fd, "9\r\n"), "\r\n^RSSI: 9\r\n");
    ::close(fd);

    const int status = std::system((ModemSim::BinaryPath() + " --family nokia </dev/null 2>/dev/null").c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << "an unknown family is refused";
}

// A long report the simulator splits, listed over the pseudo-terminal in PDU
// mode, and a long send in PDU mode that the program reports whole.
TEST(ModemSimProgram, LongMessagesGoBothWaysInPduMode)
{
    ModemSimOptions options;
    options.modems = 1;
    options.family = "lte";
    ModemSim sim(options);
    const int fd = OpenPort(sim.Path(1));
    std::string utf8 = "Батарея разряжена, объект Гараж: ";
    for (int i = 0; i < 60; ++i)
        utf8 += "ж";
    const std::u16string report = u"Батарея разряжена, объект Гараж: " + std::u16string(60, u'ж');
    EXPECT_EQ(sim.Command("longsms 1 +79111111111 ref=200 order=2,1 " + utf8), (std::vector<std::string>{"1", "2"}));
    Send(fd, "AT+CMGL=4\r");
    const std::string list = ReadUntil(fd, "OK\r\n");
    std::u16string parts[2];
    for (size_t at = list.find("+CMGL: "); at != std::string::npos; at = list.find("+CMGL: ", at + 1)) {
        const size_t start = list.find("\r\n", at) + 2;
        const auto d = kv::sms::DecodeDeliverPdu(list.substr(start, list.find("\r\n", start) - start));
        ASSERT_TRUE(d && d->data.concat) << list;
        EXPECT_EQ(d->data.concat->reference, 200u);
        parts[d->data.concat->part - 1] = d->data.units;
    }
    EXPECT_EQ(parts[0] + parts[1], report);

    for (const kv::sms::OutgoingPdu& p : kv::sms::EncodeSubmit("+79111111112", report, 5)) {
        Send(fd, "AT+CMGS=" + std::to_string(p.tpduLength) + "\r");
        ReadUntil(fd, "> ");
        Send(fd, p.hex + "\x1a");
        EXPECT_NE(ReadUntil(fd, "OK\r\n").find("+CMGS: "), std::string::npos);
    }
    EXPECT_EQ(sim.Command("outbox 1").size(), 2u);
    const std::vector<std::string> texts = sim.Command("texts 1");
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], "+79111111112 " + utf8);
    ::close(fd);
}

} // namespace
