// Control commands of the simulator, executed in-process.
#include "codec/SmsPdu.h"
#include "tools/modemsim/Simulator.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace kv::modemsim;

namespace {

class Control : public ::testing::Test {
protected:
    void SetUp() override
    {
        SimulatorOptions options;
        options.modems = 2;
        options.modem.stampNow = [] { return std::string("24/05/17,10:30:00+12"); };
        sim = std::make_unique<Simulator>(options);
        std::string error;
        ASSERT_TRUE(sim->Start(error, now)) << error;
    }

    std::vector<std::string> Ok(const std::string& line)
    {
        const ControlReply reply = sim->Execute(line, now);
        EXPECT_TRUE(reply.ok) << line << ": " << reply.error;
        return reply.lines;
    }

    std::unique_ptr<Simulator> sim;
    Millis now = 0;
};

TEST_F(Control, RefusesMalformedCommandsWithOneErrorLine)
{
    for (const char* bad :
         {"", "bogus 1", "sms 3 +7900 x", "sms 0 +7900 x", "sms 1", "ring 1", "hangup 1", "dial 1 maybe",
          "dial 1 busy -1", "dial 1 busy 1s", "dial 1 busy", "errorall 1 yes", "split 1", "garbage 1 0",
          "garbage 1 zz", "flood 1 -5", "flood 1 many", "signal 1 x", "plug 1", "sim", "echo 2 on off", "urc 1", "urcbody 1",
          "noise 1 maybe", "family 1 nokia", "family 1 huawei siemens", "refuse 1 maybe", "indications 1",
          "contact 1 +7900", "dial 1 answer", "dial 1 noanswer soon", "status 1 2", "longsms 1 +7900",
          "longsms 1 +7900 bits=12 text", "longsms 1 +7900 coding=koi8 text", "longsms 1 +7900 order=1,x text",
          "longsms 1 +7900 ref=300 text", "longsms 1 +7900 order=2 short", "part 1 +7900 7 3 1",
          "part 1 +7900 7 3 4 text", "part 1 +7900 7 0 1 text", "part 1 +7900 256 3 1 text",
          "part 1 +7900 order=1 7 3 1 text", "pdus 1 2", "texts 1 2"}) {
        const ControlReply reply = sim->Execute(bad, now);
        EXPECT_FALSE(reply.ok) << bad;
        EXPECT_EQ(reply.error.rfind("error ", 0), 0u) << bad;
        EXPECT_EQ(reply.error.find('\n'), std::string::npos);
    }
    Ok("unplug 2");
    EXPECT_FALSE(sim->Execute("unplug 2", now).ok);
    EXPECT_FALSE(sim->Execute("ring 2 +7900", now).ok) << "nobody rings a pulled modem";
    EXPECT_TRUE(sim->Execute("quit", now).quit);
}

TEST_F(Control, StoresAndListsMessagesInUtf8)
{
    EXPECT_EQ(Ok("sms 1 +79111111111 Снято  с охраны\\nЗона 2"), std::vector<std::string>{"1"});
    EXPECT_EQ(Ok("sms 1 +79111111112 ok"), std::vector<std::string>{"2"});
    EXPECT_EQ(Ok("sim 1"), (std::vector<std::string>{"1 REC UNREAD +79111111111 Снято  с охраны\\nЗона 2",
                                                     "2 REC UNREAD +79111111112 ok"}));
    EXPECT_TRUE(Ok("sim 2").empty()) << "each modem has its own SIM";
    ASSERT_EQ(sim->Modem(1).Messages()[0].text, "Снято  с охраны\nЗона 2");
    for (int i = 3; i <= 40; ++i)
        EXPECT_EQ(Ok("sms 1 +7900 x" + std::to_string(i)), std::vector<std::string>{std::to_string(i)});
    // A full SIM: the network keeps the message until one is deleted.
    EXPECT_EQ(Ok("sms 1 +7900 late"), std::vector<std::string>{"waiting"});
    EXPECT_EQ(Ok("network 1"), std::vector<std::string>{"+7900 late"});
}

TEST_F(Control, DialRulesAndTheListingsOfCallsAndSentMessages)
{
    SimModem& modem = sim->Modem(1);
    Ok("dial 1 never");
    Ok("dial 1 busy 0.25 +79001000001");
    modem.Receive("ATD+79001000001;\r", now);
    modem.Advance(now + 249);
    EXPECT_EQ(Ok("calls 1"), std::vector<std::string>{"1 +79001000001 dialling"});
    modem.Advance(now + 250);
    modem.Receive("ATD+79001000002;\r", now + 300);
    modem.Advance(now + 100000);
    EXPECT_EQ(Ok("calls 1"), (std::vector<std::string>{"1 +79001000001 busy", "2 +79001000002 dialling"}));
    Ok("hangup 1");
    EXPECT_EQ(Ok("calls 1").back(), "2 +79001000002 no carrier");

    modem.Receive("AT+CMGF=1\rAT+CSCS=\"IRA\"\rAT+CMGS=\"+79001000001\"\r*8411#_temp#\x1a", now);
    EXPECT_EQ(Ok("outbox 1"), std::vector<std::string>{"1 IRA +79001000001 *8411#_temp#"});
    EXPECT_EQ(Ok("sent 1").back(), "*8411#_temp#\\x1a");
    EXPECT_TRUE(Ok("sent 1").empty());
}

TEST_F(Control, FamiliesSwitchAtPowerOnAndTheSettingsAreListed)
{
    EXPECT_EQ(Ok("family 1"), std::vector<std::string>{"sim800 sim800"});
    Ok("family 1 huawei");
    EXPECT_EQ(Ok("family 1"), std::vector<std::string>{"sim800 huawei"});
    Ok("unplug 1");
    Ok("plug 1");
    EXPECT_EQ(Ok("family 1"), std::vector<std::string>{"huawei huawei"});
    EXPECT_EQ(Ok("family 2"), std::vector<std::string>{"sim800 sim800"}) << "each modem its own";

    Ok("indications 1 off");
    Ok("noise 1 on");
    const std::vector<std::string> status = Ok("status 1");
    for (const char* line : {"family huawei", "echo on", "cmgf 0", "cscs GSM", "cnmi 0,0,0,0,0", "cpms SM,SM,SM",
                             "indications off", "noise on", "waiting 0"})
        EXPECT_NE(std::find(status.begin(), status.end(), line), status.end()) << line;
}

// Long messages: split by the simulator or given part by part, listed as the
// PDUs a modem in PDU mode gives, and sends joined again.
TEST_F(Control, LongMessagesAndTheirParts)
{
    const std::string text(200, 'x');
    // 153 + 47 septets; part 2 delivered twice, then part 1.
    EXPECT_EQ(Ok("longsms 1 +79111111111 ref=7 order=2,2,1 " + text), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(Ok("part 1 +79111111112 bits=16 coding=ucs2 4660 3 2 Батарея"), std::vector<std::string>{"4"});
    EXPECT_EQ(Ok("longsms 1 +79111111113 bits=16 Тревога " + text), (std::vector<std::string>{"5", "6", "7", "8"}));

    const struct {
        const char* sender;
        unsigned reference;
        bool wide;
        unsigned total;
        unsigned part;
        kv::sms::Coding coding;
        std::string text;
    } expected[] = {
        {"+79111111111", 7, false, 2, 2, kv::sms::Coding::Gsm7, std::string(47, 'x')},
        {"+79111111111", 7, false, 2, 2, kv::sms::Coding::Gsm7, std::string(47, 'x')},
        {"+79111111111", 7, false, 2, 1, kv::sms::Coding::Gsm7, std::string(153, 'x')},
        {"+79111111112", 4660, true, 3, 2, kv::sms::Coding::Ucs2, "Батарея"},
    };
    const std::vector<std::string> pdus = Ok("pdus 1");
    ASSERT_EQ(pdus.size(), 8u);
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(pdus[i]);
        EXPECT_EQ(pdus[i].rfind(std::to_string(i + 1) + " REC UNREAD ", 0), 0u);
        const auto d = kv::sms::DecodeDeliverPdu(pdus[i].substr(pdus[i].rfind(' ') + 1));
        ASSERT_TRUE(d && d->data.concat);
        EXPECT_EQ(d->sender, expected[i].sender);
        EXPECT_EQ(d->data.concat->reference, expected[i].reference);
        EXPECT_EQ(d->data.concat->wide, expected[i].wide);
        EXPECT_EQ(d->data.concat->total, expected[i].total);
        EXPECT_EQ(d->data.concat->part, expected[i].part);
        EXPECT_EQ(d->coding, expected[i].coding);
    }
    // The simulator's own references for the next long message: 16-bit here, parts of 66 units.
    std::u16string joined;
    for (size_t i = 4; i < 8; ++i) {
        const auto d = kv::sms::DecodeDeliverPdu(pdus[i].substr(pdus[i].rfind(' ') + 1));
        ASSERT_TRUE(d && d->data.concat);
        EXPECT_TRUE(d->data.concat->wide);
        EXPECT_EQ(d->data.concat->part, i - 3);
        joined += d->data.units;
    }
    EXPECT_EQ(joined, u"Тревога " + std::u16string(200, u'x'));
    EXPECT_EQ(Ok("sim 1")[3], "4 REC UNREAD +79111111112 Батарея");

    // A concatenated send in PDU mode comes back whole in "texts".
    SimModem& modem = sim->Modem(1);
    for (const kv::sms::OutgoingPdu& p : kv::sms::EncodeSubmit("+79001000001", std::u16string(170, u'y'), 9))
        modem.Receive("AT+CMGS=" + std::to_string(p.tpduLength) + "\r" + p.hex + "\x1a", now);
    EXPECT_EQ(Ok("outbox 1").size(), 2u);
    EXPECT_EQ(Ok("outbox 1")[0].rfind("1 PDU +79001000001 yyy", 0), 0u);
    EXPECT_EQ(Ok("texts 1"), std::vector<std::string>{"+79001000001 " + std::string(170, 'y')});
}

} // namespace
