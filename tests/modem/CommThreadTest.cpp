// Modem 1's worker driven pass by pass on virtual time.
#include "codec/SmsPdu.h"
#include "codec/Ucs2.h"
#include "modem/Commands.h"
#include "modem/SmsInbox.h"
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
const std::string kIncomplete = Techno("red", "Принят неполный пакет..."_cp);
const std::string kPassFailed = Techno("red", "Ошибка E001 - обработка данных модема..."_cp);
const std::string kModemTel = S("GSM-модем №1"_cp);

// Most single exchanges are transcripts (tests/modem/transcripts); these need
// more than one file can say: many passes, flags, failing hosts, hostile input.

// ---------------------------------------------------------------- exchanges

TEST_F(Modem1Test, SilenceEndsInTimeOutAndLinkLossEveryTime)
{
    RunUntil(23000);
    // Polls at 2.5 s and about 13 s, each waits 10 s.
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
    RunUntil(12520);
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
    EXPECT_GT(TimeOf("sent AT+CPMS?\r"), 4500);
    EXPECT_LE(TimeOf("sent AT+CPMS?\r"), 5100);
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
    // A red line once per failure period, a green one when saving works again;
    // never a box that would hold the worker until somebody clicks it.
    AnswerPolls();
    const std::string red = "techno red " + S("Не удалось сохранить состояния объектов"_cp);
    const std::string green = "techno green " + S("Состояния объектов снова сохраняются"_cp);
    saveResult = TileSaveResult::WriteFailed;
    RunUntil(20000);
    EXPECT_GE(saves, 2);
    EXPECT_TRUE(host.Of("warning").empty());
    EXPECT_EQ(host.Log().Count(red), 1u);
    EXPECT_TRUE(worker->SaveEnabled());
    saveResult = TileSaveResult::Saved;
    RunUntil(30000);
    saveResult = TileSaveResult::WriteFailed;
    RunUntil(40000);
    EXPECT_EQ(host.Log().Count(green), 1u);
    EXPECT_EQ(host.Log().Count(red), 2u) << "a new failure period is told again";
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
    }
    std::vector<std::string> SentStarting(const std::string& prefix) const
    {
        std::vector<std::string> out;
        for (const std::string& w : Sent())
            if (w.starts_with(prefix))
                out.push_back(w);
        return out;
    }
};

// A modem that lists nothing is read index by index, every index the SIM has
// (no fixed window of ten), back to back, and each message deleted by its own
// index once its row is on disk.
TEST_F(SmsTest, AModemThatCannotListIsReadIndexByIndexUpToItsSize)
{
    port.On("AT+CPMS?\r", "AT+CPMS?\r\r\n+CPMS: \"SM_P\",2,40,\"SM_P\",2,40,\"SM_P\",2,40\r\n\r\nOK\r\n");
    port.Always("AT+CPMS?\r", MemoryReply(0));
    port.Always("AT+CMGL=*", "\r\nERROR\r\n");
    for (const int i : {12, 37})
        port.On(ReadSmsCommand(i), ReadReplyText(i, "REC UNREAD", kCallerHex, "0422043504410442"));
    for (int i = 1; i <= 40; ++i)
        port.Always(ReadSmsCommand(i), ReadSmsCommand(i) + "\r\nOK\r\n");
    port.Always("AT+CMGD=*", "\r\nOK\r\n");
    RunUntil(20000);

    EXPECT_EQ(SentStarting("AT+CMGL="), (std::vector<std::string>{"AT+CMGL=\"ALL\"\r", "AT+CMGL=\"0041004C004C\"\r"}));
    const std::vector<std::string> reads = SentStarting("AT+CMGR=");
    ASSERT_EQ(reads.size(), 37u) << "the scan stops once both are found";
    EXPECT_EQ(reads.front(), "AT+CMGR=1\r");
    EXPECT_EQ(reads.back(), "AT+CMGR=37\r");
    EXPECT_EQ(SentStarting("AT+CMGD="), (std::vector<std::string>{"AT+CMGD=12\r", "AT+CMGD=37\r"}));
    EXPECT_EQ(host.Events().size(), 2u);
    EXPECT_TRUE(InOrder({"event " + S("Норма | +79111111111 | Новое сообщение:Тест"_cp), "synced", "sent AT+CMGD=12\r"}));
    // Back to back: 37 reads take seconds, not a memory poll each.
    EXPECT_LT(TimeOf("sent AT+CMGD=37\r") - TimeOf("sent AT+CMGR=1\r"), 5000);
}

TEST_F(SmsTest, EmptyMemoryReadsNothing)
{
    port.Always("AT+CPMS?\r", MemoryReply(0));
    RunUntil(15000);
    EXPECT_TRUE(SentStarting("AT+CMGR").empty());
    EXPECT_TRUE(SentStarting("AT+CMGL").empty());
}

TEST_F(SmsTest, MemoryCountThatIsNoNumberFailsThePass)
{
    port.On("AT+CPMS?\r", "AT+CPMS?\r\r\n+CPMS: \"SM_P\",x,10\r\n\r\nOK\r\n");
    port.Always("AT+CPMS?\r", MemoryReply(0));
    RunUntil(15000);
    EXPECT_EQ(log.Count(kPassFailed), 1u);
    EXPECT_GE(log.Count("techno green " + MemoryReply(0)), 1u) << "the next memory poll tries again";
    EXPECT_TRUE(SentStarting("AT+CMGL").empty());
}

// A device command switches modem 1 to the plain character set for its SMS.
// A message read in that window would come back in plain text, fail to decode
// and be deleted as damaged: an alarm lost. Reads wait until UCS2 is back, and a
// modem left in the plain set by a refused switch is put back by the worker.
TEST_F(SmsTest, NoMessageIsReadOrDeletedWhileThePlainCharacterSetIsOn)
{
    const std::string ira = "AT+CSCS=\"IRA\"\r";
    const std::string ucs2 = "AT+CSCS=\"UCS2\"\r";
    port.Always(ira, EchoOk(ira));
    // The switch back is refused once; the worker's own one goes through.
    port.On(ucs2, ucs2 + "\r\nERROR\r\n");
    port.Always(ucs2, EchoOk(ucs2));
    port.Always("AT+CSMP=*", "\r\nOK\r\n");
    port.Always("AT+CPMS?\r", MemoryReply(1));
    const std::string list = "AT+CMGL=\"ALL\"\r";
    port.On(list, list + "\r\n+CMGL: 4,\"REC UNREAD\",\"" + kCallerHex + "\",,\"24/05/01,10:00:00+12\"\r\n0422043504410442\r\n\r\nOK\r\n");
    port.Always(list, list + "\r\nOK\r\n");
    port.Always("AT+CMGD=*", "\r\nOK\r\n");

    EnqueueCommand(modem, ira);
    EnqueueCommand(modem, ucs2);
    modem.PutCommand("AT+CMGR=4\r"); // an indication's read behind the refused switch
    RunUntil(30000);
    ASSERT_EQ(SentCount(ucs2), 2u) << "the refused switch back is tried again once nothing else is pending";
    const std::vector<std::string> sent = Sent();
    const auto back = std::find(sent.begin() + (std::find(sent.begin(), sent.end(), ucs2) - sent.begin()) + 1,
                                sent.end(), ucs2);
    for (auto it = sent.begin(); it != back; ++it) {
        EXPECT_FALSE(it->starts_with("AT+CMGR")) << "read in the plain character set";
        EXPECT_FALSE(it->starts_with("AT+CMGL")) << "listed in the plain character set";
    }
    ASSERT_EQ(host.Events().size(), 1u);
    EXPECT_EQ(host.Events()[0].event, S("Новое сообщение:Тест"_cp));
    EXPECT_EQ(SentCount("AT+CMGD=4\r"), 1u);
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
    RunUntil(1500);
    EXPECT_TRUE(host.Of("signal").empty());
    EXPECT_EQ(TechnoTexts(kRed), std::vector<std::string>(4, S("Ошибка при определении уровня сигнала"_cp)));
}

// ---------------------------------------------------------------- balance

class UnansweredBalance : public Modem1Test, public ::testing::WithParamInterface<const char*> {};

TEST_P(UnansweredBalance, LeavesThePendingFlagUntilTheGiveUpTime)
{
    modem.UssdPending = true;
    const std::string request = "AT+CUSD=1,\"002A0031003000300023\",15\r";
    EnqueueCommand(modem, request);
    port.On(request, std::vector<FakePort::Piece>{{0, EchoOk(request)}, {2000, GetParam()}});
    AnswerPolls();
    RunUntil(12000);
    EXPECT_TRUE(host.Of("balance").empty());
    EXPECT_TRUE(modem.UssdPending);
    EXPECT_TRUE(Sent().size() == 1u) << "no polls while the answer is awaited";

    // Mended: one lost answer no longer stops the polls for good.
    RunUntil(40000);
    EXPECT_FALSE(modem.UssdPending);
    EXPECT_EQ(TechnoTexts(kRed).back(), S("Нет ответа на запрос баланса. Опрос модема возобновлен."_cp));
    EXPECT_GE(SentCount("AT+CSQ\r"), 1u);
}

// A session the network ends without a text, or a status with none.
INSTANTIATE_TEST_SUITE_P(Answers, UnansweredBalance, ::testing::Values("\r\n+CUSD: 2\r\n", "\r\n+CUSD: 0\r\n"));

// ---------------------------------------------------------------- SMS sending

// A device command is one unit: the plain set, the send, the text only at its
// prompt, UCS2 again; what else comes (a RING, a poll) waits behind it.
TEST_F(Modem1Test, DeviceCommandIsOneUnitAndItsTextGoesOnlyAtItsPrompt)
{
    ASSERT_TRUE(SendSms(modem, "+79111111111", "INFO", S("Запрос состояния"_cp)));
    const std::vector<std::string> unit = {"AT+CSCS=\"IRA\"\r", "AT+CSMP=17,173,0,0\r", "AT+CMGS=\"+79111111111\"\r",
                                           "INFO\x1A",             "AT+CSCS=\"UCS2\"\r",   "AT+CSMP=17,167,0,25\r"};
    EXPECT_EQ(modem.PendingCommands(), unit);
    EXPECT_TRUE(modem.SmsSending);
    port.Always("AT+CSCS=*", "\r\nOK\r\n");
    port.Always("AT+CSMP=*", "\r\nOK\r\n");
    port.On(unit[2], std::vector<FakePort::Piece>{{0, unit[2] + "\r"}, {300, "\r\n> "}});
    port.On(unit[3], "INFO\x1A\r\n+CMGS: 9\r\n\r\nOK\r\n", 2000);
    port.Inject(100, "\r\nRING\r\n");
    port.Always("AT+CLCC\r", "\r\nOK\r\n");
    AnswerPolls();
    RunUntil(10000);
    const std::vector<std::string> sent = Sent();
    ASSERT_GE(sent.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + 6), unit);
    EXPECT_EQ(sent[6], "AT+CLCC\r");
    EXPECT_EQ(TimeOf("sent INFO\x1A") - TimeOf("sent " + unit[2]), 300 + TCommThread::kAfterExchangeMs)
        << "at the prompt, not a fixed second later";
    // Journalled under the device's number and the command's name, shown on its card.
    EXPECT_TRUE(InOrder({"event " + S("Сообщение отправлено | +79111111111 | Команда отправлена: Запрос состояния"_cp),
                         "statusedit " + S("+79111111111 | Сообщение отправлено"_cp), "buttons on"}));
    EXPECT_EQ(log.Kind("event").size(), 1u) << "one row per command, none for the modem alone";
    EXPECT_FALSE(modem.SmsSending);
}

struct SendFailure {
    const char* name;
    std::string commandReply; // the modem's answer to AT+CMGS
    std::string textReply;    // and to the text, when it gets that far
    bool textSent;
};

class DeviceCommandFails : public Modem1Test, public ::testing::WithParamInterface<SendFailure> {};

// Refused or unanswered: journalled with the number and the command text,
// shown on the card, the buttons back, UCS2 set again, the polls on again.
TEST_P(DeviceCommandFails, IsJournalledAsAFailedSend)
{
    ASSERT_TRUE(SendSms(modem, "+79111111111", "*8411#_on#", S("Поставить на охрану"_cp)));
    port.Always("AT+CSCS=*", "\r\nOK\r\n");
    port.Always("AT+CSMP=*", "\r\nOK\r\n");
    port.On("AT+CMGS=*", GetParam().commandReply);
    port.On("*8411#_on#\x1A", GetParam().textReply);
    // The set-up after a silence.
    port.Always("AT+CMGF=*", "\r\nOK\r\n");
    port.Always("AT+CNMI=*", "\r\nERROR\r\n");
    AnswerPolls();
    RunUntil(45000);
    EXPECT_EQ(SentCount("*8411#_on#\x1A"), GetParam().textSent ? 1u : 0u) << "a text never goes without its prompt";
    EXPECT_EQ(log.Count("event " + S("Неудачная отправка СМС | +79111111111 | Команда не отправлена: Поставить на охрану"_cp)),
              1u);
    EXPECT_TRUE(InOrder({"statusedit " + S("+79111111111 | Неудачная отправка СМС"_cp), "buttons on", "sent AT+CSCS=\"UCS2\"\r",
                         "sent AT+CSMP=17,167,0,25\r"}));
    EXPECT_FALSE(modem.SmsSending);
    EXPECT_GE(SentCount("AT+CPMS?\r"), 1u);
    EXPECT_EQ(log.Count("event " + S("Сообщение отправлено | GSM-модем №1 | Сообщение отправлено"_cp)), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, DeviceCommandFails,
    ::testing::Values(SendFailure{"CommandRefused", "\r\n+CMS ERROR: 500\r\n", "", false},
                      SendFailure{"CommandUnanswered", "", "", false},
                      SendFailure{"TextRefused", "\r\n> ", "\r\n+CMS ERROR: 38\r\n", true},
                      SendFailure{"TextUnanswered", "\r\n> ", "", true},
                      SendFailure{"TextEchoedOnly", "\r\n> ", "*8411#_on#\x1A\r\n", true}),
    [](const auto& info) { return std::string(info.param.name); });

// A UCS2 send tells its requester how it ended, once: confirmed, refused, or
// left without an answer; a second send waits behind the first.
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
    std::vector<std::string> outcomes;
    ASSERT_TRUE(SendUcs2Sms(modem, "+79111111111", S("Пожар!"_cp), [&](bool sent) {
        outcomes.push_back(std::string("first ") + (sent ? "sent" : "failed"));
    }));
    ASSERT_TRUE(SendUcs2Sms(modem, "+79111111111", "x", [&](bool sent) {
        outcomes.push_back(std::string("second ") + (sent ? "sent" : "failed"));
    }));
    EXPECT_EQ(modem.PendingCommands(), (std::vector<std::string>{command, text, command, "0078\x1A"}));
    port.Always(command, command + "\r\n> ");
    if (!GetParam().textReply.empty())
        port.On(text, GetParam().textReply);
    port.On("0078\x1A", "\r\n+CMGS: 8\r\n\r\nOK\r\n");
    RunUntil(40000);
    EXPECT_EQ(outcomes, (std::vector<std::string>{std::string("first ") + (GetParam().sent ? "sent" : "failed"),
                                                  "second sent"}));
    EXPECT_FALSE(modem.SmsSending);
    // Not a device command: the requester journals it, not the worker, and
    // the card's status and buttons are left to the operator's own command.
    EXPECT_EQ(log.Count("event " + S("Неудачная отправка СМС | +79111111111 | Пожар!"_cp)), 0u);
    EXPECT_EQ(log.Count("buttons on"), 0u);
    EXPECT_TRUE(log.Kind("statusedit").empty());
}

INSTANTIATE_TEST_SUITE_P(Answers, Ucs2Send,
                         ::testing::Values(Ucs2SendCase{"confirmed", "\r\n+CMGS: 7\r\n\r\nOK\r\n", true},
                                           Ucs2SendCase{"refused", "\r\n+CMS ERROR: 500\r\n", false},
                                           Ucs2SendCase{"silent", "", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// The one-SMS form of a text a modem cannot send in parts: after a whole word.
TEST(OneSmsCut, EndsAfterAWholeWord)
{
    struct Case {
        const char* text;
        std::size_t limit;
        const char* cut;
    };
    for (const Case& c : {Case{"short", 10, "short"},
                          Case{"exactly 10", 10, "exactly 10"},
                          Case{"two words here", 10, "two words"},
                          Case{"two words  \r\nhere", 11, "two words"},
                          Case{"ends at blank here", 7, "ends at"},
                          Case{"onelongwordonly", 8, "onelongw"},
                          Case{" leading", 4, " lea"}})
        EXPECT_EQ(CutAtWord(c.text, c.limit), c.cut) << c.text << " / " << c.limit;
}

// A long text's unit: PDU mode, one send per part, text mode, then its
// one-SMS form; a huge text holds at most kMaxSmsParts parts, each message
// its own reference.
TEST_F(Modem1Test, ALongTextIsQueuedAsPartsWithItsOneSmsFormBehind)
{
    std::string huge;
    while (huge.size() < 2000)
        huge += S("тревога в зоне "_cp) + std::to_string(huge.size()) + " ";
    ASSERT_TRUE(SendUcs2Sms(modem, "+79111111111", huge, {}, "short"));
    ASSERT_TRUE(SendSms(modem, "+79111111111", std::string(200, 'a')));
    const std::vector<std::string> lines = modem.PendingCommands();
    std::vector<std::string> pduCommands;
    std::vector<unsigned> references;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        if (!lines[i].starts_with("AT+CMGS=") || lines[i].find('"') != std::string::npos)
            continue;
        pduCommands.push_back(lines[i]);
        const auto submit = sms::DecodeSubmitPdu(lines[i + 1].substr(0, lines[i + 1].size() - 1));
        ASSERT_TRUE(submit && submit->data.concat) << lines[i + 1];
        references.push_back(submit->data.concat->reference);
    }
    ASSERT_EQ(pduCommands.size(), kMaxSmsParts + 2) << "six parts, then two";
    EXPECT_EQ(references.front(), references[kMaxSmsParts - 1]);
    EXPECT_NE(references.front(), references.back());
    EXPECT_EQ(lines.front(), kCmdPduMode);
    const std::size_t back = 1 + 2 * kMaxSmsParts;
    EXPECT_EQ(std::vector<std::string>(lines.begin() + back, lines.begin() + back + 3),
              (std::vector<std::string>{std::string(kCmdTextMode), SendSmsCommand(TextToUcs2Hex("+79111111111")),
                                        TextToUcs2Hex("short") + kCtrlZ}));
    EXPECT_TRUE(std::find(lines.begin(), lines.end(), std::string(160, 'a') + kCtrlZ) != lines.end())
        << "a command's one-SMS form: cut where the message ends";
}

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
