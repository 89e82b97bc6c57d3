// The simulated modem in-process, on virtual time: what the station writes, what
// comes back, byte for byte. Expected UCS2 hex is written out by hand here.
#include "tools/modemsim/SimModem.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace kv::modemsim;
using namespace std::string_literals;

namespace {

const std::string kStamp = "24/05/17,10:30:00+12";
// "+79111111111"
const std::string kNumberHex = "002B" "0037" "0039" "0031" "0031" "0031" "0031" "0031" "0031" "0031" "0031" "0031";

class Dialogue : public ::testing::Test {
protected:
    static ModemOptions Options()
    {
        ModemOptions options;
        options.stampNow = [] { return kStamp; };
        return options;
    }

    // Everything the modem writes while `ms` of virtual time pass.
    std::string Wait(Millis ms)
    {
        const Millis target = now + ms;
        std::string out;
        for (;;) {
            modem.Advance(now);
            out += modem.TakeOutput(now);
            std::optional<Millis> next = modem.NextTimer();
            if (const auto o = modem.NextOutput(); o && (!next || *o < *next))
                next = o;
            if (!next || *next > target)
                break;
            now = std::max(now, *next);
        }
        now = target;
        modem.Advance(now);
        return out + modem.TakeOutput(now);
    }

    std::string Say(std::string_view bytes, Millis wait = 100)
    {
        modem.Receive(bytes, now);
        return Wait(wait);
    }

    void TextMode(const std::string& charset)
    {
        ASSERT_EQ(Say("AT+CMGF=1\r"), "AT+CMGF=1\r\r\nOK\r\n");
        ASSERT_EQ(Say("AT+CSCS=\"" + charset + "\"\r"), "AT+CSCS=\"" + charset + "\"\r\r\nOK\r\n");
    }

    SimModem modem{Options()};
    Millis now = 1000;
};

TEST_F(Dialogue, EchoComesAtOnceAndTheResultAfterARealisticDelay)
{
    modem.Receive("AT\r", now);
    EXPECT_EQ(modem.TakeOutput(now), "AT\r");
    EXPECT_EQ(modem.TakeOutput(now + 9), "");
    EXPECT_EQ(Wait(50), "\r\nOK\r\n");

    EXPECT_EQ(Say("at\r"), "at\r\r\nOK\r\n");
    EXPECT_EQ(Say("AT+FOO\r"), "AT+FOO\r\r\nERROR\r\n");
    // Junk in front of the prefix is skipped; a line without it gets no answer.
    EXPECT_EQ(Say("xyAT\r"), "xyAT\r\r\nOK\r\n");
    EXPECT_EQ(Say("hello\r"), "hello\r");
    EXPECT_EQ(Say("AT+CSQX\b\r"), "AT+CSQX\b\r\r\n+CSQ: 21,0\r\n\r\nOK\r\n");

    EXPECT_EQ(Say("ATE0\r"), "ATE0\r\r\nOK\r\n");
    EXPECT_EQ(Say("AT\r"), "\r\nOK\r\n");
    EXPECT_EQ(Say("ATE1\r"), "\r\nOK\r\n");
    EXPECT_EQ(Say("AT\r"), "AT\r\r\nOK\r\n");
    modem.SetEcho(false);
    EXPECT_EQ(Say("AT\r"), "\r\nOK\r\n");
}

TEST_F(Dialogue, SignalAndStorageReports)
{
    EXPECT_EQ(Say("AT+CSQ\r"), "AT+CSQ\r\r\n+CSQ: 21,0\r\n\r\nOK\r\n");
    modem.SetSignal(99);
    EXPECT_EQ(Say("AT+CSQ\r"), "AT+CSQ\r\r\n+CSQ: 99,0\r\n\r\nOK\r\n");

    EXPECT_EQ(Say("AT+CPMS?\r"), "AT+CPMS?\r\r\n+CPMS: \"SM_P\",0,25,\"SM_P\",0,25,\"SM_P\",0,25\r\n\r\nOK\r\n");
    modem.StoreSms("+79111111111", "a");
    modem.StoreSms("+79111111112", "b");
    EXPECT_EQ(Say("AT+CPMS?\r"), "AT+CPMS?\r\r\n+CPMS: \"SM_P\",2,25,\"SM_P\",2,25,\"SM_P\",2,25\r\n\r\nOK\r\n");
}

TEST_F(Dialogue, ReadsAStoredMessageAsUcs2HexAndMarksItRead)
{
    TextMode("UCS2");
    ASSERT_EQ(modem.StoreSms("+79111111111", "Тревога №1"), 1);
    ASSERT_EQ(modem.StoreSms("+79111111111", "Ёлка ёж"), 2);

    const std::string alarmHex = "0422" "0440" "0435" "0432" "043E" "0433" "0430" "0020" "2116" "0031";
    const std::string header = "\",\"" + kNumberHex + "\",,\"" + kStamp + "\"\r\n";
    EXPECT_EQ(Say("AT+CMGR=1\r"), "AT+CMGR=1\r\r\n+CMGR: \"REC UNREAD" + header + alarmHex + "\r\n\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CMGR=1\r"), "AT+CMGR=1\r\r\n+CMGR: \"REC READ" + header + alarmHex + "\r\n\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CMGR=2\r"), "AT+CMGR=2\r\r\n+CMGR: \"REC UNREAD" + header +
                                      "0401" "043B" "043A" "0430" "0020" "0451" "0436" "\r\n\r\nOK\r\n");

    // The station recognises an empty index by exactly these bytes.
    EXPECT_EQ(Say("AT+CMGR=3\r"), "AT+CMGR=3\r\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CMGR=26\r"), "AT+CMGR=26\r\r\nERROR\r\n");
    EXPECT_EQ(Say("AT+CMGR=0\r"), "AT+CMGR=0\r\r\nERROR\r\n");
    EXPECT_EQ(Say("AT+CMGR=x\r"), "AT+CMGR=x\r\r\nERROR\r\n");
}

TEST_F(Dialogue, StartsInPduModeAndAnswersTheCharacterSetInForce)
{
    modem.StoreSms("+79111111111", "Тест ok");
    EXPECT_EQ(Say("AT+CMGR=1\r"), "AT+CMGR=1\r\r\nERROR\r\n");
    EXPECT_EQ(Say("AT+CMGS=\"+79111111111\"\r"), "AT+CMGS=\"+79111111111\"\r\r\nERROR\r\n");
    EXPECT_EQ(Say("AT+CSCS?\r"), "AT+CSCS?\r\r\n+CSCS: \"GSM\"\r\n\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CSCS=\"KOI8\"\r"), "AT+CSCS=\"KOI8\"\r\r\nERROR\r\n");

    TextMode("IRA");
    EXPECT_EQ(Say("AT+CMGR=1\r"), "AT+CMGR=1\r\r\n+CMGR: \"REC UNREAD\",\"+79111111111\",,\"" + kStamp +
                                      "\"\r\n???? ok\r\n\r\nOK\r\n");
}

TEST_F(Dialogue, DeletesByIndexAndByFlag)
{
    TextMode("UCS2");
    for (int i = 1; i <= 3; ++i)
        ASSERT_EQ(modem.StoreSms("+7900", std::to_string(i)), i);
    Say("AT+CMGR=1\r");
    Say("AT+CMGR=3\r");
    // Flag 2 takes the read messages and leaves the unread one.
    EXPECT_EQ(Say("AT+CMGD=1,2\r"), "AT+CMGD=1,2\r\r\nOK\r\n");
    ASSERT_EQ(modem.Messages().size(), 1u);
    EXPECT_EQ(modem.Messages()[0].index, 2);
    EXPECT_EQ(modem.StoreSms("+7900", "4"), 1) << "the lowest free index is taken";

    EXPECT_EQ(Say("AT+CMGD=2\r"), "AT+CMGD=2\r\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CMGD=2\r"), "AT+CMGD=2\r\r\nOK\r\n") << "deleting an empty index is no error";
    ASSERT_EQ(modem.Messages().size(), 1u);
    EXPECT_EQ(Say("AT+CMGD=1,4\r"), "AT+CMGD=1,4\r\r\nOK\r\n");
    EXPECT_TRUE(modem.Messages().empty());

    for (const char* bad : {"AT+CMGD=0\r", "AT+CMGD=26\r", "AT+CMGD=1,5\r", "AT+CMGD=\r", "AT+CMGD=1,\r"})
        EXPECT_EQ(Say(bad), std::string(bad) + "\r\nERROR\r\n");

    for (int i = 1; i <= SimModem::kSimSlots; ++i)
        ASSERT_EQ(modem.StoreSms("+7900", "x"), i);
    EXPECT_EQ(modem.StoreSms("+7900", "x"), std::nullopt);
}

TEST_F(Dialogue, SendsAnSmsThroughThePrompt)
{
    TextMode("IRA");
    EXPECT_EQ(Say("AT+CMGS=\"+79111111111\"\r"), "AT+CMGS=\"+79111111111\"\r\r\n> ");
    EXPECT_EQ(Say("*8411#_on#\x1a", 200), "*8411#_on#\r\n+CMGS: 1\r\n\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CMGS=\"+79111111112\"\r"), "AT+CMGS=\"+79111111112\"\r\r\n> ");
    EXPECT_EQ(Say("*8411#_off#\x1a"), "*8411#_off#\r\n+CMGS: 2\r\n\r\nOK\r\n");

    // ESC abandons the text.
    EXPECT_EQ(Say("AT+CMGS=\"+79111111113\"\r"), "AT+CMGS=\"+79111111113\"\r\r\n> ");
    EXPECT_EQ(Say("never\x1b"), "never\r\nOK\r\n");

    TextMode("UCS2");
    EXPECT_EQ(Say("AT+CMGS=\"" + kNumberHex + "\"\r"), "AT+CMGS=\"" + kNumberHex + "\"\r\r\n> ");
    EXPECT_EQ(Say("04220435043A0441044200200031\x1a"), "04220435043A0441044200200031\r\n+CMGS: 3\r\n\r\nOK\r\n");
    // Plain text where hex is due is what a mixed-up character set looks like.
    EXPECT_EQ(Say("AT+CMGS=\"" + kNumberHex + "\"\r"), "AT+CMGS=\"" + kNumberHex + "\"\r\r\n> ");
    EXPECT_EQ(Say("*8411#_on#\x1a"), "*8411#_on#\r\nERROR\r\n");
    EXPECT_EQ(Say("AT+CMGS=\"+79111111111\"\r"), "AT+CMGS=\"+79111111111\"\r\r\nERROR\r\n");

    const auto& outbox = modem.Outbox();
    ASSERT_EQ(outbox.size(), 3u);
    EXPECT_EQ(outbox[0].reference, 1);
    EXPECT_EQ(outbox[0].charset, "IRA");
    EXPECT_EQ(outbox[0].number, "+79111111111");
    EXPECT_EQ(outbox[0].text, "*8411#_on#");
    EXPECT_EQ(outbox[2].charset, "UCS2");
    EXPECT_EQ(outbox[2].number, "+79111111111");
    EXPECT_EQ(outbox[2].text, "Текст 1");
}

TEST_F(Dialogue, BalanceAnswerFollowsTheRequestAfterAboutASecond)
{
    TextMode("UCS2");
    modem.SetBalance("Баланс 12.50 р.");
    EXPECT_EQ(Say("AT+CUSD=1,\"002A0031003000300023\",15\r"), "AT+CUSD=1,\"002A0031003000300023\",15\r\r\nOK\r\n");
    EXPECT_EQ(Wait(800), "");
    EXPECT_EQ(Wait(200), "\r\n+CUSD: 0, \""
                         "0411" "0430" "043B" "0430" "043D" "0441" "0020" "0031" "0032" "002E" "0035" "0030" "0020"
                         "0440" "002E"
                         "\", 72\r\n");
    const auto sent = modem.TakeSentLines();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), "ussd: *100#");

    EXPECT_EQ(Say("AT+CUSD=1,\"2A\",15\r"), "AT+CUSD=1,\"2A\",15\r\r\nERROR\r\n") << "not UCS2 hex";
    EXPECT_EQ(Say("AT+CUSD=1,\"002A\",15\r", 100), "AT+CUSD=1,\"002A\",15\r\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CUSD=2\r", 2000), "AT+CUSD=2\r\r\nOK\r\n") << "a cancelled request gets no answer";
}

TEST_F(Dialogue, IncomingCallRingsUntilAnsweredAndIsListedUntilHungUp)
{
    modem.Ring("+79111111111", now);
    EXPECT_EQ(Wait(0), "\r\nRING\r\n");
    EXPECT_EQ(Wait(4900), "");
    EXPECT_EQ(Wait(200), "\r\nRING\r\n");
    EXPECT_EQ(Wait(5000), "\r\nRING\r\n");
    EXPECT_EQ(Say("AT+CLCC\r"), "AT+CLCC\r\r\n+CLCC: 1,1,4,0,0,\"+79111111111\",145\r\n\r\nOK\r\n");
    EXPECT_EQ(Say("ATA\r"), "ATA\r\r\nOK\r\n");
    EXPECT_EQ(Wait(10000), "") << "no RING once answered";
    EXPECT_EQ(Say("AT+CLCC\r"), "AT+CLCC\r\r\n+CLCC: 1,1,0,0,0,\"+79111111111\",145\r\n\r\nOK\r\n");
    EXPECT_EQ(Say("ATH\r"), "ATH\r\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CLCC\r"), "AT+CLCC\r\r\nOK\r\n");

    // The caller gives up before the station answers.
    modem.Ring("89111111111", now);
    EXPECT_EQ(Wait(100), "\r\nRING\r\n");
    EXPECT_EQ(Say("AT+CLCC\r"), "AT+CLCC\r\r\n+CLCC: 1,1,4,0,0,\"89111111111\",129\r\n\r\nOK\r\n");
    EXPECT_TRUE(modem.FarEndHangsUp(now));
    EXPECT_EQ(Wait(100), "\r\nNO CARRIER\r\n");
    EXPECT_EQ(Wait(10000), "");
    EXPECT_EQ(Say("ATA\r"), "ATA\r\r\nNO CARRIER\r\n");
    EXPECT_FALSE(modem.FarEndHangsUp(now));

    // A second caller waits behind the first without a RING of its own.
    modem.Ring("+79000000001", now);
    modem.Ring("+79000000002", now);
    EXPECT_EQ(Wait(100), "\r\nRING\r\n");
    EXPECT_EQ(Say("AT+CLCC\r"), "AT+CLCC\r\r\n+CLCC: 1,1,4,0,0,\"+79000000001\",145\r\n"
                                "+CLCC: 2,1,5,0,0,\"+79000000002\",145\r\n\r\nOK\r\n");
}

TEST_F(Dialogue, OutgoingCallEndsBusyAfterTheSetDelayOrNeverAnswers)
{
    modem.SetDialRule(DialRule{DialAnswer::Busy, 2500, 2500});
    EXPECT_EQ(Say("ATD+79111111111;\r"), "ATD+79111111111;\r\r\nOK\r\n");
    EXPECT_EQ(Wait(2300), "");
    EXPECT_EQ(Wait(200), "\r\nBUSY\r\n");
    EXPECT_EQ(Say("ATH\r"), "ATH\r\r\nOK\r\n");

    modem.SetDialRule("+79000000006", DialRule{DialAnswer::Never, 0, 0});
    EXPECT_EQ(Say("ATD+79000000006;\r"), "ATD+79000000006;\r\r\nOK\r\n");
    EXPECT_EQ(Wait(60000), "");
    EXPECT_EQ(Say("ATD+79000000007;\r"), "ATD+79000000007;\r\r\nERROR\r\n") << "one call at a time";
    EXPECT_EQ(Say("ATH\r"), "ATH\r\r\nOK\r\n");
    EXPECT_EQ(Say("ATD+79111111111\r"), "ATD+79111111111\r\r\nERROR\r\n") << "no data calls";
    EXPECT_EQ(Say("ATD;\r"), "ATD;\r\r\nERROR\r\n");

    const auto& calls = modem.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].number, "+79111111111");
    EXPECT_EQ(calls[0].outcome, "busy");
    EXPECT_EQ(calls[1].number, "+79000000006");
    EXPECT_EQ(calls[1].outcome, "hung up");
}

TEST_F(Dialogue, InjectedErrorsAndSilence)
{
    TextMode("UCS2");
    modem.StoreSms("+7900", "x");
    modem.FailNext();
    // A refused command does nothing: the message stays unread.
    EXPECT_EQ(Say("AT+CMGR=1\r"), "AT+CMGR=1\r\r\nERROR\r\n");
    EXPECT_EQ(modem.Messages()[0].status, "REC UNREAD");
    EXPECT_EQ(Say("AT\r"), "AT\r\r\nOK\r\n");

    modem.SetFailAll(true);
    EXPECT_EQ(Say("AT\r"), "AT\r\r\nERROR\r\n");
    EXPECT_EQ(Say("AT+CSQ\r"), "AT+CSQ\r\r\nERROR\r\n");
    modem.SetFailAll(false);
    EXPECT_EQ(Say("AT\r"), "AT\r\r\nOK\r\n");

    // Refused at the text instead of at the command line.
    EXPECT_EQ(Say("AT+CMGS=\"" + kNumberHex + "\"\r"), "AT+CMGS=\"" + kNumberHex + "\"\r\r\n> ");
    modem.FailNext();
    EXPECT_EQ(Say("0031\x1a"), "0031\r\nERROR\r\n");
    EXPECT_TRUE(modem.Outbox().empty());

    modem.SetSilent(true);
    EXPECT_EQ(Say("AT+CMGR=1\r", 1000), "");
    modem.Ring("+7900", now);
    EXPECT_EQ(Wait(6000), "");
    EXPECT_EQ(modem.Messages()[0].status, "REC UNREAD");
    modem.SetSilent(false);
    EXPECT_EQ(Say("ATH\r"), "ATH\r\r\nOK\r\n");
    const auto sent = modem.TakeSentLines();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[sent.size() - 2], "AT+CMGR=1\\r") << "a silent modem still hears what was sent";
}

TEST_F(Dialogue, GarbageTruncationAndSplitReplies)
{
    modem.Inject("\x00\xff\r\nOK"s, now);
    EXPECT_EQ(Wait(0), "\x00\xff\r\nOK"s);

    modem.TruncateNext();
    EXPECT_EQ(Say("AT+CSQ\r"), "AT+CSQ\r" "\r\n+CSQ: 21");
    EXPECT_EQ(Say("AT+CSQ\r"), "AT+CSQ\r\r\n+CSQ: 21,0\r\n\r\nOK\r\n") << "only one reply is cut";

    modem.SetSplit(true);
    modem.Receive("AT\r", now);
    std::string whole;
    int pieces = 0;
    for (int ms = 0; ms < 200; ++ms) {
        modem.Advance(now);
        const std::string piece = modem.TakeOutput(now);
        EXPECT_LE(piece.size(), 1u) << "at most one byte per gap";
        pieces += piece.empty() ? 0 : 1;
        whole += piece;
        ++now;
    }
    EXPECT_EQ(whole, "AT\r\r\nOK\r\n");
    EXPECT_EQ(pieces, 9);
}

TEST_F(Dialogue, FloodIsMadeOnlyAsFastAsItIsTakenAndKeepsItsPlaceInLine)
{
    modem.Flood(1'000'000, now);
    modem.Receive("AT\r", now);
    size_t total = 0;
    std::string tail;
    for (int pass = 0; pass < 1000 && total < 1'000'000 + 9; ++pass) {
        const std::string piece = modem.TakeOutput(now + 100, 4096);
        ASSERT_LE(piece.size(), 4096u);
        if (piece.empty())
            break;
        total += piece.size();
        tail = (tail + piece).substr(std::max<size_t>(tail.size() + piece.size(), 9) - 9);
    }
    EXPECT_EQ(total, 1'000'000u + 9);
    EXPECT_EQ(tail, "AT\r\r\nOK\r\n") << "the echo and reply come after the flood";
}

TEST_F(Dialogue, OverlongLinesAndTextsAreRefused)
{
    TextMode("IRA");
    const std::string longLine = "AT" + std::string(SimModem::kMaxLine + 10, 'A') + "\r";
    EXPECT_EQ(Say(longLine).substr(longLine.size()), "\r\nERROR\r\n");
    EXPECT_EQ(Say("AT\r"), "AT\r\r\nOK\r\n");

    Say("AT+CMGS=\"+7900\"\r");
    const std::string longText(SimModem::kMaxLine + 10, 'x');
    EXPECT_EQ(Say(longText + "\x1a").substr(longText.size()), "\r\nERROR\r\n");
    EXPECT_TRUE(modem.Outbox().empty());
}

TEST_F(Dialogue, SentLinesAreKeptEscapedUntilCollected)
{
    modem.Receive("AT\r", now);
    modem.Receive("he\x01llo\x7f\xd0\\\x1a", now);
    modem.Receive("ATE0\r\nAT", now);
    const auto sent = modem.TakeSentLines();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], "AT\\r");
    EXPECT_EQ(sent[1], "he\\x01llo\\x7f\\xd0\\\\\\x1a");
    EXPECT_EQ(sent[2], "ATE0\\r");
    EXPECT_TRUE(modem.TakeSentLines().empty());
    modem.Receive("\r", now);
    EXPECT_EQ(modem.TakeSentLines(), std::vector<std::string>{"\\nAT\\r"});
}

TEST_F(Dialogue, UnpluggingLosesCallsAndPluggingStartsFromPowerOn)
{
    TextMode("UCS2");
    Say("ATE0\r");
    modem.StoreSms("+7900", "kept");
    modem.SetDialRule(DialRule{DialAnswer::Never, 0, 0});
    Say("ATD+7900;\r");
    modem.Ring("+7901", now);
    modem.Unplug();
    EXPECT_EQ(Wait(10000), "");
    modem.Receive("AT\r", now);
    EXPECT_EQ(Wait(100), "") << "an unplugged modem hears nothing";

    modem.PlugIn();
    EXPECT_EQ(Say("AT\r"), "AT\r\r\nOK\r\n") << "echo is on again";
    EXPECT_EQ(Say("AT+CLCC\r"), "AT+CLCC\r\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CSCS?\r"), "AT+CSCS?\r\r\n+CSCS: \"GSM\"\r\n\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CMGR=1\r"), "AT+CMGR=1\r\r\nERROR\r\n") << "text mode must be set again";
    ASSERT_EQ(modem.Messages().size(), 1u);
    EXPECT_EQ(modem.Calls().at(0).outcome, "lost");
}

TEST_F(Dialogue, SurvivesArbitraryBytesAndStillAnswers)
{
    static const char* const kPieces[] = {"AT", "+CMGS=\"", "+CMGR=", "+CUSD=1,\"", "\"", "\r", "\x1a", "\x1b",
                                          "D", ";", ",", "00", "\n", "+CMGD=1,", "E0", "A", "H", "+CLCC"};
    std::mt19937 rng(20240517);
    modem.StoreSms("+7900", "x");
    for (int i = 0; i < 20000; ++i) {
        std::string chunk;
        const int parts = static_cast<int>(rng() % 6);
        for (int p = 0; p < parts; ++p) {
            if (rng() % 2)
                chunk += kPieces[rng() % std::size(kPieces)];
            else
                chunk.push_back(static_cast<char>(rng() & 0xFF));
        }
        modem.Receive(chunk, now);
        now += static_cast<Millis>(rng() % 300);
        modem.Advance(now);
        modem.TakeOutput(now);
        if (i % 500 == 0)
            modem.Ring("+7901", now);
    }
    modem.Receive("\x1b\rATH\r", now);
    Wait(10000);
    modem.SetEcho(false);
    EXPECT_EQ(Say("AT\r"), "\r\nOK\r\n");
}

} // namespace
