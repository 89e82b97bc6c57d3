// The line reader and the field parsers on the bytes real modems send
// (as captured from them), one table row per form.
#include "codec/UssdText.h"
#include "data/Text.h"
#include "data/Status.h"
#include "modem/AlarmRows.h"
#include "modem/EventTexts.h"
#include "modem/LineReader.h"
#include "modem/SmsInbox.h"
#include "modem/SmsReader.h"
#include "modem/Ussd.h"
#include "tests/support/Cp1251.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

using namespace kv::literals;

// What the reader made of the pieces, one entry per line: E echo, R reply,
// F final, P prompt, U unsolicited; " | body" after a header.
std::vector<std::string> Read(const std::string& command, const std::vector<std::string>& pieces,
                              std::string* rest = nullptr, bool ucs2 = false)
{
    static const char kKinds[] = {'E', 'R', 'F', 'P', 'U'};
    TLineReader reader;
    reader.Expect(command);
    reader.SetUcs2Bodies(ucs2);
    std::vector<std::string> out;
    std::string bytes;
    for (const std::string& piece : pieces) {
        bytes += piece;
        for (;;) {
            for (const ModemLine& line : reader.Take(bytes))
                out.push_back(std::string(1, kKinds[static_cast<int>(line.kind)]) + " " + line.text
                              + (line.body ? " | " + *line.body : ""));
            if (!reader.Done())
                break;
            reader.Expect({}); // what follows the final result is unsolicited
        }
    }
    if (rest)
        *rest = bytes;
    return out;
}

struct ReaderCase {
    const char* name;
    std::string command;
    std::vector<std::string> pieces;
    std::vector<std::string> lines;
    bool ucs2 = false; // the modem under the UCS2 character set
};

class ReaderForms : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(ReaderForms, LinesAsTheModemMeantThem)
{
    EXPECT_EQ(Read(GetParam().command, GetParam().pieces, nullptr, GetParam().ucs2), GetParam().lines);
}

const std::string kOkLines[] = {"E AT+CSQ", "R +CSQ: 11,99", "F OK"};

INSTANTIATE_TEST_SUITE_P(
    Modems, ReaderForms,
    ::testing::Values(
        ReaderCase{"EchoOn", "AT+CSQ\r", {"AT+CSQ\r\r\n+CSQ: 11,99\r\n\r\nOK\r\n"}, {kOkLines[0], kOkLines[1], kOkLines[2]}},
        ReaderCase{"EchoOff", "AT+CSQ\r", {"\r\n+CSQ: 11,99\r\n\r\nOK\r\n"}, {kOkLines[1], kOkLines[2]}},
        ReaderCase{"DoubleLineEnds", "AT+CSQ\r", {"AT+CSQ\r\r\r\n+CSQ: 11,99\r\r\n\r\r\nOK\r\r\n"},
                   {kOkLines[0], kOkLines[1], kOkLines[2]}},
        ReaderCase{"DoubleEchoAndBlanks", "AT+CSQ\r", {"AT+CSQ\r\r\nAT+CSQ\r\r\n  +CSQ: 11,99  \r\n\r\nOK \r\n"},
                   {kOkLines[0], kOkLines[0], kOkLines[1], kOkLines[2]}},
        ReaderCase{"EchoThenOkTwentyMsLater", "AT+CMGR=1\r", {"AT+CMGR=1\r", "\r\nOK\r\n"}, {"E AT+CMGR=1", "F OK"}},
        // Huawei: the indication before the echo of the command in flight.
        ReaderCase{"IndicationBeforeTheEcho", "AT+CPIN?\r",
                   {"+CMTI: \"SM\",3\r\nAT+CPIN?\r\r\n+CPIN: READY\r\n\r\nOK\r\n"},
                   {"U +CMTI: \"SM\",3", "E AT+CPIN?", "R +CPIN: READY", "F OK"}},
        // SIM800: codes between the echo and the reply, and after the final result.
        ReaderCase{"CodesInsideAndAfter", "AT+CSQ\r",
                   {"AT+CSQ\r\r\n\r\nRING\r\n\r\n+CSQ: 11,99\r\n\r\nOK\r\n\r\n+CMTI: \"SM_P\",1\r\n"},
                   {"E AT+CSQ", "U RING", "R +CSQ: 11,99", "F OK", "U +CMTI: \"SM_P\",1"}},
        ReaderCase{"PromptWithoutLineEnd", "AT+CMGS=\"+49151\"\r", {"AT+CMGS=\"+49151\"\r\r\n> "},
                   {"E AT+CMGS=\"+49151\"", "P >"}},
        ReaderCase{"BodyThatLooksLikeAFinalResult", "AT+CMGR=1\r",
                   {"\r\n+CMGR: \"REC READ\",\"+7911\",,\"24/05/01,10:00:00+12\"\r\nOK\r\n\r\nOK\r\n"},
                   {"R +CMGR: \"REC READ\",\"+7911\",,\"24/05/01,10:00:00+12\" | OK", "F OK"}},
        ReaderCase{"EmptyBody", "AT+CMGL=\"ALL\"\r",
                   {"\r\n+CMGL: 1,\"REC READ\",\"+7911\",,\"24/05/01\"\r\n\r\n\r\nOK\r\n"},
                   {"R +CMGL: 1,\"REC READ\",\"+7911\",,\"24/05/01\" | ", "F OK"}},
        ReaderCase{"EmptyIndexHasNoBody", "AT+CMGR=4\r", {"\r\n+CMGR: 0,,0\r\nOK\r\n"}, {"R +CMGR: 0,,0", "F OK"}},
        ReaderCase{"BareLineFeedInsideAQuotedText", "", {"\r\n+CUSD: 0, \"Balance:\n100 r\", 15\r\n"},
                   {"U +CUSD: 0, \"Balance:\n100 r\", 15"}},
        ReaderCase{"DialEndsAreFinalOnlyForACall", "ATD+7911;\r", {"ATD+7911;\r\r\nBUSY\r\n\r\nBUSY\r\n"},
                   {"E ATD+7911;", "F BUSY", "U BUSY"}},
        ReaderCase{"ErrorsAreFinal", "AT+CMGR=9\r", {"\r\n+CMS ERROR: invalid memory index\r\n"},
                   {"F +CMS ERROR: invalid memory index"}},
        ReaderCase{"SmsTextEcho", "*8411#_info#\x1A", {"*8411#_info#\x1A\r\n+CMGS: 240\r\n\r\nOK\r\n"},
                   {"E *8411#_info#\x1A", "R +CMGS: 240", "F OK"}},
        // Under UCS2 a body is hex digits: a code between a header and its
        // body is a code, framed or not, and the body is the hex after it.
        ReaderCase{"Ucs2RingBetweenHeaderAndBody", "AT+CMGL=\"ALL\"\r",
                   {"\r\n+CMGL: 1,\"REC READ\",\"002B0037\",,\"24/05/01\"\r\n\r\nRING\r\n", "\r\n04220435\r\n"
                    "+CMGL: 2,\"REC READ\",\"002B0037\",,\"24/05/01\"\r\n+CMTI: \"SM\",3\r\n0041\r\n\r\nOK\r\n"},
                   {"U RING", "R +CMGL: 1,\"REC READ\",\"002B0037\",,\"24/05/01\" | 04220435", "U +CMTI: \"SM\",3",
                    "R +CMGL: 2,\"REC READ\",\"002B0037\",,\"24/05/01\" | 0041", "F OK"},
                   true},
        ReaderCase{"Ucs2EmptyBodyIsABlankLine", "AT+CMGR=1\r",
                   {"\r\n+CMGR: \"REC READ\",\"002B0037\",,\"24/05/01\"\r\n\r\nRING\r\n\r\nOK\r\n"},
                   {"U RING", "R +CMGR: \"REC READ\",\"002B0037\",,\"24/05/01\" | ", "F OK"}, true},
        // A line that is neither: the body of a damaged message unless hex follows.
        ReaderCase{"Ucs2TextThatIsNoHexIsADamagedBody", "AT+CMGR=1\r",
                   {"\r\n+CMGR: \"REC READ\",\"002B0037\",,\"24/05/01\"\r\nHello!\r\n\r\nOK\r\n"},
                   {"R +CMGR: \"REC READ\",\"002B0037\",,\"24/05/01\" | Hello!", "F OK"}, true},
        ReaderCase{"Ucs2NoiseBeforeTheHexBody", "AT+CMGR=1\r",
                   {"\r\n+CMGR: \"REC READ\",\"002B0037\",,\"24/05/01\"\r\n#@!\r\n0041\r\n\r\nOK\r\n"},
                   {"U #@!", "R +CMGR: \"REC READ\",\"002B0037\",,\"24/05/01\" | 0041", "F OK"}, true},
        // No line at all before the final result: nothing read, the message stays.
        ReaderCase{"Ucs2HeaderWithoutItsBodyIsNoMessage", "AT+CMGR=1\r",
                   {"\r\n+CMGR: \"REC READ\",\"002B0037\",,\"24/05/01\"\r\nOK\r\n"}, {"F OK"}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineReader, KeepsALineStillArrivingAndDropsItWhenTheReplyIsOver)
{
    std::string rest;
    EXPECT_EQ(Read("AT+CSQ\r", {"AT+CSQ\r\r\n+CSQ: 1"}, &rest), std::vector<std::string>{"E AT+CSQ"});
    EXPECT_EQ(rest, "+CSQ: 1");
    TLineReader reader;
    reader.DropPartial(rest);
    EXPECT_EQ(rest, "");
    // Bytes lost at the front of the buffer: the line they cut is not read.
    std::string cut = "+CSQ: 11,99\r\n\r\nOK\r\n";
    reader.Resync(cut);
    EXPECT_EQ(cut, "\r\nOK\r\n");
}

// ---------------------------------------------------------------- message headers

struct HeaderCase {
    const char* name;
    std::string line;
    std::string status;
    std::string number; // decoded
    std::string timestamp;
    int index = -1;
    bool pdu = false;
    bool empty = false;
    // Shown under AT+CSDH=1 by a read; -1: not shown.
    int firstOctet = -1;
    int dcs = -1;
};

class HeaderShapes : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderShapes, FieldsWhereverTheModemPutsThem)
{
    const HeaderCase& c = GetParam();
    const std::optional<StoredMessage> m = ParseStoredMessage({LineKind::Reply, c.line, std::string("0041"), {}});
    ASSERT_TRUE(m) << c.line;
    EXPECT_EQ(m->status, c.status);
    EXPECT_EQ(m->index, c.index);
    EXPECT_EQ(m->pdu, c.pdu);
    EXPECT_EQ(m->empty, c.empty);
    EXPECT_EQ(m->firstOctet.value_or(-1), c.firstOctet);
    EXPECT_EQ(m->dcs.value_or(-1), c.dcs);
    if (!c.pdu && !c.empty) {
        EXPECT_EQ(DecodeNumberField(m->numberField, m->numberType), c.number);
        EXPECT_EQ(m->timestamp, c.timestamp);
        EXPECT_EQ(m->body, "0041");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modems, HeaderShapes,
    ::testing::Values(
        HeaderCase{"Sim800Ucs2",
                   "+CMGR: \"REC READ\",\"002B0031003200330034003500360037003800390030\",\"\",\"20/12/16,19:03:40+04\"",
                   "REC READ", "+1234567890", "20/12/16,19:03:40+04"},
        HeaderCase{"SiemensPlainNumberEmptyAlpha", "+CMGR: \"REC READ\",\"+8615802047291\",,\"12/05/25,14:32:48+32\"",
                   "REC READ", "+8615802047291", "12/05/25,14:32:48+32"},
        HeaderCase{"BlanksFourDigitYearsNoAlpha", "+CMGR: \"REC READ\", \"+4123456789132\", \"2009/8/18,19:11:45\"",
                   "REC READ", "+4123456789132", "2009/8/18,19:11:45"},
        HeaderCase{"PhonebookNameOneDigitZone",
                   "+CMGR: \"REC UNREAD\",\"+79111111111\",\"0418043C044F\",\"24/05/01,10:00:00+8\"", "REC UNREAD",
                   "+79111111111", "24/05/01,10:00:00+8"},
        HeaderCase{"InternationalTypeWithoutItsPlus",
                   "+CMGR: \"REC READ\",\"79111111111\",,\"24/05/01,10:00:00+12\",145,4,0,8,\"+79000000000\",145,4",
                   "REC READ", "+79111111111", "24/05/01,10:00:00+12", -1, false, false, 4, 8},
        HeaderCase{"PartWithItsHeaderFields",
                   "+CMGR: \"REC UNREAD\", \"+79111111111\",, \"24/05/01,10:00:00+12\", 145, 68, 0, 0, "
                   "\"+79000000000\", 145, 140",
                   "REC UNREAD", "+79111111111", "24/05/01,10:00:00+12", -1, false, false, 68, 0},
        HeaderCase{"ListHeaderFieldsHaveNoFirstOctet",
                   "+CMGL: 2,\"REC UNREAD\",\"+79111111111\",,\"24/05/01,10:00:00+12\",145,140", "REC UNREAD",
                   "+79111111111", "24/05/01,10:00:00+12", 2},
        HeaderCase{"ListWithItsIndex", "+CMGL: 12,\"REC UNREAD\",\"+79111111111\",,\"24/05/01,10:00:00+12\"",
                   "REC UNREAD", "+79111111111", "24/05/01,10:00:00+12", 12},
        HeaderCase{"ListStatusAsUcs2Hex",
                   "+CMGL: 3,\"00520045004300200052004500410044\",\"002B0037\",,\"24/05/01,10:00:00+12\"",
                   "REC READ", "+7", "24/05/01,10:00:00+12", 3},
        HeaderCase{"NoClosingQuote", "+CMGR: \"REC UNREAD\",\"002B0037", "REC UNREAD", "+7", ""},
        HeaderCase{"ThirtyDigits", "+CMGR: \"REC READ\",\"123456789012345678901234567890\",,\"24/05/01\"", "REC READ",
                   "123456789012345678901234567890", "24/05/01"},
        HeaderCase{"PduMessage", "+CMGR: 0,,40", "REC UNREAD", "", "", -1, true},
        HeaderCase{"PduReadWithAlpha", "+CMGR: 1,\"Mama\",40", "REC READ", "", "", -1, true},
        HeaderCase{"PduStoredOutgoing", "+CMGR: 3,,22", "STO SENT", "", "", -1, true},
        HeaderCase{"SiemensEmptyIndex", "+CMGR: 0,,0", "", "", "", -1, false, true},
        HeaderCase{"PduList", "+CMGL: 1,0,,23", "REC UNREAD", "", "", 1, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NumberField, HexOrPlainOrNothing)
{
    EXPECT_EQ(DecodeNumberField("002B0037", std::nullopt), "+7");
    EXPECT_EQ(DecodeNumberField("", std::nullopt), "");
    EXPECT_EQ(DecodeNumberField("*100#", std::nullopt), "*100#");
    EXPECT_EQ(DecodeNumberField("0146294079", 129), "0146294079");
    EXPECT_EQ(DecodeNumberField("656783741", 161), "656783741");
    // Damage: neither a number nor UCS2 hex of one.
    EXPECT_EQ(DecodeNumberField("002B 0037", std::nullopt), std::nullopt);
    EXPECT_EQ(DecodeNumberField("\"+7911", std::nullopt), std::nullopt);
}

TEST(MemoryState, EveryStorageAndTheSetForm)
{
    struct Case {
        std::string line;
        std::string read, receive;
        int used, total;
    };
    for (const Case& c : std::vector<Case>{
             {"+CPMS: \"SM_P\",0,40,\"SM_P\",0,40,\"SM_P\",0,40", "SM_P", "SM_P", 0, 40},
             {"+CPMS: \"SM\",1,50,\"SM\",1,50,\"SM\",1,50", "SM", "SM", 1, 50},
             {"+CPMS: \"ME\",0,25,\"ME\",0,25,\"SM\",0,20", "ME", "SM", 0, 25},
             {"+CPMS: \"SM\", 2, 10", "SM", "SM", 2, 10},
             {"+CPMS: 2,10,2,10,2,10", "", "", 2, 10},
         }) {
        const std::optional<MemoryState> s = ParseMemoryState(c.line);
        ASSERT_TRUE(s) << c.line;
        EXPECT_EQ(s->readStorage, c.read) << c.line;
        EXPECT_EQ(s->receiveStorage, c.receive) << c.line;
        EXPECT_EQ(s->used, c.used) << c.line;
        EXPECT_EQ(s->total, c.total) << c.line;
    }
    EXPECT_FALSE(ParseMemoryState("+CPMS: \"SM_P\",x,10"));
    EXPECT_FALSE(ParseMemoryState("+CPMS: \"SM_P\""));
}

// ---------------------------------------------------------------- USSD

TEST(UssdAnswer, EveryCodingAndRefusal)
{
    const std::string balance = test::Utf8ToCp1251("Баланс 5 р.");
    struct Case {
        std::string line;
        UssdAnswer::Kind kind;
        std::string text;
    };
    for (const Case& c : std::vector<Case>{
             {"+CUSD: 0, \"04110430043B0430043D04410020003500200440002E\", 72", UssdAnswer::Kind::Text, balance},
             {"+CUSD: 0,\"04110430043B0430043D04410020003500200440002E\",72", UssdAnswer::Kind::Text, balance},
             // Quectel: UCS2 hex under dcs 15; Telit: dcs 17.
             {"+CUSD: 0,\"04110430043B0430043D04410020003500200440002E\",15", UssdAnswer::Kind::Text, balance},
             {"+CUSD: 0,\"04110430043B0430043D04410020003500200440002E\",17", UssdAnswer::Kind::Text, balance},
             // Packed 7-bit hex, unquoted: "hello".
             {"+CUSD: 0, E8329BFD06, 15", UssdAnswer::Kind::Text, "hello"},
             {"+CUSD: 0, \"Balance 5\", 2", UssdAnswer::Kind::Text, "Balance 5"},
             {"+CUSD: 1, \"Balance:\n5\", 15", UssdAnswer::Kind::Text, "Balance:\n5"},
             // Not valid for its coding: shown as it came.
             {"+CUSD: 0, \"12 34\", 72", UssdAnswer::Kind::Text, "12 34"},
             {"+CUSD: 2", UssdAnswer::Kind::None, ""},
             {"+CUSD: 0", UssdAnswer::Kind::None, ""},
             {"+CUSD: 4", UssdAnswer::Kind::Refused, test::Utf8ToCp1251("Запрос баланса отклонен сетью")},
         }) {
        const UssdAnswer a = ParseUssdAnswer(c.line);
        EXPECT_EQ(a.kind, c.kind) << c.line;
        EXPECT_EQ(a.text, c.text) << c.line;
    }
    EXPECT_EQ(UssdRefusedByModem("+CME ERROR: 132"), test::Utf8ToCp1251("Запрос баланса отклонен модемом (ошибка 132)"));
    EXPECT_EQ(PlainUssdRequest("AT+CUSD=1,\"002A0031003000300023\",15\r"), "AT+CUSD=1,\"*100#\",15\r");
    EXPECT_EQ(PlainUssdRequest("AT+CUSD=1,\"*100#\",15\r"), std::nullopt);
}

} // namespace
} // namespace kv

namespace kv::test {
namespace {

TEST(MultipartWait, WholeSecondsWithinRangeElseTheDefault)
{
    struct Case {
        const char* text;
        long long seconds;
    };
    const Case cases[] = {
        {"600", 600}, {"10", 10}, {"86400", 86400}, {"", 600},      {"9", 600},
        {"86401", 600}, {"-30", 600}, {"2m", 600},  {" 120 ", 120}, {"99999999999999999999", 600},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MultipartWaitFrom(c.text).count(), c.seconds) << '"' << c.text << '"';
}

// Rows the desk opens by its own routes (silence, the modem lost) and rows
// that only look like alarms; the workers' rows are checked beside the desk.
TEST(AlarmOfRow, WhatTheRowAloneTells)
{
    struct Case {
        bool ring;
        std::string_view status, tel;
        std::string event;
        std::string_view shortName;
        std::optional<AlarmKind> kind;
    };
    const std::string silent = Str("Нет связи с объектом; последняя связь 09.12.2026 22:40:11 (обзвон)"_cp);
    const std::string stranger = Str("Новое сообщение:Внимание Пожар!"_cp);
    const Case cases[] = {
        {false, status::kOffline, "+79001000001", silent, "Склад"_cp, AlarmKind::Silent},
        {false, status::kNormal, "+79001000001", silent, "Склад"_cp, std::nullopt},
        {false, status::kOffline, events::kModem1Tel, Str(kLinkLostEvent), "", AlarmKind::LinkLost},
        {false, status::kOffline, events::kModem2Tel, Str(kLinkLostEvent), "", std::nullopt},
        {false, status::kNormal, "+79990000000", stranger, "  ", AlarmKind::Stranger},
        {false, status::kAlarm, events::kModem1Tel, Str("Новое сообщение:"_cp), "", std::nullopt},
        {false, status::kHandling, "+79990000000", stranger, "", std::nullopt},
        {false, status::kUnhandled, "+79001000001", Str("Новое сообщение:"_cp) + std::string(kAlarmMarker), "Склад"_cp, std::nullopt},
        {false, status::kAttention, "+79001000001", Str("Новое сообщение:Вскрыт корпус датчика"_cp), "Склад"_cp,
         AlarmKind::Warning},
        {false, status::kAlarm, "+79001000001", Str("Нет ответа"_cp), "Склад"_cp, std::nullopt},
        {false, status::kOffline, "+79001000001", Str(events::kRingRoundFailed), "Склад"_cp, std::nullopt},
        {true, status::kOffline, "+79001000001", Str(events::kRingRoundFailed), "Склад"_cp, AlarmKind::RingRoundFailed},
        {true, "", "+79990000000", Str(events::kRingRoundFailed), "", AlarmKind::RingRoundFailed},
        {true, status::kOffline, "+79001000001", Str("Нет ответа, попытка 1"_cp), "Склад"_cp, std::nullopt},
        {true, status::kOnline, "+79001000001", silent, "Склад"_cp, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AlarmOfRow(c.ring, c.status, c.tel, c.event, c.shortName), c.kind)
            << (c.ring ? "ring " : "main ") << c.status << " | " << c.tel << " | " << c.event;
    EXPECT_EQ(AlarmKindKey(AlarmKind::Warning), "Fire");
    EXPECT_EQ(AlarmKindKey(AlarmKind::Silent), "Silent");
}

} // namespace
} // namespace kv::test
