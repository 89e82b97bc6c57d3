#include "codec/SmsPdu.h"
#include "data/Text.h"
#include "tests/support/Cp1251.h"

#include <gtest/gtest.h>

#include <random>

using namespace kv;
using namespace kv::literals;
using namespace kv::sms;

namespace {

std::string Utf8(std::u16string_view units)
{
    std::string le;
    for (const char16_t u : units) {
        le.push_back(static_cast<char>(u & 0xFF));
        le.push_back(static_cast<char>(u >> 8));
    }
    return test::Iconv(le, "UTF-16LE", "UTF-8");
}

std::u16string U16(std::string_view utf8)
{
    const std::string le = test::Iconv(utf8, "UTF-8", "UTF-16LE");
    std::u16string out;
    for (std::size_t i = 0; i + 1 < le.size(); i += 2)
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(le[i]) | static_cast<unsigned char>(le[i + 1]) << 8));
    return out;
}

struct DeliverCase {
    const char* name;
    const char* pdu;
    const char* smsc;
    const char* sender; // UTF-8
    int senderType;
    const char* timestamp;
    Coding coding;
    const char* text; // UTF-8
    std::optional<Concat> concat;
};

// Sender +79161234567 is "0B919761214365F7"; the time stamp 21/03/15,10:20:30+12
// is "12305101020321". The 7-bit user data was packed by hand, bit by bit.
const DeliverCase kDeliverCases[] = {
    {"tutorial_how_are_you", "07911326040000F0040B911346610089F60000208062917314080CC8F71D14969741F977FD07",
     "+31624000000", "+31641600986", 0x91, "02/08/26,19:37:41+00", Coding::Gsm7, "How are you?", std::nullopt},
    {"seven_bit_international", "00040B919761214365F7000012305101020321" "0AE8329BFD4697D9EC37", "", "+79161234567",
     0x91, "21/03/15,10:20:30+12", Coding::Gsm7, "hellohello", std::nullopt},
    {"national_sender", "07919761989901F0040B819861214365F7000012305101020321" "0AE8329BFD4697D9EC37",
     "+79168999100", "89161234567", 0x81, "21/03/15,10:20:30+12", Coding::Gsm7, "hellohello", std::nullopt},
    {"short_number_odd_digits", "0004038110F3000012305101020321" "0AE8329BFD4697D9EC37", "", "013", 0x81,
     "21/03/15,10:20:30+12", Coding::Gsm7, "hellohello", std::nullopt},
    {"extension_characters", "00040B919761214365F7000012305101020321" "151B5E6CE3DB94411B147E93DA0037AF4D6F4301", "",
     "+79161234567", 0x91, "21/03/15,10:20:30+12", Coding::Gsm7, "[1]€ {x}|\\~^", std::nullopt},
    {"ucs2_cyrillic", "00040B919761214365F7000812305101020321" "0E0422044004350432043E04330430", "", "+79161234567",
     0x91, "21/03/15,10:20:30+12", Coding::Ucs2, "Тревога", std::nullopt},
    {"ucs2_negative_zone", "00040B919761214365F7000812305101020329" "0404220410", "", "+79161234567", 0x91,
     "21/03/15,10:20:30-12", Coding::Ucs2, "ТА", std::nullopt},
    {"ucs2_surrogate_pair", "00040B919761214365F7000812305101020321" "06D83DDEA80021", "", "+79161234567", 0x91,
     "21/03/15,10:20:30+12", Coding::Ucs2, "🚨!", std::nullopt},
    {"eight_bit_latin1", "00040B919761214365F7000412305101020321" "0341E9FF", "", "+79161234567", 0x91,
     "21/03/15,10:20:30+12", Coding::Eight, "Aéÿ", std::nullopt},
    {"class_one_eight_bit", "00040B919761214365F700F512305101020321" "024142", "", "+79161234567", 0x91,
     "21/03/15,10:20:30+12", Coding::Eight, "AB", std::nullopt},
    {"alphanumeric_sender", "000407D0C2B07B0D000012305101020321" "0AE8329BFD4697D9EC37", "", "Bank", 0xD0,
     "21/03/15,10:20:30+12", Coding::Gsm7, "hellohello", std::nullopt},
    {"alphanumeric_nine_letters", "000410D041714C36A3D56C37000012305101020321" "0AE8329BFD4697D9EC37", "",
     "Ab1234567", 0xD0, "21/03/15,10:20:30+12", Coding::Gsm7, "hellohello", std::nullopt},
    {"concat_8bit_ucs2", "00440B919761214365F7000812305101020321" "0A050003A7020104220410", "", "+79161234567", 0x91,
     "21/03/15,10:20:30+12", Coding::Ucs2, "ТА", Concat{0xA7, false, 2, 1}},
    {"concat_16bit_seven_bit", "00440B919761214365F7000012305101020321" "1306080412340302C2309D5E96E741ECF71D", "",
     "+79161234567", 0x91, "21/03/15,10:20:30+12", Coding::Gsm7, "Battery low", Concat{0x1234, true, 3, 2}},
    // Six header octets before 7-bit data: one fill bit puts the text on a septet boundary.
    {"odd_header_fill_bits", "00440B919761214365F7000012305101020321" "0C050003A70201D06536FB0D", "",
     "+79161234567", 0x91, "21/03/15,10:20:30+12", Coding::Gsm7, "hello", Concat{0xA7, false, 2, 1}},
    // A text formatting element first, skipped by its length.
    {"unknown_element_skipped", "00440B919761214365F7000812305101020321" "0D0A0A030000000003A702020422", "",
     "+79161234567", 0x91, "21/03/15,10:20:30+12", Coding::Ucs2, "Т", Concat{0xA7, false, 2, 2}},
    // A part numbered 0 links nothing: the header is skipped, the text stands alone.
    {"concat_part_zero_ignored", "00440B919761214365F7000812305101020321" "08050003A702000422", "", "+79161234567",
     0x91, "21/03/15,10:20:30+12", Coding::Ucs2, "Т", std::nullopt},
};

} // namespace

TEST(SmsPduDecode, ReadsEveryFieldOfTheDeliver)
{
    for (const DeliverCase& c : kDeliverCases) {
        SCOPED_TRACE(c.name);
        std::string why;
        const std::optional<Deliver> d = DecodeDeliverPdu(c.pdu, &why);
        ASSERT_TRUE(d) << test::Cp1251ToUtf8(why);
        EXPECT_EQ(d->smsc, c.smsc);
        EXPECT_EQ(test::Cp1251ToUtf8(d->sender), c.sender);
        EXPECT_EQ(d->senderType, c.senderType);
        EXPECT_EQ(d->alphanumericSender, c.senderType == 0xD0);
        EXPECT_EQ(d->timestamp, c.timestamp);
        EXPECT_EQ(d->coding, c.coding);
        EXPECT_EQ(Utf8(d->data.units), c.text);
        EXPECT_EQ(d->data.concat.has_value(), c.concat.has_value());
        if (d->data.concat && c.concat) {
            EXPECT_EQ(d->data.concat->reference, c.concat->reference);
            EXPECT_EQ(d->data.concat->wide, c.concat->wide);
            EXPECT_EQ(d->data.concat->total, c.concat->total);
            EXPECT_EQ(d->data.concat->part, c.concat->part);
        }
        // Station text: what code page 1251 has, '?' for the rest, once per character.
        std::string expected;
        const std::u16string units = U16(c.text);
        for (std::size_t i = 0; i < units.size(); ++i) {
            std::string one;
            try {
                one = test::Iconv(Utf8(units.substr(i, 1)), "UTF-8", "CP1251");
            } catch (const std::runtime_error&) {
                one = "?";
                if (units[i] >= 0xD800 && units[i] <= 0xDBFF)
                    ++i;
            }
            expected += one;
        }
        EXPECT_EQ(d->data.text, expected);
    }
}

TEST(SmsPduDecode, AnyTruncationOrMalformationGivesNothingWithAReason)
{
    // Every proper prefix of every good PDU is short of something its fields promise.
    for (const DeliverCase& c : kDeliverCases) {
        const std::string pdu = c.pdu;
        for (std::size_t n = 0; n < pdu.size(); n += 2) {
            std::string why;
            EXPECT_FALSE(DecodeDeliverPdu(pdu.substr(0, n), &why)) << c.name << " cut at " << n;
            EXPECT_FALSE(why.empty()) << c.name << " cut at " << n;
        }
    }
    const struct {
        const char* name;
        const char* pdu;
    } bad[] = {
        {"odd_length", "00040B919761214365F700001230510102032"},
        {"not_hex", "00040B919761214365F7000012305101020321" "0AE8329BFD4697D9EC3X"},
        {"submit_not_deliver", "0001000B919761214365F700000AE8329BFD4697D9EC37"},
        {"status_report", "0006000B919761214365F7"},
        {"service_centre_past_end", "0F9197"},
        {"header_longer_than_data", "00440B919761214365F7000812305101020321" "0A200003A7020104220410"},
        {"element_past_header", "00440B919761214365F7000812305101020321" "0A050009A7020104220410"},
        {"udl_shorter_than_header", "00440B919761214365F7000812305101020321" "04050003A7020104220410"},
        {"seven_bit_udl_past_data", "00040B919761214365F7000012305101020321" "0BE8329BFD4697D9EC37"},
        {"seven_bit_header_not_covered", "00440B919761214365F7000012305101020321" "06050003A70201D06536FB0D"},
    };
    for (const auto& b : bad) {
        std::string why;
        EXPECT_FALSE(DecodeDeliverPdu(b.pdu, &why)) << b.name;
        EXPECT_FALSE(why.empty()) << b.name;
    }
}

TEST(SmsPduDecode, UserDataAloneAsTextModeShowsItsHex)
{
    const auto octets = [](const char* hex) { return *HexToOctets(hex); };
    const struct {
        const char* name;
        const char* hex;
        bool header;
        Coding coding;
        int length;
        const char* text;
        unsigned part;
    } cases[] = {
        {"seven_bit_all_septets", "E8329BFD4697D9EC37", false, Coding::Gsm7, -1, "hellohello", 0},
        // Seven septets leave seven spare bits that read as one more '@': padding.
        {"seven_septets_padding_dropped", "31D98C56B3DD00", false, Coding::Gsm7, -1, "1234567", 0},
        {"seven_septets_counted", "31D98C56B3DD00", false, Coding::Gsm7, 8, "1234567@", 0},
        {"seven_bit_header_and_fill", "050003A70201D06536FB0D", true, Coding::Gsm7, -1, "hello", 1},
        {"seven_bit_wide_header", "06080412340302C2309D5E96E741ECF71D", true, Coding::Gsm7, 19, "Battery low", 2},
        {"ucs2_header", "050003A7020204220410", true, Coding::Ucs2, -1, "ТА", 2},
        {"ucs2_stray_octet_dropped", "0422041004", false, Coding::Ucs2, -1, "ТА", 0},
        {"eight_bit", "41E9", false, Coding::Eight, -1, "Aé", 0},
        {"escape_at_end_is_blank", "E8F206", false, Coding::Gsm7, 3, "he ", 0},
        // An unknown extension code shows the base table's character; two escapes a blank.
        {"unknown_extension_shows_base", "9B36", false, Coding::Gsm7, 2, "m", 0},
        {"double_escape_is_blank", "9B0D", false, Coding::Gsm7, 2, " ", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<UserData> ud = DecodeUserData(octets(c.hex), c.header, c.coding, c.length);
        ASSERT_TRUE(ud);
        EXPECT_EQ(Utf8(ud->units), c.text);
        EXPECT_EQ(ud->concat ? ud->concat->part : 0u, c.part);
    }
    // Written the other way: the same octets a text-mode modem shows as hex.
    const struct {
        Coding coding;
        std::u16string text;
        std::optional<Concat> concat;
        int length;
        const char* hex;
    } written[] = {
        {Coding::Gsm7, u"hellohello", std::nullopt, 10, "E8329BFD4697D9EC37"},
        {Coding::Gsm7, u"hello", Concat{0xA7, false, 2, 1}, 12, "050003A70201D06536FB0D"},
        {Coding::Gsm7, u"Battery low", Concat{0x1234, true, 3, 2}, 19, "06080412340302C2309D5E96E741ECF71D"},
        {Coding::Ucs2, u"ТА", Concat{0xA7, false, 2, 2}, 10, "050003A7020204220410"},
        {Coding::Eight, u"Aé", std::nullopt, 2, "41E9"},
    };
    for (const auto& w : written) {
        const EncodedUserData ud = EncodeUserData(w.coding, w.text, w.concat);
        EXPECT_EQ(ud.length, w.length) << w.hex;
        EXPECT_EQ(ud.octets, octets(w.hex));
    }

    EXPECT_FALSE(DecodeUserData({}, true, Coding::Ucs2));
    EXPECT_FALSE(DecodeUserData(octets("0A0000"), true, Coding::Eight));
    EXPECT_FALSE(DecodeUserData(octets("E832"), false, Coding::Gsm7, 3));
}

TEST(SmsPduCoding, DataCodingGroups)
{
    const struct {
        int dcs;
        std::optional<Coding> coding;
    } cases[] = {
        {0x00, Coding::Gsm7},  {0x04, Coding::Eight},  {0x08, Coding::Ucs2},   {0x0C, Coding::Gsm7},
        {0x10, Coding::Gsm7},  {0x11, Coding::Gsm7},   {0x18, Coding::Ucs2},   {0x15, Coding::Eight},
        {0x20, std::nullopt},  {0x28, std::nullopt},   {0x48, Coding::Ucs2},   {0x60, std::nullopt},
        {0x80, std::nullopt},  {0xB0, std::nullopt},   {0xC0, Coding::Gsm7},   {0xD8, Coding::Gsm7},
        {0xE0, Coding::Ucs2},  {0xF0, Coding::Gsm7},   {0xF4, Coding::Eight},  {0xF6, Coding::Eight},
        {-1, std::nullopt},    {0x100, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CodingOf(c.dcs), c.coding) << "dcs " << c.dcs;
}

TEST(SmsPduCoding, StationTextMapsEveryCodePageByteBothWays)
{
    for (unsigned b = 0; b <= 0xFF; ++b) {
        const std::string one(1, static_cast<char>(b));
        const std::u16string units = StationTextToUtf16(one);
        ASSERT_EQ(units.size(), 1u);
        EXPECT_EQ(Utf16ToStationText(units), b == 0 ? " " : one) << "byte " << b;
        if (b != 0x98) {
            EXPECT_EQ(Utf8(units), test::Cp1251ToUtf8(one)) << "byte " << b;
        }
    }
    EXPECT_EQ(Utf16ToStationText(U16("Ωé🚨Ж")), "???Ж"_cp);
    // A lone surrogate is one unknown character.
    EXPECT_EQ(Utf16ToStationText(std::u16string{0xD83D, u'A'}), "?A");
}

TEST(SmsPduSplit, PartsOfEachCodingAtTheirLimits)
{
    const auto repeat = [](std::u16string_view s, int n) {
        std::u16string out;
        for (int i = 0; i < n; ++i)
            out += s;
        return out;
    };
    const struct {
        const char* name;
        std::u16string text;
        Coding coding;
        bool wide;
        std::vector<std::size_t> sizes; // units per part
    } cases[] = {
        {"gsm_whole_160", repeat(u"a", 160), Coding::Gsm7, false, {160}},
        {"gsm_161", repeat(u"a", 161), Coding::Gsm7, false, {153, 8}},
        {"gsm_escape_counts_two", repeat(u"a", 159) + u"€", Coding::Gsm7, false, {153, 7}},
        {"gsm_escape_never_cut", repeat(u"a", 152) + u"€" + repeat(u"b", 10), Coding::Gsm7, false, {152, 11}},
        {"gsm_wide_reference", repeat(u"a", 161), Coding::Gsm7, true, {152, 9}},
        {"ucs2_whole_70", repeat(u"Ж", 70), Coding::Ucs2, false, {70}},
        {"ucs2_71", repeat(u"Ж", 71), Coding::Ucs2, false, {67, 4}},
        {"ucs2_three_parts", repeat(u"Ж", 135), Coding::Ucs2, false, {67, 67, 1}},
        {"ucs2_pair_never_cut", repeat(u"Ж", 66) + u"🚨" + repeat(u"Ж", 5), Coding::Ucs2, false, {66, 7}},
        {"ucs2_wide_reference", repeat(u"Ж", 71), Coding::Ucs2, true, {66, 5}},
        {"eight_bit", repeat(u"a", 141), Coding::Eight, false, {134, 7}},
        {"empty", u"", Coding::Ucs2, false, {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::u16string> parts = SplitForSms(c.text, c.coding, c.wide);
        std::vector<std::size_t> sizes;
        std::u16string joined;
        for (const std::u16string& p : parts) {
            sizes.push_back(p.size());
            joined += p;
        }
        EXPECT_EQ(sizes, c.sizes);
        EXPECT_EQ(joined, c.text);
    }
    EXPECT_TRUE(FitsGsm7(u"Hello {world} €5 @ £ Ä"));
    EXPECT_FALSE(FitsGsm7(u"Привет"));
    EXPECT_FALSE(FitsGsm7(u"a`b")); // the backtick is not in the alphabet
}

TEST(SmsPduEncode, SubmitFieldsAsAModemTakesThem)
{
    const std::vector<OutgoingPdu> one = EncodeSubmit("+79161234567", u"hellohello", 7);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].hex, "0001000B919761214365F700000AE8329BFD4697D9EC37");
    EXPECT_EQ(one[0].tpduLength, 22);

    const std::vector<OutgoingPdu> national = EncodeSubmit("8 916 123-45-67", u"ТА", 7);
    ASSERT_EQ(national.size(), 1u);
    EXPECT_EQ(national[0].hex, "0001000B819861214365F70008040422" "0410");

    const std::vector<OutgoingPdu> parts = EncodeSubmit("+79161234567", std::u16string(71, u'Ж'), 0x1A7);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[1].hex.substr(0, 40), "0041000B919761214365F70008" "0E050003A70202");
    const std::vector<OutgoingPdu> wide = EncodeSubmit("+79161234567", std::u16string(71, u'Ж'), 0x1A7, true);
    ASSERT_EQ(wide.size(), 2u);
    EXPECT_EQ(wide[0].hex.substr(0, 42), "0041000B919761214365F70008" "8B06080401A70201");
    for (const OutgoingPdu& p : wide)
        EXPECT_EQ(p.tpduLength, TpduLength(p.hex));
}

// Random texts over every kind of character go out and come back whole, as a
// SUBMIT (its parts rejoined) and as a DELIVER with a concatenation header.
TEST(SmsPduEncode, RandomTextsRoundTrip)
{
    const std::u16string pools[] = {
        u"abcXYZ 0189.,!?@£$_\n\r{}[]~^|\\€ΔΩÄÖüß",
        u"abc АБВабвЁё №«»—…🚨€",
    };
    std::mt19937 rng(20261209);
    for (int round = 0; round < 200; ++round) {
        const std::u16string& pool = pools[round % 2];
        // A Cyrillic letter makes the second pool's texts UCS2 whatever else they draw.
        std::u16string text = round % 2 == 0 ? u"" : u"Ж";
        const int len = static_cast<int>(rng() % 400);
        for (int i = 0; i < len; ++i) {
            std::size_t k = rng() % pool.size();
            if (pool[k] >= 0xDC00 && pool[k] <= 0xDFFF)
                --k;
            text += pool[k];
            if (pool[k] >= 0xD800 && pool[k] <= 0xDBFF)
                text += pool[k + 1];
        }
        SCOPED_TRACE(Utf8(text));
        const bool wide = round % 3 == 0;
        const unsigned ref = static_cast<unsigned>(rng() % 65536);
        const std::vector<OutgoingPdu> sent = EncodeSubmit("+79161234567", text, ref, wide);
        std::u16string joined;
        for (std::size_t n = 0; n < sent.size(); ++n) {
            std::string why;
            const std::optional<Submit> s = DecodeSubmitPdu(sent[n].hex, &why);
            ASSERT_TRUE(s) << test::Cp1251ToUtf8(why);
            EXPECT_EQ(sent[n].tpduLength * 2 + 2, static_cast<int>(sent[n].hex.size()));
            EXPECT_EQ(s->number, "+79161234567");
            EXPECT_EQ(s->coding, round % 2 == 0 ? Coding::Gsm7 : Coding::Ucs2);
            ASSERT_EQ(s->data.concat.has_value(), sent.size() > 1);
            if (s->data.concat) {
                EXPECT_EQ(s->data.concat->reference, wide ? ref : ref & 0xFF);
                EXPECT_EQ(s->data.concat->total, sent.size());
                EXPECT_EQ(s->data.concat->part, n + 1);
            }
            joined += s->data.units;
        }
        EXPECT_EQ(joined, text);

        const Coding coding = round % 2 == 0 ? Coding::Gsm7 : Coding::Ucs2;
        const std::vector<std::u16string> parts = SplitForSms(text, coding, wide);
        joined.clear();
        for (std::size_t n = 0; n < parts.size(); ++n) {
            const Concat c{ref & (wide ? 0xFFFF : 0xFF), wide, static_cast<unsigned>(parts.size()),
                           static_cast<unsigned>(n + 1)};
            const std::string pdu = EncodeDeliverPdu("+79168999100", round % 4 == 1 ? "Guard" : "+79161234567",
                                                     "26/12/09,23:05:00+12", coding, parts[n], c);
            const std::optional<Deliver> d = DecodeDeliverPdu(pdu);
            ASSERT_TRUE(d);
            EXPECT_EQ(d->sender, round % 4 == 1 ? "Guard" : "+79161234567");
            EXPECT_EQ(d->smsc, "+79168999100");
            EXPECT_EQ(d->timestamp, "26/12/09,23:05:00+12");
            ASSERT_TRUE(d->data.concat);
            EXPECT_EQ(d->data.concat->part, n + 1);
            joined += d->data.units;
            // The text mode's view of the same part: the user data octets alone.
            const std::vector<std::uint8_t> octets = *HexToOctets(pdu);
            const std::size_t udAt = octets.size() - (coding == Coding::Ucs2 ? d->data.units.size() * 2 + 6 + wide : 0);
            if (coding == Coding::Ucs2) {
                const std::optional<UserData> ud =
                    DecodeUserData(std::span(octets).subspan(udAt), true, Coding::Ucs2);
                ASSERT_TRUE(ud);
                EXPECT_EQ(ud->units, d->data.units);
            }
        }
        EXPECT_EQ(joined, text);
    }
}
