// The simulated modem in-process, on virtual time: what the station writes, what
// comes back, byte for byte. Expected UCS2 hex is written out by hand here.
#include "codec/SmsPdu.h"
#include "tools/modemsim/SimModem.h"
#include "tools/modemsim/Ucs2Hex.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    static ModemOptions Options(const char* family = "sim800", std::string stamp = kStamp)
    {
        ModemOptions options;
        options.stampNow = [stamp] { return stamp; };
        options.family = FindFamily(family);
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

    EXPECT_EQ(Say("AT+CPMS?\r"), "AT+CPMS?\r\r\n+CPMS: \"SM_P\",0,40,\"SM_P\",0,40,\"SM_P\",0,40\r\n\r\nOK\r\n");
    modem.StoreSms("+79111111111", "a");
    modem.StoreSms("+79111111112", "b");
    EXPECT_EQ(Say("AT+CPMS?\r"), "AT+CPMS?\r\r\n+CPMS: \"SM_P\",2,40,\"SM_P\",2,40,\"SM_P\",2,40\r\n\r\nOK\r\n");
}

TEST_F(Dialogue, ReadsAStoredMessageAsUcs2HexAndMarksItRead)
{
    TextMode("UCS2");
    ASSERT_EQ(modem.StoreSms("+79111111111", "Тревога №1").index, 1);
    ASSERT_EQ(modem.StoreSms("+79111111111", "Ёлка ёж").index, 2);

    const std::string alarmHex = "0422" "0440" "0435" "0432" "043E" "0433" "0430" "0020" "2116" "0031";
    const std::string header = "\",\"" + kNumberHex + "\",\"\",\"" + kStamp + "\"\r\n";
    EXPECT_EQ(Say("AT+CMGR=1\r"), "AT+CMGR=1\r\r\n+CMGR: \"REC UNREAD" + header + alarmHex + "\r\n\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CMGR=1\r"), "AT+CMGR=1\r\r\n+CMGR: \"REC READ" + header + alarmHex + "\r\n\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CMGR=2\r"), "AT+CMGR=2\r\r\n+CMGR: \"REC UNREAD" + header +
                                      "0401" "043B" "043A" "0430" "0020" "0451" "0436" "\r\n\r\nOK\r\n");

    // A code between the next header and its body, once: in a read, then in a list.
    modem.InjectUrcInBody("RING");
    EXPECT_EQ(Say("AT+CMGR=1\r"), "AT+CMGR=1\r\r\n+CMGR: \"REC READ" + header + "\r\nRING\r\n" + alarmHex + "\r\n\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CMGR=1\r"), "AT+CMGR=1\r\r\n+CMGR: \"REC READ" + header + alarmHex + "\r\n\r\nOK\r\n");
    modem.InjectUrcInBody("+CMTI: \"SM_P\",3");
    EXPECT_EQ(Say("AT+CMGL=\"0041004C004C\"\r"),
              "AT+CMGL=\"0041004C004C\"\r\r\n+CMGL: 1,\"REC READ" + header + "\r\n+CMTI: \"SM_P\",3\r\n" + alarmHex +
                  "\r\n+CMGL: 2,\"REC READ" + header + "0401" "043B" "043A" "0430" "0020" "0451" "0436" "\r\n\r\nOK\r\n");

    // An empty index, and indexes outside the SIM.
    EXPECT_EQ(Say("AT+CMGR=3\r"), "AT+CMGR=3\r\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CMGR=40\r"), "AT+CMGR=40\r\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CMGR=41\r"), "AT+CMGR=41\r\r\n+CMS ERROR: 321\r\n");
    EXPECT_EQ(Say("AT+CMGR=0\r"), "AT+CMGR=0\r\r\n+CMS ERROR: 321\r\n");
    EXPECT_EQ(Say("AT+CMGR=x\r"), "AT+CMGR=x\r\r\nERROR\r\n");

    // An empty text and a long one come whole, from a number of any length.
    const std::string longNumber(30, '7');
    modem.StoreSms(longNumber, "");
    modem.StoreSms("+7900", std::string(2000, 'x'));
    std::string longHex;
    for (int i = 0; i < 30; ++i)
        longHex += "0037";
    EXPECT_EQ(Say("AT+CMGR=3\r"), "AT+CMGR=3\r\r\n+CMGR: \"REC UNREAD\",\"" + longHex + "\",\"\",\"" + kStamp +
                                      "\"\r\n\r\n\r\nOK\r\n");
    std::string xs;
    for (int i = 0; i < 2000; ++i)
        xs += "0078";
    const std::string reply = Say("AT+CMGR=4\r");
    EXPECT_NE(reply.find("\r\n" + xs + "\r\n\r\nOK\r\n"), std::string::npos) << reply.size();
}

TEST_F(Dialogue, StartsInPduModeAndAnswersTheCharacterSetInForce)
{
    modem.StoreSms("+79111111111", "Тест ok");
    // The whole delivery, written out by hand: the service centre, fo 04, the
    // sender, PID 00, DCS 08, the time stamp in swapped semi-octets, UDL, UCS2.
    EXPECT_EQ(Say("AT+CMGR=1\r"), "AT+CMGR=1\r\r\n+CMGR: 0,\"\",33\r\n"
                                   "07919700000000F0" "04" "0B919711111111F1" "00" "08" "42507101030021"
                                   "0E" "04220435044104420020006F006B\r\n\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CMGS=\"+79111111111\"\r"), "AT+CMGS=\"+79111111111\"\r\r\nERROR\r\n");
    EXPECT_EQ(Say("AT+CSCS?\r"), "AT+CSCS?\r\r\n+CSCS: \"GSM\"\r\n\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CSCS=\"KOI8\"\r"), "AT+CSCS=\"KOI8\"\r\r\nERROR\r\n");

    TextMode("IRA");
    // Read once in PDU mode, it is read now.
    EXPECT_EQ(Say("AT+CMGR=1\r"), "AT+CMGR=1\r\r\n+CMGR: \"REC READ\",\"+79111111111\",\"\",\"" + kStamp +
                                      "\"\r\n???? ok\r\n\r\nOK\r\n");
}

TEST_F(Dialogue, DeletesByIndexAndByFlag)
{
    TextMode("UCS2");
    for (int i = 1; i <= 3; ++i)
        ASSERT_EQ(modem.StoreSms("+7900", std::to_string(i)).index, i);
    Say("AT+CMGR=1\r");
    Say("AT+CMGR=3\r");
    // Flag 2 takes the read messages and leaves the unread one.
    EXPECT_EQ(Say("AT+CMGD=1,2\r"), "AT+CMGD=1,2\r\r\nOK\r\n");
    ASSERT_EQ(modem.Messages().size(), 1u);
    EXPECT_EQ(modem.Messages()[0].index, 2);
    EXPECT_EQ(modem.StoreSms("+7900", "4").index, 1) << "the lowest free index is taken";

    EXPECT_EQ(Say("AT+CMGD=2\r"), "AT+CMGD=2\r\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CMGD=2\r"), "AT+CMGD=2\r\r\nOK\r\n") << "deleting an empty index is no error";
    ASSERT_EQ(modem.Messages().size(), 1u);
    EXPECT_EQ(Say("AT+CMGD=1,4\r"), "AT+CMGD=1,4\r\r\nOK\r\n");
    EXPECT_TRUE(modem.Messages().empty());

    for (const char* bad : {"AT+CMGD=1,5\r", "AT+CMGD=\r", "AT+CMGD=1,\r"})
        EXPECT_EQ(Say(bad), std::string(bad) + "\r\nERROR\r\n");
    for (const char* outside : {"AT+CMGD=0\r", "AT+CMGD=41\r"})
        EXPECT_EQ(Say(outside), std::string(outside) + "\r\n+CMS ERROR: 321\r\n");
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
    EXPECT_EQ(Say("AT+CMGF?\r"), "AT+CMGF?\r\r\n+CMGF: 0\r\n\r\nOK\r\n") << "text mode must be set again";
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

// ---------------------------------------------------------------- families

// "Тест", "Баланс:\n5 р." and "89111111111" in UCS2 hex.
const std::string kText = "0422" "0435" "0441" "0442";
const std::string kBalance = "0411" "0430" "043B" "0430" "043D" "0441" "003A" "000A" "0035" "0020" "0440" "002E";
const std::string kCallerHex = "0038" "0039" "0031" "0031" "0031" "0031" "0031" "0031" "0031" "0031" "0031";

// One step of a family's transcript: what the station writes ("@sms": a message
// from +79111111111 arrives; "@ring": 89111111111 calls), how long it then
// waits, and every byte the modem writes meanwhile.
struct Step {
    std::string send;
    Millis wait;
    std::string expect;
};
struct FamilyScript {
    const char* family;
    std::vector<Step> steps;
};

// After text mode, UCS2 and AT+CNMI=2,1: the storage report, an indication,
// the storage set to the SIM, a read, an empty index, one past the SIM, the
// list, the indication settings offered, a balance request in UCS2 hex and in
// plain text, an incoming call.
const FamilyScript kScripts[] = {
    {"sim800",
     {{"AT+CPMS?\r", 100, "AT+CPMS?\r\r\n+CPMS: \"SM_P\",0,40,\"SM_P\",0,40,\"SM_P\",0,40\r\n\r\nOK\r\n"},
      {"@sms", 300, "\r\n+CMTI: \"SM_P\",1\r\n"},
      {"AT+CPMS=\"SM\",\"SM\",\"SM\"\r", 100, "AT+CPMS=\"SM\",\"SM\",\"SM\"\r\r\n+CPMS: 1,40,1,40,1,40\r\n\r\nOK\r\n"},
      {"AT+CMGR=1\r", 100, "AT+CMGR=1\r\r\n+CMGR: \"REC UNREAD\",\"" + kNumberHex + "\",\"\",\"24/05/17,10:30:00+04\"\r\n" +
                              kText + "\r\n\r\nOK\r\n"},
      {"AT+CMGR=2\r", 100, "AT+CMGR=2\r\r\nOK\r\n"},
      {"AT+CMGR=41\r", 100, "AT+CMGR=41\r\r\n+CMS ERROR: 321\r\n"},
      {"AT+CMGL=\"0041004C004C\"\r", 100, "AT+CMGL=\"0041004C004C\"\r\r\n+CMGL: 1,\"REC READ\",\"" + kNumberHex +
                                             "\",\"\",\"24/05/17,10:30:00+04\"\r\n" + kText + "\r\n\r\nOK\r\n"},
      {"AT+CNMI=?\r", 100, "AT+CNMI=?\r\r\n+CNMI: (0-3),(0-3),(0,2),(0,1),(0,1)\r\n\r\nOK\r\n"},
      {"AT+CUSD=1,\"002A0031003000300023\",15\r", 1500,
       "AT+CUSD=1,\"002A0031003000300023\",15\r\r\nOK\r\n\r\n+CUSD: 0, \"" + kBalance + "\", 72\r\n"},
      {"AT+CUSD=1,\"*100#\",15\r", 1500, "AT+CUSD=1,\"*100#\",15\r\r\nERROR\r\n"},
      {"@ring", 300, "\r\nRING\r\n"},
      {"AT+CLCC\r", 100, "AT+CLCC\r\r\n+CLCC: 1,1,4,0,0,\"89111111111\",129\r\n\r\nOK\r\n"}}},
    {"huawei",
     {{"AT+CPMS?\r", 100, "AT+CPMS?\r\r\n+CPMS: \"SM\",0,10,\"SM\",0,10,\"SM\",0,10\r\n\r\nOK\r\n"},
      {"@sms", 300, "\r\n+CMTI: \"SM\",1\r\n"},
      {"AT+CPMS=\"SM\",\"SM\",\"SM\"\r", 100, "AT+CPMS=\"SM\",\"SM\",\"SM\"\r\r\n+CPMS: 1,10,1,10,1,10\r\n\r\nOK\r\n"},
      {"AT+CMGR=1\r", 100, "AT+CMGR=1\r\r\n+CMGR: \"REC UNREAD\",\"" + kNumberHex + "\",,\"24/05/17,10:30:00+04\"\r\n" +
                              kText + "\r\n\r\nOK\r\n"},
      {"AT+CMGR=2\r", 100, "AT+CMGR=2\r\r\n+CMS ERROR: 500\r\n"},
      {"AT+CMGR=11\r", 100, "AT+CMGR=11\r\r\n+CMS ERROR: 321\r\n"},
      {"AT+CMGL=\"0041004C004C\"\r", 100, "AT+CMGL=\"0041004C004C\"\r\r\n+CMGL: 1,\"REC READ\",\"" + kNumberHex +
                                             "\",,\"24/05/17,10:30:00+04\"\r\n" + kText + "\r\n\r\nOK\r\n"},
      {"AT+CNMI=?\r", 100, "AT+CNMI=?\r\r\n+CNMI: (0-2),(0-3),(0,2),(0-2),(0,1)\r\n\r\nOK\r\n"},
      {"AT+CUSD=1,\"002A0031003000300023\",15\r", 1500, "AT+CUSD=1,\"002A0031003000300023\",15\r\r\nERROR\r\n"},
      {"AT+CUSD=1,\"*100#\",15\r", 1500,
       "AT+CUSD=1,\"*100#\",15\r\r\nOK\r\n\r\n+CUSD: 0,\"" + kBalance + "\",72\r\n"},
      {"@ring", 300, "\r\nRING\r\n"},
      {"AT+CLCC\r", 100, "AT+CLCC\r\r\n+CLCC: 1,1,4,0,0,\"89111111111\",129,\"\"\r\n\r\nOK\r\n"}}},
    {"siemens",
     {{"AT+CPMS?\r", 100, "AT+CPMS?\rAT+CPMS?\r\r\n+CPMS: \"SM\",0,50,\"SM\",0,50,\"SM\",0,50\r\n\r\nOK\r\n"},
      {"@sms", 300, "\r\n+CMTI: \"SM\",1\r\n"},
      {"AT+CPMS=\"SM\",\"SM\",\"SM\"\r", 100,
       "AT+CPMS=\"SM\",\"SM\",\"SM\"\rAT+CPMS=\"SM\",\"SM\",\"SM\"\r\r\n+CPMS: 1,50,1,50,1,50\r\n\r\nOK\r\n"},
      {"AT+CMGR=1\r", 100, "AT+CMGR=1\rAT+CMGR=1\r\r\n+CMGR: \"REC UNREAD\",\"+79111111111\",,\"24/05/17,10:30:00+4\"\r\n" +
                              kText + "\r\n\r\nOK\r\n"},
      {"AT+CMGR=2\r", 100, "AT+CMGR=2\rAT+CMGR=2\r\r\n+CMGR: 0,,0\r\n\r\nOK\r\n"},
      {"AT+CMGR=51\r", 100, "AT+CMGR=51\rAT+CMGR=51\r\r\n+CMS ERROR: 321\r\n"},
      {"AT+CMGL=\"0041004C004C\"\r", 100,
       "AT+CMGL=\"0041004C004C\"\rAT+CMGL=\"0041004C004C\"\r\r\n+CMGL: 1,\"REC READ\",\"+79111111111\",,"
       "\"24/05/17,10:30:00+4\"\r\n" + kText + "\r\n\r\nOK\r\n"},
      {"AT+CNMI=?\r", 100, "AT+CNMI=?\rAT+CNMI=?\r\r\n+CNMI: (0-3),(0,1),(0,2,3),(0,2),(1)\r\n\r\nOK\r\n"},
      {"AT+CUSD=1,\"002A0031003000300023\",15\r", 1500,
       "AT+CUSD=1,\"002A0031003000300023\",15\rAT+CUSD=1,\"002A0031003000300023\",15\r\r\nOK\r\n"
       "\r\n+CUSD: 2\r\n\r\n+CUSD: 0,\"" + kBalance + "\",72\r\n"},
      {"AT+CUSD=1,\"*100#\",15\r", 1500,
       "AT+CUSD=1,\"*100#\",15\rAT+CUSD=1,\"*100#\",15\r\r\nOK\r\n\r\n+CUSD: 2\r\n\r\n+CUSD: 0,\"" + kBalance +
           "\",72\r\n"},
      {"@ring", 300, "\r\nRING\r\n"},
      {"AT+CLCC\r", 100, "AT+CLCC\rAT+CLCC\r\r\n+CLCC: 1,1,4,0,0,\"89111111111\",129,\"\"\r\n\r\nOK\r\n"}}},
    {"quectel",
     {{"AT+CPMS?\r", 100, "AT+CPMS?\r\r\n+CPMS: \"SM\",0,30,\"SM\",0,30,\"SM\",0,30\r\n\r\nOK\r\n"},
      {"@sms", 300, "\r\n+CMTI: \"SM\",1\r\n"},
      {"AT+CPMS=\"SM\",\"SM\",\"SM\"\r", 100, "AT+CPMS=\"SM\",\"SM\",\"SM\"\r\r\n+CPMS: 1,30,1,30,1,30\r\n\r\nOK\r\n"},
      {"AT+CMGR=1\r", 100, "AT+CMGR=1\r\r\n+CMGR: \"REC UNREAD\",\"" + kNumberHex + "\",\"\",\"24/05/17,10:30:00+04\"\r\n" +
                              kText + "    \r\n\r\nOK\r\n"},
      {"AT+CMGR=2\r", 100, "AT+CMGR=2\r\r\nOK\r\n"},
      {"AT+CMGR=31\r", 100, "AT+CMGR=31\r\r\n+CMS ERROR: 321\r\n"},
      {"AT+CMGL=\"0041004C004C\"\r", 100, "AT+CMGL=\"0041004C004C\"\r\r\n+CMGL: 1,\"REC READ\",\"" + kNumberHex +
                                             "\",\"\",\"24/05/17,10:30:00+04\"\r\n" + kText + "    \r\n\r\nOK\r\n"},
      {"AT+CNMI=?\r", 100, "AT+CNMI=?\r\r\n+CNMI: (0-2),(0-3),(0,2),(0-2),(0,1)\r\n\r\nOK\r\n"},
      {"AT+CUSD=1,\"002A0031003000300023\",15\r", 1500,
       "AT+CUSD=1,\"002A0031003000300023\",15\r\r\n+CUSD: 0,\"" + kBalance + "\",15\r\n\r\nOK\r\n"},
      {"AT+CUSD=1,\"*100#\",15\r", 1500, "AT+CUSD=1,\"*100#\",15\r\r\n+CUSD: 0,\"" + kBalance + "\",15\r\n\r\nOK\r\n"},
      {"@ring", 300, "\r\nRING\r\n"},
      {"AT+CLCC\r", 100, "AT+CLCC\r\r\n+CLCC: 1,1,4,0,0,\"" + kCallerHex + "\",129,\"\"\r\n\r\nOK\r\n"}}},
    {"wavecom",
     {{"AT+CPMS?\r", 100, "AT+CPMS?\r\r\r\n+CPMS: \"SM\", 0, 20, \"SM\", 0, 20, \"SM\", 0, 20\r\r\n\r\r\nOK\r\r\n"},
      {"@sms", 300, "\r\r\n+CMTI: \"SM\", 1\r\r\n"},
      {"AT+CPMS=\"SM\",\"SM\",\"SM\"\r", 100,
       "AT+CPMS=\"SM\",\"SM\",\"SM\"\r\r\r\n+CPMS: 1, 20, 1, 20, 1, 20\r\r\n\r\r\nOK\r\r\n"},
      {"AT+CMGR=1\r", 100, "AT+CMGR=1\r\r\r\n+CMGR: \"REC UNREAD\", \"+79111111111\", \"2024/5/17,10:30:00\"\r\r\n" +
                              kText + "\r\r\n\r\r\nOK\r\r\n"},
      {"AT+CMGR=2\r", 100, "AT+CMGR=2\r\r\r\n+CMS ERROR: 321\r\r\n"},
      {"AT+CMGR=21\r", 100, "AT+CMGR=21\r\r\r\n+CMS ERROR: 321\r\r\n"},
      {"AT+CMGL=\"0041004C004C\"\r", 100,
       "AT+CMGL=\"0041004C004C\"\r\r\r\n+CMGL: 1, \"REC READ\", \"+79111111111\", \"2024/5/17,10:30:00\"\r\r\n" + kText +
           "\r\r\n\r\r\nOK\r\r\n"},
      {"AT+CNMI=?\r", 100, "AT+CNMI=?\r\r\r\n+CNMI: (0-3),(0-3),(0-3),(0-2),(0,1)\r\r\n\r\r\nOK\r\r\n"},
      // A bare LF stands where the text breaks its line.
      {"AT+CUSD=1,\"002A0031003000300023\",15\r", 1500,
       "AT+CUSD=1,\"002A0031003000300023\",15\r\r\r\n+CUSD: 0, \"0411" "0430" "043B" "0430" "043D" "0441" "003A\n"
       "0035" "0020" "0440" "002E\", 72\r\r\n\r\r\nOK\r\r\n"},
      {"AT+CUSD=1,\"*100#\",15\r", 1500,
       "AT+CUSD=1,\"*100#\",15\r\r\r\n+CUSD: 0, \"0411" "0430" "043B" "0430" "043D" "0441" "003A\n"
       "0035" "0020" "0440" "002E\", 72\r\r\n\r\r\nOK\r\r\n"},
      {"@ring", 300, "\r\r\nRING\r\r\n"},
      {"AT+CLCC\r", 100, "AT+CLCC\r\r\r\n+CLCC: 1, 1, 4, 0, 0, \"89111111111\", 161, \"\"\r\r\n\r\r\nOK\r\r\n"}}},
    {"cinterion",
     {{"AT+CPMS?\r", 100, "AT+CPMS?\r\r\n+CPMS: \"ME\",0,25,\"ME\",0,25,\"SM\",0,20\r\n\r\nOK\r\n"},
      // Received into the SIM, while reads still look at the modem's own memory.
      {"@sms", 300, "\r\n+CMTI: \"SM\",1\r\n"},
      {"AT+CPMS=\"SM\",\"SM\",\"SM\"\r", 100, "AT+CPMS=\"SM\",\"SM\",\"SM\"\r\r\n+CPMS: 1,20,1,20,1,20\r\n\r\nOK\r\n"},
      {"AT+CMGR=1\r", 100, "AT+CMGR=1\r\r\n+CMGR: \"REC UNREAD\",\"" + kNumberHex + "\",,\"24/05/17,10:30:00+04\"\r\n" +
                              kText + "\r\n\r\nOK\r\n"},
      {"AT+CMGR=2\r", 100, "AT+CMGR=2\r\r\n+CMGR: 0,,0\r\n\r\nOK\r\n"},
      {"AT+CMGR=21\r", 100, "AT+CMGR=21\r\r\n+CMS ERROR: 321\r\n"},
      {"AT+CMGL=\"0041004C004C\"\r", 100, "AT+CMGL=\"0041004C004C\"\r\r\n+CMGL: 1,\"REC READ\",\"" + kNumberHex +
                                             "\",,\"24/05/17,10:30:00+04\"\r\n" + kText + "\r\n\r\nOK\r\n"},
      {"AT+CNMI=?\r", 100, "AT+CNMI=?\r\r\n+CNMI: (0-3),(0,1),(0,2,3),(0,2),(1)\r\n\r\nOK\r\n"},
      {"AT+CUSD=1,\"002A0031003000300023\",15\r", 1500,
       "AT+CUSD=1,\"002A0031003000300023\",15\r\r\nOK\r\n\r\n+CUSD: 0,\"" + kBalance + "\",72\r\n"},
      {"AT+CUSD=1,\"*100#\",15\r", 1500, "AT+CUSD=1,\"*100#\",15\r\r\nOK\r\n\r\n+CUSD: 0,\"" + kBalance + "\",72\r\n"},
      {"@ring", 300, "\r\nRING\r\n"},
      {"AT+CLCC\r", 100, "AT+CLCC\r\r\n+CLCC: 1,1,4,0,0,\"" + kCallerHex + "\",129,\"\"\r\n\r\nOK\r\n"}}},
    {"telit",
     {{"AT+CPMS?\r", 100, "AT+CPMS?\r\r\n+CPMS: \"SM\",0,30,\"SM\",0,30,\"SM\",0,30\r\n\r\nOK\r\n"},
      {"@sms", 300, "\r\n+CMTI: \"SM\",1\r\n"},
      {"AT+CPMS=\"SM\",\"SM\",\"SM\"\r", 100, "AT+CPMS=\"SM\",\"SM\",\"SM\"\r\r\n+CPMS: 1,30,1,30,1,30\r\n\r\nOK\r\n"},
      {"AT+CMGR=1\r", 100, "AT+CMGR=1\r\r\n+CMGR: \"REC UNREAD\",\"" + kNumberHex + "\",\"\",\"24/05/17,10:30:00+04\"\r\n" +
                              kText + "\r\n\r\nOK\r\n"},
      {"AT+CMGR=2\r", 100, "AT+CMGR=2\r\r\nERROR\r\n"},
      {"AT+CMGR=31\r", 100, "AT+CMGR=31\r\r\n+CMS ERROR: 321\r\n"},
      {"AT+CMGL=\"0041004C004C\"\r", 100, "AT+CMGL=\"0041004C004C\"\r\r\n+CMGL: 1,\"REC READ\",\"" + kNumberHex +
                                             "\",\"\",\"24/05/17,10:30:00+04\"\r\n" + kText + "\r\n\r\nOK\r\n"},
      {"AT+CNMI=?\r", 100, "AT+CNMI=?\r\r\n+CNMI: (0-3),(0-3),(0,2),(0-2),(0,1)\r\n\r\nOK\r\n"},
      {"AT+CUSD=1,\"002A0031003000300023\",15\r", 1500,
       "AT+CUSD=1,\"002A0031003000300023\",15\r\r\nOK\r\n\r\n+CUSD: 0,\"" + kBalance + "\",17\r\n"},
      {"AT+CUSD=1,\"*100#\",15\r", 1500, "AT+CUSD=1,\"*100#\",15\r\r\nOK\r\n\r\n+CUSD: 0,\"" + kBalance + "\",17\r\n"},
      {"@ring", 300, "\r\nRING\r\n"},
      {"AT+CLCC\r", 100, "AT+CLCC\r\r\n+CLCC: 1,1,4,0,0,\"89111111111\",161,\"\"\r\n\r\nOK\r\n"}}},
    {"lte",
     {{"AT+CPMS?\r", 100, "AT+CPMS?\r\r\n+CPMS: \"SM\",0,30,\"SM\",0,30,\"SM\",0,30\r\n\r\nOK\r\n"},
      {"@sms", 300, "\r\n+CMTI: \"SM\",1\r\n"},
      {"AT+CPMS=\"SM\",\"SM\",\"SM\"\r", 100, "AT+CPMS=\"SM\",\"SM\",\"SM\"\r\r\n+CPMS: 1,30,1,30,1,30\r\n\r\nOK\r\n"},
      {"AT+CMGR=1\r", 100, "AT+CMGR=1\r\r\n+CMGR: \"REC UNREAD\",\"" + kNumberHex + "\",\"\",\"24/05/17,10:30:00+04\"\r\n" +
                              kText + "\r\n\r\nOK\r\n"},
      {"AT+CMGR=2\r", 100, "AT+CMGR=2\r\r\nOK\r\n"},
      {"AT+CMGR=31\r", 100, "AT+CMGR=31\r\r\n+CMS ERROR: 321\r\n"},
      {"AT+CMGL=\"0041004C004C\"\r", 100, "AT+CMGL=\"0041004C004C\"\r\r\n+CMGL: 1,\"REC READ\",\"" + kNumberHex +
                                             "\",\"\",\"24/05/17,10:30:00+04\"\r\n" + kText + "\r\n\r\nOK\r\n"},
      {"AT+CNMI=?\r", 100, "AT+CNMI=?\r\r\n+CNMI: (0-3),(0-3),(0-2),(0-2),(0,1)\r\n\r\nOK\r\n"},
      {"AT+CUSD=1,\"002A0031003000300023\",15\r", 1500,
       "AT+CUSD=1,\"002A0031003000300023\",15\r\r\nOK\r\n\r\n+CUSD: 0, \"" + kBalance + "\", 72\r\n"},
      {"AT+CUSD=1,\"*100#\",15\r", 1500,
       "AT+CUSD=1,\"*100#\",15\r\r\nOK\r\n\r\n+CUSD: 0, \"" + kBalance + "\", 72\r\n"},
      {"@ring", 300, "\r\nRING\r\n"},
      {"AT+CLCC\r", 100, "AT+CLCC\r\r\n+CLCC: 1,1,4,0,0,\"89111111111\",129,\"\"\r\n\r\nOK\r\n"}}},
};

void PrintTo(const FamilyScript& script, std::ostream* out) { *out << script.family; }

class FamilyDialogue : public Dialogue, public ::testing::WithParamInterface<FamilyScript> {
protected:
    // Text mode, UCS2 and indications, whatever the family's framing.
    void Become(const char* family)
    {
        modem = SimModem(Options(family, "24/05/17,10:30:00+04"));
        modem.SetBalance("Баланс:\n5 р.");
        for (const char* line : {"AT+CMGF=1\r", "AT+CSCS=\"UCS2\"\r", "AT+CNMI=2,1\r"}) {
            const std::string answer = Say(line);
            ASSERT_NE(answer.find("OK\r"), std::string::npos) << line << answer;
        }
    }
};

TEST_P(FamilyDialogue, AnswerTheStationsCommandsByteForByte)
{
    Become(GetParam().family);
    for (const Step& step : GetParam().steps) {
        std::string got;
        if (step.send == "@sms") {
            modem.StoreSms("+79111111111", "Тест");
            got = Wait(step.wait);
        } else if (step.send == "@ring") {
            modem.Ring("89111111111", now);
            got = Wait(step.wait);
        } else {
            got = Say(step.send, step.wait);
        }
        EXPECT_EQ(EscapeBytes(got), EscapeBytes(step.expect)) << GetParam().family << ": " << EscapeBytes(step.send);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFamily, FamilyDialogue, ::testing::ValuesIn(kScripts),
                         [](const auto& info) { return std::string(info.param.family); });

TEST(FamilyTable, EveryFamilyHasItsScript)
{
    ASSERT_EQ(std::size(kScripts), Families().size());
    for (size_t i = 0; i < std::size(kScripts); ++i)
        EXPECT_EQ(kScripts[i].family, Families()[i].name);
}

TEST_F(FamilyDialogue, UnsolicitedCodesComeWhenTheFamilyLetsThem)
{
    // Any time: between a command's echo and its reply.
    Become("sim800");
    modem.Receive("AT+CSQ\r", now);
    modem.InjectUrc("+CREG: 1", now);
    EXPECT_EQ(Wait(100), "AT+CSQ\r\r\n+CREG: 1\r\n\r\n+CSQ: 21,0\r\n\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CMGS=\"002B0037\"\r"), "AT+CMGS=\"002B0037\"\r\r\n> ");
    modem.InjectUrc("RING", now);
    EXPECT_EQ(Wait(100), "\r\nRING\r\n") << "even while the text of an SMS is awaited";
    EXPECT_EQ(Say("\x1b"), "\r\nOK\r\n");

    // Held until the command in flight has its final result.
    Become("quectel");
    modem.Receive("AT+CSQ\r", now);
    modem.InjectUrc("+CREG: 1", now);
    EXPECT_EQ(Wait(100), "AT+CSQ\r\r\n+CSQ: 21,0\r\n\r\nOK\r\n\r\n+CREG: 1\r\n");
    EXPECT_EQ(Say("AT+CMGS=\"002B0037\"\r"), "AT+CMGS=\"002B0037\"\r\r\n> ");
    modem.InjectUrc("RING", now);
    EXPECT_EQ(Wait(5000), "");
    EXPECT_EQ(Say("0031\x1a"), "0031\r\n+CMGS: 1\r\n\r\nOK\r\n\r\nRING\r\n");

    // A moment late, so that it crosses the next command: in front of its echo.
    Become("huawei");
    modem.InjectUrc("+CMTI: \"SM\",3", now);
    EXPECT_EQ(Say("AT+CPIN?\r"), "+CMTI: \"SM\",3\r\nAT+CPIN?\r\r\n+CPIN: READY\r\n\r\nOK\r\n");
    modem.InjectUrc("+CREG: 1", now);
    EXPECT_EQ(Wait(200), "");
    EXPECT_EQ(Wait(100), "\r\n+CREG: 1\r\n") << "with no command, after the moment";
}

TEST_F(FamilyDialogue, NoiseIsHarmlessCodesOfTheFamilyOnly)
{
    Become("huawei");
    modem.SetNoise(true, now);
    std::string heard;
    for (int i = 0; i < 40; ++i)
        heard += Wait(10000);
    modem.SetNoise(false, now);
    EXPECT_EQ(Wait(60000), "");
    int codes = 0;
    for (size_t at = 0; (at = heard.find("\r\n", at)) != std::string::npos; at += 2) {
        const size_t end = heard.find("\r\n", at + 2);
        ASSERT_NE(end, std::string::npos);
        const std::string line = heard.substr(at + 2, end - at - 2);
        const auto& noise = modem.CurrentFamily().noise;
        EXPECT_NE(std::find(noise.begin(), noise.end(), line), noise.end()) << line;
        ++codes;
        at = end;
    }
    EXPECT_GE(codes, 20) << "one every 3 to 15 s over 400 s";
    EXPECT_EQ(Say("AT\r"), "AT\r\r\nOK\r\n");
}

TEST_F(FamilyDialogue, AReadRightAfterItsIndicationIsRefusedOnce)
{
    Become("siemens");
    modem.StoreSms("+79111111111", "Тест");
    EXPECT_EQ(Wait(0), "\r\n+CMTI: \"SM\",1\r\n");
    EXPECT_EQ(Say("AT+CMGR=1\r"), "AT+CMGR=1\rAT+CMGR=1\r\r\n+CMS ERROR: 321\r\n");
    EXPECT_NE(Say("AT+CMGR=1\r").find(kText), std::string::npos);
    EXPECT_EQ(modem.Messages().at(0).status, "REC READ");
}

TEST_F(FamilyDialogue, AFullSimLeavesTheRestAtTheNetworkUntilMessagesAreDeleted)
{
    Become("huawei");
    for (int i = 1; i <= 12; ++i)
        EXPECT_EQ(modem.StoreSms("+7900", "m" + std::to_string(i)).stored, i <= 10) << i;
    std::string announced = Wait(300);
    EXPECT_NE(announced.find("+CMTI: \"SM\",10\r\n"), std::string::npos);
    EXPECT_EQ(announced.find("+CMTI: \"SM\",11"), std::string::npos);
    ASSERT_EQ(modem.Waiting().size(), 2u);
    EXPECT_EQ(modem.Waiting()[0].second, "m11");

    EXPECT_EQ(Say("AT+CMGD=4\r"), "AT+CMGD=4\r\r\nOK\r\n");
    EXPECT_EQ(Wait(1500), "\r\n+CMTI: \"SM\",4\r\n") << "the network tries again";
    EXPECT_EQ(modem.Messages()[3].text, "m11");
    EXPECT_EQ(modem.StoreSms("+7900", "m13").stored, false) << "later ones queue behind";
    Say("AT+CMGD=1,4\r");
    Wait(1500);
    std::vector<std::string> texts;
    for (const StoredSms& sms : modem.Messages())
        texts.push_back(sms.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"m12", "m13"}));
    EXPECT_TRUE(modem.Waiting().empty());
}

TEST_F(FamilyDialogue, AnotherFamilyTakesOverAtTheNextPowerOnWithTheSameMessages)
{
    Become("sim800");
    for (int i = 1; i <= 12; ++i)
        modem.StoreSms("+7900", "m" + std::to_string(i));
    Wait(100);
    modem.SetNextFamily(*FindFamily("wavecom"));
    EXPECT_EQ(Say("AT+CMGR=20\r"), "AT+CMGR=20\r\r\nOK\r\n") << "the old family until the restart";
    modem.Unplug();
    modem.PlugIn();
    EXPECT_EQ(modem.CurrentFamily().name, "wavecom");
    EXPECT_EQ(Say("AT+CPMS?\r"), "AT+CPMS?\r\r\r\n+CPMS: \"SM\", 12, 20, \"SM\", 12, 20, \"SM\", 12, 20\r\r\n\r\r\nOK\r\r\n");
    EXPECT_EQ(Say("AT+CMGF=1\r"), "AT+CMGF=1\r\r\r\nOK\r\r\n");
    EXPECT_EQ(Say("AT+CMGR=13\r"), "AT+CMGR=13\r\r\r\n+CMS ERROR: 321\r\r\n");

    // Back to a smaller SIM: what does not fit waits at the network, nothing is lost.
    modem.SetNextFamily(*FindFamily("huawei"));
    modem.Unplug();
    modem.PlugIn();
    EXPECT_EQ(modem.Messages().size(), 10u);
    ASSERT_EQ(modem.Waiting().size(), 2u);
    EXPECT_EQ(modem.Waiting()[1].second, "m12");
}

TEST_F(FamilyDialogue, IndicationsFollowTheSettingsTheModemOffers)
{
    Become("siemens");
    EXPECT_EQ(Say("AT+CNMI=2,1,0,0,0\r"), "AT+CNMI=2,1,0,0,0\rAT+CNMI=2,1,0,0,0\r\r\n+CMS ERROR: 302\r\n");
    EXPECT_EQ(Say("AT+CNMI=2,1,0,0,1\r"), "AT+CNMI=2,1,0,0,1\rAT+CNMI=2,1,0,0,1\r\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CNMI=2,2\r"), "AT+CNMI=2,2\rAT+CNMI=2,2\r\r\n+CMS ERROR: 302\r\n") << "(0,1) only";

    // Mode 0 keeps them in the modem until a mode that sends them (bfr 0).
    Become("sim800");
    Say("AT+CNMI=0,1\r");
    modem.StoreSms("+7900", "a");
    EXPECT_EQ(Wait(1000), "");
    EXPECT_EQ(Say("AT+CNMI=2,1,0,0,0\r"), "AT+CNMI=2,1,0,0,0\r\r\nOK\r\n\r\n+CMTI: \"SM_P\",1\r\n");
    EXPECT_EQ(Say("AT+CNMI?\r"), "AT+CNMI?\r\r\n+CNMI: 2,1,0,0,0\r\n\r\nOK\r\n");
    // Routed to the line, a message is not stored.
    Say("AT+CNMI=2,2\r");
    EXPECT_EQ(modem.StoreSms("+7900", "b").index, 0);
    EXPECT_EQ(Wait(100), "\r\n+CMT: \"002B0037003900300030\",\"\",\"24/05/17,10:30:00+04\"\r\n0062\r\n");
    EXPECT_EQ(modem.Messages().size(), 1u);

    // A modem without indications.
    Become("sim800");
    modem.SetIndications(false);
    EXPECT_EQ(Say("AT+CNMI=?\r"), "AT+CNMI=?\r\r\nERROR\r\n");
    modem.StoreSms("+7900", "c");
    EXPECT_EQ(Wait(1000), "");
}

TEST_F(FamilyDialogue, ErrorsListsAndPhonebookNames)
{
    Become("quectel");
    EXPECT_EQ(Say("AT+CMGL=\"ALL\"\r"), "AT+CMGL=\"ALL\"\r\r\n+CMS ERROR: 305\r\n") << "hex only under UCS2";
    EXPECT_EQ(Say("AT+CMEE=2\r"), "AT+CMEE=2\r\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CMGR=99\r"), "AT+CMGR=99\r\r\n+CMS ERROR: invalid memory index\r\n");

    Become("sim800");
    modem.SetContact("+79111111111", "Склад");
    modem.StoreSms("+79111111111", "Тест");
    modem.StoreSms("+7900", "a");
    Say("AT+CMGR=2\r");
    // Without a status the list holds the unread ones; the plain status is taken too.
    EXPECT_EQ(Say("AT+CMGL\r"), "AT+CMGL\r\r\n+CMGL: 1,\"REC UNREAD\",\"" + kNumberHex +
                                    "\",\"0421043A043B04300434\",\"24/05/17,10:30:00+04\"\r\n" + kText + "\r\n\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CMGL=\"REC UNREAD\"\r"), "AT+CMGL=\"REC UNREAD\"\r\r\nOK\r\n");
    EXPECT_EQ(Say("AT+CMGL=\"BOGUS\"\r"), "AT+CMGL=\"BOGUS\"\r\r\n+CMS ERROR: 305\r\n");

    // The caller's line identification, and the extended ring.
    Say("AT+CLIP=1\r");
    Say("AT+CRC=1\r");
    modem.Ring("+79111111111", now);
    EXPECT_EQ(Wait(100), "\r\n+CRING: VOICE\r\n\r\n+CLIP: \"+79111111111\",145,,,\"0421043A043B04300434\",0\r\n");
    modem.Ring("+79000000002", now);
    Say("ATH\r");
    modem.Ring("+79000000002", now);
    EXPECT_EQ(Wait(100), "\r\n+CRING: VOICE\r\n\r\n+CLIP: \"+79000000002\",145,,,,0\r\n");
}

TEST_F(FamilyDialogue, BalanceRefusals)
{
    Become("sim800");
    modem.RefuseNextUssd(UssdRefusal::Cusd4);
    EXPECT_EQ(Say("AT+CUSD=1,\"002A0031003000300023\",15\r", 1500),
              "AT+CUSD=1,\"002A0031003000300023\",15\r\r\nOK\r\n\r\n+CUSD: 4\r\n");
    Say("AT+CMEE=1\r");
    modem.RefuseNextUssd(UssdRefusal::Cme132);
    EXPECT_EQ(Say("AT+CUSD=1,\"002A0031003000300023\",15\r", 1500),
              "AT+CUSD=1,\"002A0031003000300023\",15\r\r\nOK\r\n\r\n+CME ERROR: 132\r\n") << "after the OK";
    EXPECT_NE(Say("AT+CUSD=1,\"002A0031003000300023\",15\r", 1500).find("+CUSD: 0, "), std::string::npos)
        << "only the next answer is refused";

    // A family that answers before its OK refuses in place of the OK.
    Become("quectel");
    modem.RefuseNextUssd(UssdRefusal::Cme132);
    EXPECT_EQ(Say("AT+CUSD=1,\"*100#\",15\r", 1500), "AT+CUSD=1,\"*100#\",15\r\r\nERROR\r\n");
}

TEST_F(FamilyDialogue, DiallingAnswers)
{
    struct Case {
        const char* family;
        DialAnswer answer;
        std::string atOnce, later;
        const char* outcome;
    };
    const Case cases[] = {
        {"sim800", DialAnswer::NoAnswer, "OK", "NO ANSWER", "no answer"},
        {"huawei", DialAnswer::NoAnswer, "OK", "NO CARRIER", "no answer"},
        {"sim800", DialAnswer::NoDialtone, "OK", "NO DIALTONE", "no dialtone"},
        {"telit", DialAnswer::NoCarrier, "OK", "NO CARRIER", "no carrier"},
        {"sim800", DialAnswer::Answer, "OK", "", "answered"},
        // OK only when the call is up: the verdict is the dial command's own result.
        {"siemens", DialAnswer::Busy, "", "BUSY", "busy"},
        {"siemens", DialAnswer::Answer, "", "OK", "answered"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.family + std::string(" ") + c.outcome);
        Become(c.family);
        modem.SetDialRule(DialRule{c.answer, 2000, 2000});
        const std::string echo = modem.CurrentFamily().doubleEcho ? "ATD+7900;\rATD+7900;\r" : "ATD+7900;\r";
        EXPECT_EQ(Say("ATD+7900;\r"), echo + (c.atOnce.empty() ? "" : "\r\n" + c.atOnce + "\r\n"));
        EXPECT_EQ(Wait(3000), c.later.empty() ? "" : "\r\n" + c.later + "\r\n");
        EXPECT_EQ(modem.Calls().back().outcome, c.outcome);
    }
    // A new command ends a call attempt that still waits for its result.
    Become("siemens");
    modem.SetDialRule(DialRule{DialAnswer::Never, 0, 0});
    EXPECT_EQ(Say("ATD+7900;\r", 5000), "ATD+7900;\rATD+7900;\r");
    EXPECT_EQ(Say("ATH\r"), "ATH\rATH\r\r\nNO CARRIER\r\n\r\nOK\r\n");
    EXPECT_EQ(modem.Calls().back().outcome, "hung up");
}

// ---------------------------------------------------------------- long messages

// Each "+CMGR:"/"+CMGL:" line of a reply with the line after it, line ends and
// a family's padding blanks taken off.
std::vector<std::pair<std::string, std::string>> Listed(const std::string& reply)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= reply.size()) {
        size_t end = reply.find('\n', start);
        if (end == std::string::npos)
            end = reply.size();
        std::string line = reply.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
        start = end + 1;
    }
    std::vector<std::pair<std::string, std::string>> out;
    for (size_t i = 0; i + 1 < lines.size(); ++i)
        if (lines[i].rfind("+CMGR: ", 0) == 0 || lines[i].rfind("+CMGL: ", 0) == 0)
            out.emplace_back(lines[i], lines[i + 1]);
    return out;
}

// The comma-separated fields of a header, blanks after the commas dropped.
std::vector<std::string> Fields(const std::string& header)
{
    std::vector<std::string> fields;
    std::string field;
    for (const char c : header.substr(7)) {
        if (c == ',') {
            fields.push_back(field);
            field.clear();
        } else if (c != ' ' || !field.empty()) {
            field.push_back(c);
        }
    }
    fields.push_back(field);
    return fields;
}

std::u16string Units(const std::string& utf8)
{
    const std::string hex = Utf8ToUcs2Hex(utf8);
    std::u16string units;
    for (size_t i = 0; i + 4 <= hex.size(); i += 4)
        units.push_back(static_cast<char16_t>(std::stoul(hex.substr(i, 4), nullptr, 16)));
    return units;
}

const std::string kLongAlarm =
    "Внимание ТРЕВОГА! Объект «Склад на Заводской, 12»: сработал датчик движения в зоне 3, "
    "температура +21°C, питание от батареи, заряд 15%. Проверьте объект немедленно.";

// A three-part UCS2 report with a 16-bit reference stored 3, 1, 2, read in text
// mode with the header fields on, then listed in PDU mode: every family, both ways.
TEST_F(FamilyDialogue, PartsOfALongReportInTextAndPduMode)
{
    const std::u16string whole = Units(kLongAlarm);
    ASSERT_EQ(kv::sms::SplitForSms(whole, kv::sms::Coding::Ucs2, true).size(), 3u);
    for (const Family& family : Families()) {
        SCOPED_TRACE(std::string(family.name));
        Become(std::string(family.name).c_str());
        Say("AT+CPMS=\"SM\",\"SM\",\"SM\"\r");
        ASSERT_NE(Say("AT+CSDH=1\r").find("OK"), std::string::npos);
        const auto stored = modem.StoreLongSms("+79111111111", kLongAlarm, std::nullopt, true, 0x1234, {3, 1, 2});
        ASSERT_TRUE(stored);
        ASSERT_EQ(stored->size(), 3u);
        Wait(500);

        // Text mode: the read shows <fo> and <dcs>, the list only <tooa> and <length>.
        const auto read = Listed(Say("AT+CMGR=1\r"));
        ASSERT_EQ(read.size(), 1u);
        const std::vector<std::string> r = Fields(read[0].first);
        ASSERT_GE(r.size(), 7u);
        const std::vector<std::string> csdh(r.end() - 7, r.end());
        EXPECT_EQ(csdh[0], "145");
        EXPECT_EQ(csdh[1], family.dropsPartHeader ? "4" : "68");
        EXPECT_EQ(csdh[3], "8");
        EXPECT_EQ(csdh[5], "145");

        std::vector<std::u16string> texts(3);
        const auto listed = Listed(Say("AT+CMGL=\"0041004C004C\"\r"));
        ASSERT_EQ(listed.size(), 3u);
        for (const auto& [header, body] : listed) {
            const std::vector<std::string> f = Fields(header);
            EXPECT_EQ(f[f.size() - 2], "145") << header;
            if (family.dropsPartHeader) {
                // Nothing links the parts: the text alone, in the order stored.
                const auto text = Ucs2HexToUtf8(body);
                ASSERT_TRUE(text) << body;
                EXPECT_EQ(f.back(), std::to_string(Units(*text).size() * 2));
                texts[&body == &listed[0].second ? 2 : &body == &listed[1].second ? 0 : 1] = Units(*text);
                continue;
            }
            const auto octets = kv::sms::HexToOctets(body);
            ASSERT_TRUE(octets) << body;
            EXPECT_EQ(f.back(), std::to_string(octets->size())) << "octets with the header";
            const auto ud = kv::sms::DecodeUserData(*octets, true, kv::sms::Coding::Ucs2);
            ASSERT_TRUE(ud && ud->concat) << body;
            EXPECT_EQ(ud->concat->reference, 0x1234u);
            EXPECT_TRUE(ud->concat->wide);
            EXPECT_EQ(ud->concat->total, 3u);
            texts.at(ud->concat->part - 1) = ud->units;
        }
        EXPECT_EQ(texts[0] + texts[1] + texts[2], whole);

        // PDU mode: the whole delivery, whatever the family does in text mode.
        ASSERT_NE(Say("AT+CMGF=0\r").find("OK"), std::string::npos);
        texts.assign(3, u"");
        const auto pdus = Listed(Say("AT+CMGL=4\r"));
        ASSERT_EQ(pdus.size(), 3u);
        for (const auto& [header, body] : pdus) {
            const std::vector<std::string> f = Fields(header);
            ASSERT_EQ(f.size(), 4u) << header;
            EXPECT_EQ(f[1], "1") << "read in text mode";
            EXPECT_EQ(f[3], std::to_string(kv::sms::TpduLength(body)));
            const auto d = kv::sms::DecodeDeliverPdu(body);
            ASSERT_TRUE(d && d->data.concat) << body;
            EXPECT_EQ(d->sender, "+79111111111");
            EXPECT_EQ(d->smsc, "+79000000000");
            EXPECT_EQ(d->firstOctet, 0x44);
            EXPECT_EQ(d->data.concat->reference, 0x1234u);
            texts.at(d->data.concat->part - 1) = d->data.units;
        }
        EXPECT_EQ(texts[0] + texts[1] + texts[2], whole);
        modem.Receive("AT+CMGD=1,4\r", now);
        Wait(200);
    }
}

// Parts in text mode with the header kept: hex of the header then the user
// data, a 7-bit text packed after its fill bits whatever the character set.
// The expected octets were packed by hand.
TEST_F(FamilyDialogue, APartShowsItsHeaderAndUserDataAsHex)
{
    const struct {
        const char* family;
        const char* charset;
        const char* text;
        kv::sms::Coding coding;
        kv::sms::Concat concat;
        std::string body;
        const char* fo;
        const char* dcs;
        const char* length;
    } cases[] = {
        {"sim800", "UCS2", "hello", kv::sms::Coding::Gsm7, {0xA7, false, 2, 1}, "050003A70201D06536FB0D", "68", "0",
         "12"},
        {"sim800", "IRA", "hello", kv::sms::Coding::Gsm7, {0xA7, false, 2, 1}, "050003A70201D06536FB0D", "68", "0",
         "12"},
        {"telit", "UCS2", "Battery low", kv::sms::Coding::Gsm7, {0x1234, true, 3, 2},
         "06080412340302C2309D5E96E741ECF71D", "68", "0", "19"},
        {"huawei", "UCS2", "ТА", kv::sms::Coding::Ucs2, {0xA7, false, 2, 2}, "050003A7020204220410", "68", "8", "10"},
        {"lte", "UCS2", "hello", kv::sms::Coding::Gsm7, {0xA7, false, 2, 1}, "00680065006C006C006F", "4", "0", "5"},
        {"lte", "UCS2", "ТА", kv::sms::Coding::Ucs2, {0xA7, false, 2, 2}, "04220410", "4", "8", "4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.family) + " " + c.charset + " " + c.body);
        Become(c.family);
        Say("AT+CSCS=\"" + std::string(c.charset) + "\"\r");
        Say("AT+CSDH=1\r");
        const Delivery d = modem.StorePart("+79111111111", c.text, c.coding, c.concat);
        ASSERT_TRUE(d.stored);
        const auto read = Listed(Say("AT+CMGR=" + std::to_string(d.index) + "\r"));
        ASSERT_EQ(read.size(), 1u);
        EXPECT_EQ(read[0].second, c.body);
        const std::vector<std::string> f = Fields(read[0].first);
        ASSERT_GE(f.size(), 7u);
        EXPECT_EQ(f[f.size() - 6], c.fo);
        EXPECT_EQ(f[f.size() - 4], c.dcs);
        EXPECT_EQ(f.back(), c.length);
        modem.Receive("AT+CMGD=" + std::to_string(d.index) + "\r", now);
        Wait(200);
    }
}

TEST_F(Dialogue, PduModeListsByStatusNumberAndRoutesDeliveries)
{
    EXPECT_EQ(Say("AT+CMGF?\r"), "AT+CMGF?\r\r\n+CMGF: 0\r\n\r\nOK\r\n");
    modem.StoreSms("+79111111111", "first");
    modem.StoreSms("89111111111", "Второе");
    EXPECT_EQ(Listed(Say("AT+CMGR=2\r")).size(), 1u);
    const struct {
        const char* command;
        std::vector<std::string> indexes; // empty with `error`: refused
        bool error;
    } cases[] = {
        {"AT+CMGL=1\r", {"2"}, false},  {"AT+CMGL\r", {"1"}, false},  {"AT+CMGL=0\r", {}, false},
        {"AT+CMGL=4\r", {"1", "2"}, false}, {"AT+CMGL=\"ALL\"\r", {}, true}, {"AT+CMGL=5\r", {}, true},
        {"AT+CMGL=x\r", {}, true},
    };
    for (const auto& c : cases) {
        const std::string reply = Say(c.command);
        EXPECT_EQ(reply.find("\r\nERROR\r\n") != std::string::npos, c.error) << c.command << reply;
        std::vector<std::string> indexes;
        for (const auto& [header, body] : Listed(reply)) {
            indexes.push_back(Fields(header)[0]);
            EXPECT_TRUE(kv::sms::DecodeDeliverPdu(body)) << body;
        }
        EXPECT_EQ(indexes, c.indexes) << c.command;
    }
    const auto all = Listed(Say("AT+CMGL=4\r"));
    ASSERT_EQ(all.size(), 2u);
    const auto national = kv::sms::DecodeDeliverPdu(all[1].second);
    ASSERT_TRUE(national);
    EXPECT_EQ(national->sender, "89111111111");
    EXPECT_EQ(national->senderType, 0x81);
    EXPECT_EQ(national->timestamp, kStamp);
    EXPECT_EQ(national->data.units, u"Второе");

    // Routed to the line in PDU mode: "+CMT: [<alpha>],<length>" and the PDU.
    Say("AT+CNMI=2,2\r");
    modem.StoreSms("+79111111111", "now");
    const std::string cmt = Wait(300);
    const std::string pdu = kv::sms::EncodeDeliverPdu("+79000000000", "+79111111111", kStamp, kv::sms::Coding::Gsm7, u"now");
    EXPECT_EQ(cmt, "\r\n+CMT: ," + std::to_string(kv::sms::TpduLength(pdu)) + "\r\n" + pdu + "\r\n");
}

// A concatenated send in PDU mode: each part after its prompt, checked against
// the length given; the parts arrive whole, a part sent twice counted once.
TEST_F(Dialogue, PduModeSendsArriveWhole)
{
    const std::u16string text = Units(kLongAlarm);
    const std::vector<kv::sms::OutgoingPdu> parts = kv::sms::EncodeSubmit("+79111111111", text, 77);
    ASSERT_EQ(parts.size(), 3u);
    int reference = 0;
    for (const size_t n : {0u, 1u, 1u, 2u}) {
        const std::string command = "AT+CMGS=" + std::to_string(parts[n].tpduLength) + "\r";
        EXPECT_EQ(Say(command), command + "\r\n> ");
        EXPECT_EQ(Say(parts[n].hex + "\x1a"), parts[n].hex + "\r\n+CMGS: " + std::to_string(++reference) + "\r\n\r\nOK\r\n");
    }
    ASSERT_EQ(modem.Outbox().size(), 4u);
    EXPECT_EQ(modem.Outbox()[0].charset, "PDU");
    ASSERT_TRUE(modem.Outbox()[0].part);
    EXPECT_EQ(modem.Outbox()[0].part->total, 3u);
    const std::vector<SentSms> whole = modem.SentTexts();
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0].number, "+79111111111");
    EXPECT_EQ(whole[0].text, kLongAlarm);

    // A set still missing a part stays as its parts.
    const std::vector<kv::sms::OutgoingPdu> other = kv::sms::EncodeSubmit("+79111111112", text, 78);
    Say("AT+CMGS=" + std::to_string(other[0].tpduLength) + "\r");
    Say(other[0].hex + "\x1a");
    EXPECT_EQ(modem.SentTexts().size(), 2u);

    const struct {
        std::string length;
        std::string pdu;
        std::string answer;
    } refused[] = {
        {std::to_string(parts[0].tpduLength - 1), parts[0].hex, "\r\n+CMS ERROR: 304\r\n"},
        {std::to_string(parts[0].tpduLength), parts[0].hex.substr(0, 40), "\r\n+CMS ERROR: 304\r\n"},
        {std::to_string(parts[0].tpduLength), "zz" + parts[0].hex.substr(2), "\r\n+CMS ERROR: 304\r\n"},
    };
    for (const auto& r : refused) {
        EXPECT_EQ(Say("AT+CMGS=" + r.length + "\r"), "AT+CMGS=" + r.length + "\r\r\n> ");
        EXPECT_EQ(Say(r.pdu + "\x1a"), r.pdu + r.answer);
    }
    for (const char* bad : {"AT+CMGS=0\r", "AT+CMGS=165\r", "AT+CMGS=\"+79111111111\"\r"})
        EXPECT_EQ(Say(bad), std::string(bad) + "\r\nERROR\r\n");
    EXPECT_EQ(modem.Outbox().size(), 5u);
}


} // namespace
