// Modem 1's worker driven pass by pass on virtual time.
#include "modem/Commands.h"
#include "modem/SendSms.h"
#include "tests/modem/Modem1Fixture.h"

#include <algorithm>
#include <random>

namespace kv::test {
namespace {

std::string Techno(const char* colour, std::string_view text) { return "techno " + std::string(colour) + " " + S(text); }
std::string Event(std::string_view status, std::string_view tel, std::string_view event)
{
    return "event " + S(status) + " | " + S(tel) + " | " + S(event);
}

const std::string kTimeout = Techno("red", "Ошибка обмена по таймауту..."_cp);
const std::string kIncomplete = Techno("red", "Принят не полный пакет..."_cp);
const std::string kPassFailed = Techno("red", "Ошибка E001 - обработка данных модема..."_cp);
const std::string kModemTel = S("GSM-модем №1"_cp);

// Most single exchanges are transcripts (tests/modem/transcripts); these need
// more than one file can say: many passes, flags, failing hosts, hostile input.

// ---------------------------------------------------------------- exchanges

TEST_F(Modem1Test, SilenceEndsInTimeOutAndLinkLossEveryTime)
{
    RunUntil(24000);
    // Polls at 2.5 s and 13.5 s, each waits 10 s.
    EXPECT_EQ(TimeOf("sent AT+CSQ\r"), 2500);
    EXPECT_EQ(TimeOf(kTimeout), 12500);
    EXPECT_EQ(log.Count(kTimeout), 2u);
    EXPECT_EQ(log.Count("linklost"), 2u);
    EXPECT_TRUE(InOrder({kTimeout, "linklost", kTimeout, "linklost"}));
    EXPECT_TRUE(modem.LinkLost);
    EXPECT_EQ(log.Count(kIncomplete), 0u);
}

TEST_F(Modem1Test, FailingPortWriteEndsAsTimeOut)
{
    port.FailWrites(true);
    RunUntil(13000);
    EXPECT_EQ(port.FailedWrites(), 1);
    EXPECT_EQ(log.Count(kTimeout), 1u);
    EXPECT_TRUE(modem.LinkLost);
}

TEST_F(Modem1Test, HostFailureEndsThePassWithE001AndTheWorkerGoesOn)
{
    port.Always("AT\r", EchoOk("AT\r"));
    EnqueueCommand(modem, "AT\r");
    host.FailNext("event");
    RunUntil(1000);
    EXPECT_EQ(log.Count(kPassFailed), 1u);
    // The failed pass did not clear the buffer; the next exchange still works.
    EnqueueCommand(modem, "AT\r");
    RunUntil(3000);
    EXPECT_GE(log.Count(Event("На связи"_cp, kModemTel, "Соединение с GSM-модулем установлено"_cp)), 1u);
}

// ---------------------------------------------------------------- polls

TEST_F(Modem1Test, PollsAlternateAndTileStatesAreSavedEverySecondPoll)
{
    AnswerPolls();
    RunUntil(20000);
    const std::vector<std::string> sent = Sent();
    ASSERT_GE(sent.size(), 4u);
    for (std::size_t i = 0; i < sent.size(); ++i)
        EXPECT_EQ(sent[i], i % 2 == 0 ? "AT+CSQ\r" : "AT+CPMS?\r") << i;
    EXPECT_EQ(TimeOf("sent AT+CSQ\r"), 2500);
    EXPECT_EQ(TimeOf("sent AT+CPMS?\r"), 5000);
    EXPECT_EQ(saves, static_cast<int>(SentCount("AT+CSQ\r")));
    EXPECT_EQ(host.Of("signal").size(), SentCount("AT+CSQ\r"));
}

class PollGate : public Modem1Test, public ::testing::WithParamInterface<bool> {};

TEST_P(PollGate, PollsAreRefusedButTheToggleFlipsAndTilesAreSaved)
{
    (GetParam() ? modem.SmsSending : modem.UssdPending) = true;
    AnswerPolls();
    RunUntil(12600);
    EXPECT_TRUE(Sent().empty());
    // Poll times 2.5, 5, 7.5, 10 and 12.5 s: signal, memory, signal, memory, signal.
    EXPECT_EQ(saves, 3);
    (GetParam() ? modem.SmsSending : modem.UssdPending) = false;
    RunUntil(15100);
    EXPECT_EQ(Sent(), std::vector<std::string>{"AT+CPMS?\r"}) << "the toggle kept flipping while refused";
}

INSTANTIATE_TEST_SUITE_P(SmsSendingOrUssdPending, PollGate, ::testing::Bool());

TEST_F(Modem1Test, TileStatesThatCannotBeCreatedAreNeverTriedAgain)
{
    AnswerPolls();
    saveResult = TileSaveResult::CannotCreate;
    RunUntil(30000);
    EXPECT_EQ(saves, 1);
    EXPECT_FALSE(worker->SaveEnabled());
    EXPECT_TRUE(host.Of("warning").empty());
}

TEST_F(Modem1Test, FailedTileWriteWarnsAndSavingGoesOn)
{
    AnswerPolls();
    saveResult = TileSaveResult::WriteFailed;
    RunUntil(20000);
    EXPECT_GE(saves, 2);
    EXPECT_EQ(host.Of("warning"), std::vector<std::string>(saves, S("Не удалось сохранить состояния объектов "_cp)));
    EXPECT_TRUE(worker->SaveEnabled());
}

// ---------------------------------------------------------------- SMS reception

class SmsTest : public Modem1Test {
protected:
    void SetUp() override
    {
        Modem1Test::SetUp();
        host.AddDevice("+79111111111", "Obj1");
        host.AddDevice("+79222222222", "Obj2");
        port.Always("AT+CSQ\r", SignalReply());
        port.Always("AT+CMGD=*", "AT+CMGD=1,2\r\r\nOK\r\n");
    }
};

TEST_F(SmsTest, NinePollsFromIndexThreeToAMessageAtIndexOne)
{
    modem.SmsIndex = 3;
    port.Always("AT+CPMS?\r", MemoryReply(1));
    for (int i = 2; i <= 10; ++i)
        port.Always("AT+CMGR=" + std::to_string(i) + "\r", "AT+CMGR=" + std::to_string(i) + "\r\r\nOK\r\n");
    port.On("AT+CMGR=1\r", ReadReplyText(1, "REC UNREAD", kCallerHex, "0422043504410442"));
    port.Always("AT+CMGR=1\r", "AT+CMGR=1\r\r\nOK\r\n");
    RunUntil(120000);

    std::vector<std::string> reads;
    for (const std::string& w : Sent())
        if (w.starts_with("AT+CMGR="))
            reads.push_back(w);
    ASSERT_GE(reads.size(), 9u);
    EXPECT_EQ(std::vector<std::string>(reads.begin(), reads.begin() + 9),
              (std::vector<std::string>{"AT+CMGR=3\r", "AT+CMGR=4\r", "AT+CMGR=5\r", "AT+CMGR=6\r", "AT+CMGR=7\r",
                                        "AT+CMGR=8\r", "AT+CMGR=9\r", "AT+CMGR=10\r", "AT+CMGR=1\r"}));
    // One read per memory poll: the ninth memory poll reads the message.
    std::size_t memoryPolls = 0;
    for (const std::string& w : Sent()) {
        memoryPolls += w == "AT+CPMS?\r";
        if (w == "AT+CMGR=1\r")
            break;
    }
    EXPECT_EQ(memoryPolls, 9u);
    EXPECT_EQ(host.Events().size(), 1u);
    EXPECT_EQ(host.Events()[0].event, S("Новое сообщение:Тест"_cp));
}

TEST_F(SmsTest, EmptyMemoryResetsTheIndexAndReadsNothing)
{
    modem.SmsIndex = 7;
    port.Always("AT+CPMS?\r", MemoryReply(0));
    RunUntil(15000);
    EXPECT_EQ(modem.SmsIndex, 1);
    for (const std::string& w : Sent())
        EXPECT_FALSE(w.starts_with("AT+CMGR"));
}

TEST_F(SmsTest, MemoryCountThatIsNoNumberFailsThePass)
{
    port.On("AT+CPMS?\r", "AT+CPMS?\r\r\n+CPMS: \"SM_P\",x,10\r\n\r\nOK\r\n");
    port.On("AT+CPMS?\r", "AT+CPMS?\r\r\n+CPMS: \"ME\",1,10\r\n\r\nOK\r\n");
    port.Always("AT+CPMS?\r", MemoryReply(0));
    modem.SmsIndex = 4;
    RunUntil(40000);
    // Each failed reply fails once: the cut leaves nothing that looks like a memory reply.
    EXPECT_EQ(log.Count(kPassFailed), 2u);
    EXPECT_GE(log.Count("techno green " + MemoryReply(0)), 1u) << "the next memory poll tries again";
    EXPECT_EQ(modem.SmsIndex, 1);
    for (const std::string& w : Sent())
        EXPECT_FALSE(w.starts_with("AT+CMGR"));
}

// A device command switches modem 1 to the plain character set for its SMS.
// A message read in that window would come back in plain text, fail to decode
// and be deleted as damaged: an alarm lost. Reads wait until UCS2 is back, and a
// modem left in the plain set by a refused switch is put back by the worker.
TEST_F(SmsTest, NoMessageIsReadOrDeletedWhileThePlainCharacterSetIsOn)
{
    const std::string ira = "AT+CSCS=\"IRA\"\r";
    const std::string iraParams = "AT+CSMP=17,173,0,0\r";
    const std::string ucs2 = "AT+CSCS=\"UCS2\"\r";
    port.Always(ira, EchoOk(ira));
    port.Always(iraParams, EchoOk(iraParams));
    // The card's switch back is refused once; the worker's own one goes through.
    port.On(ucs2, ucs2 + "\r\nERROR\r\n");
    port.Always(ucs2, EchoOk(ucs2));
    port.Always("AT+CSMP=17,167,0,25\r", EchoOk("AT+CSMP=17,167,0,25\r"));
    port.Always("AT+CPMS?\r", MemoryReply(1));
    // In the plain set the modem would answer with a number that is no hex.
    port.On("AT+CMGR=1\r", ReadReplyText(1, "REC UNREAD", kCallerHex, "0422043504410442"));
    for (int i = 1; i <= 10; ++i)
        port.Always("AT+CMGR=" + std::to_string(i) + "\r", "AT+CMGR=" + std::to_string(i) + "\r\r\nOK\r\n");

    // A read queued by a memory reply just before the card's switch, the send
    // still under way behind it.
    EnqueueCommand(modem, ira);
    EnqueueCommand(modem, iraParams);
    modem.PutCommand("AT+CMGR=1\r");
    modem.SmsSending = true;
    RunUntil(30000);
    for (const std::string& w : Sent()) {
        EXPECT_FALSE(w.starts_with("AT+CMGR")) << "read in the plain character set";
        EXPECT_FALSE(w.starts_with("AT+CMGD")) << "deleted in the plain character set";
    }
    EXPECT_TRUE(host.Events().empty());

    modem.SmsSending = false;
    EnqueueCommand(modem, ucs2);
    EnqueueCommand(modem, "AT+CSMP=17,167,0,25\r");
    RunUntil(90000);
    EXPECT_EQ(SentCount(ucs2), 2u) << "the refused switch back is tried again once nothing else is pending";
    ASSERT_EQ(host.Events().size(), 1u);
    EXPECT_EQ(host.Events()[0].event, S("Новое сообщение:Тест"_cp));
    const std::vector<std::string> sent = Sent();
    const auto read = std::find(sent.begin(), sent.end(), "AT+CMGR=1\r");
    const auto back = std::find(sent.begin(), sent.end(), ucs2);
    ASSERT_NE(read, sent.end());
    EXPECT_GT(read - std::find(back + 1, sent.end(), ucs2), 0) << "read before UCS2 was confirmed";
}

// ---------------------------------------------------------------- signal

class SignalReplyTest : public Modem1Test,
                        public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(SignalReplyTest, LevelIsShownAsRead)
{
    EnqueueCommand(modem, "AT+CSQ\r");
    port.On("AT+CSQ\r", SignalReply(GetParam().first));
    RunUntil(1500);
    EXPECT_EQ(host.Of("signal"), std::vector<std::string>{GetParam().second});
    EXPECT_EQ(TechnoTexts(kNavy), std::vector<std::string>{SignalReply(GetParam().first)});
    EXPECT_TRUE(TechnoTexts(kRed).empty());
}

INSTANTIATE_TEST_SUITE_P(Levels, SignalReplyTest,
                         ::testing::Values(std::pair{"7,0", "7"}, std::pair{"8,0", "8"}, std::pair{"23,0", "23"},
                                           std::pair{"24,0", "24"}, std::pair{"99,99", "99"},
                                           std::pair{"0,0", "0"}));

TEST_F(Modem1Test, UnreadableSignalReplyIsAnErrorLine)
{
    for (const char* level : {"21", ",0", "x,0"}) {
        EnqueueCommand(modem, "AT+CSQ\r");
        port.On("AT+CSQ\r", SignalReply(level));
    }
    EnqueueCommand(modem, "AT+CSQ\r");
    port.On("AT+CSQ\r", "AT+CSQ\r\r\nOK\r\n");
    RunUntil(4000);
    EXPECT_TRUE(host.Of("signal").empty());
    EXPECT_EQ(TechnoTexts(kRed), std::vector<std::string>(4, S("Ошибка при определении уровня сигнала"_cp)));
}

// ---------------------------------------------------------------- balance

class UnrecognisedBalance : public Modem1Test, public ::testing::WithParamInterface<const char*> {};

TEST_P(UnrecognisedBalance, LeavesThePendingFlagUntilTheGiveUpTime)
{
    modem.UssdPending = true;
    const std::string request = "AT+CUSD=1,\"002A0031003000300023\",15\r";
    EnqueueCommand(modem, request);
    port.On(request, std::vector<FakePort::Piece>{{0, EchoOk(request)}, {2000, GetParam()}});
    AnswerPolls();
    RunUntil(12000);
    EXPECT_TRUE(host.Of("balance").empty());
    EXPECT_TRUE(modem.UssdPending);
    EXPECT_EQ(log.Count(kIncomplete), 1u);
    EXPECT_TRUE(Sent().size() == 1u) << "no polls while the answer is awaited";

    // Mended: one lost answer no longer stops the polls for good.
    RunUntil(40000);
    EXPECT_FALSE(modem.UssdPending);
    EXPECT_EQ(TechnoTexts(kRed).back(), S("Нет ответа на запрос баланса. Опрос модема возобновлен."_cp));
    EXPECT_GE(SentCount("AT+CSQ\r"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Answers, UnrecognisedBalance,
                         ::testing::Values("\r\n+CUSD: 1, \"0031\", 72\r\n", "\r\n+CUSD: 2\r\n",
                                           "\r\n+CUSD: 0, \"0031\", 15\r\n", "\r\n+CUSD: 0,\"0031\",72\r\n"));

// ---------------------------------------------------------------- SMS sending

class SendTest : public Modem1Test {
protected:
    const std::string command = "AT+CMGS=\"+79111111111\"\r";
    const std::string text = "INFO\x1A";
    void Send()
    {
        ASSERT_TRUE(SendSms(modem, "+79111111111", "INFO", [](std::uint32_t) {}));
    }
};

TEST_F(SendTest, QueuesTheCommandThenTheTextOneSecondLater)
{
    std::vector<std::string> queuedAtWait;
    std::uint32_t waited = 0;
    ASSERT_TRUE(SendSms(modem, "+79111111111", "INFO", [&](std::uint32_t ms) {
        waited = ms;
        queuedAtWait = modem.PendingCommands();
        EXPECT_TRUE(modem.SmsSending);
    }));
    EXPECT_EQ(waited, 1000u);
    EXPECT_EQ(queuedAtWait, std::vector<std::string>{command});
    EXPECT_EQ(modem.PendingCommands(), (std::vector<std::string>{command, text}));
}

TEST_F(SendTest, SilentModemEndsTheSendInsteadOfStoppingThePollsForGood)
{
    Send();
    AnswerPolls();
    RunUntil(11000);
    EXPECT_EQ(log.Count(kTimeout), 1u);
    EXPECT_FALSE(modem.SmsSending);
    RunUntil(30000);
    EXPECT_GE(SentCount("AT+CPMS?\r"), 1u);
}

TEST_F(SendTest, TextAnsweredWithoutConfirmationAlsoEndsTheSend)
{
    Send();
    port.On(command, command + "\r\n> ");
    port.On(text, "INFO\x1A\r\n");
    RunUntil(12000);
    EXPECT_EQ(log.Count(kIncomplete), 1u);
    EXPECT_FALSE(modem.SmsSending);
    EXPECT_TRUE(InOrder({kIncomplete, "buttons on"}));
}

// A UCS2 send queues its two lines together and tells its requester how it
// ended, once: confirmed, refused, or left without an answer.
struct Ucs2SendCase {
    const char* name;
    std::string textReply; // the modem's answer to the text
    bool sent;
};

class Ucs2Send : public Modem1Test, public ::testing::WithParamInterface<Ucs2SendCase> {};

TEST_P(Ucs2Send, TellsTheOutcomeOnce)
{
    const std::string command = "AT+CMGS=\"002B00370039003100310031003100310031003100310031\"\r";
    const std::string text = "041F043E0436043004400021\x1A"; // Пожар!
    std::vector<bool> outcomes;
    ASSERT_TRUE(SendUcs2Sms(modem, "+79111111111", S("Пожар!"_cp), [&](bool sent) { outcomes.push_back(sent); }));
    EXPECT_EQ(modem.PendingCommands(), (std::vector<std::string>{command, text}));
    EXPECT_FALSE(SendUcs2Sms(modem, "+79111111111", "x", {})) << "one send at a time";
    port.On(command, command + "\r\n> ");
    if (!GetParam().textReply.empty())
        port.On(text, GetParam().textReply);
    RunUntil(14000);
    EXPECT_EQ(outcomes, std::vector<bool>{GetParam().sent});
    EXPECT_FALSE(modem.SmsSending);
}

INSTANTIATE_TEST_SUITE_P(Answers, Ucs2Send,
                         ::testing::Values(Ucs2SendCase{"confirmed", "\r\n+CMGS: 7\r\n\r\nOK\r\n", true},
                                           Ucs2SendCase{"refused", "\r\n+CMS ERROR: 500\r\n", false},
                                           Ucs2SendCase{"silent", "", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- hostile input

TEST_F(Modem1Test, BinaryGarbageNeverStopsTheWorker)
{
    std::mt19937 random(7);
    std::string garbage(64 * 1024, '\0');
    for (char& c : garbage)
        c = static_cast<char>(random() & 0xFF);
    EnqueueCommand(modem, "AT+CMGF=1\r");
    port.On("AT+CMGF=1\r", garbage);
    port.Always("AT\r", EchoOk("AT\r"));
    RunUntil(12000);
    EnqueueCommand(modem, "AT\r");
    RunUntil(40000);
    EXPECT_GE(log.Count(Event("На связи"_cp, kModemTel, "Соединение с GSM-модулем установлено"_cp)), 1u);
    EXPECT_TRUE(modem.RxSnapshot().empty());
}

TEST_F(Modem1Test, FloodInPiecesEndsAsIncompleteAndIsDropped)
{
    EnqueueCommand(modem, "AT+CMGF=1\r");
    std::vector<FakePort::Piece> flood;
    for (int i = 0; i < 100; ++i)
        flood.push_back({static_cast<std::uint32_t>(10 + i * 50), std::string(5 * 1024, 'A') + "\r\n"});
    port.On("AT+CMGF=1\r", flood);
    RunUntil(11000);
    EXPECT_EQ(log.Count(kIncomplete), 1u);
    EXPECT_TRUE(modem.RxSnapshot().empty());
}

} // namespace
} // namespace kv::test
