#include "codec/Classify.h"
#include "data/Text.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kv;
using namespace kv::literals;

namespace {

struct Classified {
    std::uint8_t guard;
    std::uint8_t info;
    std::string status;
    std::vector<Sound> sounds;
};

Classified Classify(const std::string& text)
{
    Classified c{};
    c.guard = ClassifyGuardMessage(text, [&](Sound s) { c.sounds.push_back(s); });
    c.info = ClassifyInfoMessage(text);
    c.status = std::string(MessageStatus(c.guard, c.info));
    return c;
}

std::string S(std::string_view s) { return std::string(s); }

// The alarm phrase built from its pieces: Latin a, P, E, B inside Cyrillic words.
std::string LatinAlarmPhrase() { return S("Вним"_cp) + "a" + S("ние Т"_cp) + "PEB" + S("ОГА"_cp); }

} // namespace

TEST(AlarmMarker, HasTheBytesDevicesSend)
{
    const std::string expected = "\xC2\xED\xE8\xEC\x61\xED\xE8\xE5\x20\xD2\x50\x45\x42\xCE\xC3\xC0";
    EXPECT_EQ(std::string(kAlarmMarker), expected);
    EXPECT_EQ(LatinAlarmPhrase(), expected);
    EXPECT_NE(S("Внимание ТРЕВОГА"_cp), expected);
}

TEST(ClassifyGuard, MarkersGiveTheirCodesAndSounds)
{
    const Classified off = Classify(S("Объект 5. Снято с охраны"_cp));
    EXPECT_EQ(off.guard, 1);
    EXPECT_EQ(off.info, kNoChange);
    EXPECT_EQ(off.status, "Снято с охраны"_cp);
    EXPECT_EQ(off.sounds, std::vector<Sound>{Sound::Off});

    const Classified on = Classify(S("Поставлено на охрану"_cp));
    EXPECT_EQ(on.guard, 2);
    EXPECT_EQ(on.status, "На охране"_cp);
    EXPECT_EQ(on.sounds, std::vector<Sound>{Sound::On});

    for (const std::string& alarm : {LatinAlarmPhrase() + "!", S("Внимание, сработал датчик движения"_cp),
                                     S("Внимание, сработал дополнительный датчик 2"_cp)}) {
        const Classified a = Classify(alarm);
        EXPECT_EQ(a.guard, 3);
        EXPECT_EQ(a.status, "Тревога"_cp);
        EXPECT_TRUE(a.sounds.empty()) << "alarms sound through the board, not here";
    }
}

TEST(ClassifyGuard, LaterMarkerWinsButEverySoundStarts)
{
    const Classified both = Classify(S("Снято с охраны. Поставлено на охрану"_cp));
    EXPECT_EQ(both.guard, 2);
    EXPECT_EQ(both.status, "На охране"_cp);
    EXPECT_EQ(both.sounds, (std::vector<Sound>{Sound::Off, Sound::On}));

    // Table order decides, not the order in the text.
    const Classified reversed = Classify(S("Поставлено на охрану. Снято с охраны"_cp));
    EXPECT_EQ(reversed.guard, 2);

    const Classified armedThenAlarm = Classify(S("Поставлено на охрану. Внимание, сработал датчик движения"_cp));
    EXPECT_EQ(armedThenAlarm.guard, 3);
    EXPECT_EQ(armedThenAlarm.status, "Тревога"_cp);
    EXPECT_EQ(armedThenAlarm.sounds, std::vector<Sound>{Sound::On});
}

TEST(ClassifyGuard, LookAlikesDoNotMatch)
{
    for (const std::string& text :
         {S("Внимание ТРЕВОГА"_cp), S("снято с охраны"_cp), S("ПОСТАВЛЕНО НА ОХРАНУ"_cp), S("Снято  с охраны"_cp),
          S("Внимание, сработал датчик"_cp), std::string(), std::string("\0\0", 2)}) {
        const Classified c = Classify(text);
        EXPECT_EQ(c.guard, kNoChange);
        EXPECT_EQ(c.info, kNoChange);
        EXPECT_EQ(c.status, "Норма"_cp);
        EXPECT_TRUE(c.sounds.empty());
    }
}

TEST(ClassifyInfo, EachMarkerAndItsStatus)
{
    struct Case {
        std::string text;
        std::uint8_t info;
        std::string status;
    };
    const Case cases[] = {
        {S("Сетевое питание отключено, система питается от АКБ"_cp), 4, S("ИнфоСМС"_cp)},
        {S("Сетевое питание системы восстановлено"_cp), 5, S("ИнфоСМС"_cp)},
        {S("Внимание, аккумулятор разряжен, напряжение на АКБ ниже 10 вольт"_cp), 6, S("ИнфоСМС"_cp)},
        {S("Неверный номер IButton! 0A1B"_cp), 7, S("Чужой ключ"_cp)},
        {S("Датчик температуры не подключен"_cp), 8, S("Температурный режим"_cp)},
        {S("Температура +21"_cp), 8, S("Температурный режим"_cp)},
        // A fire or an opened case is journalled as a warning, not as normal.
        {S("Вскрыт корпус датчика"_cp), 9, S("Внимание"_cp)},
        {S("Внимание Пожар!"_cp), 9, S("Внимание"_cp)},
        {S("Внимание-температура достигла установленного порога"_cp), 8, S("Температурный режим"_cp)},
    };
    for (const Case& c : cases) {
        const Classified r = Classify(c.text);
        EXPECT_EQ(r.guard, kNoChange);
        EXPECT_EQ(r.info, c.info);
        EXPECT_EQ(r.status, c.status);
    }
}

TEST(ClassifyInfo, OrderAndCaseDecide)
{
    // Marker 7 is tested after marker 6.
    EXPECT_EQ(Classify(S("Температура 30. Вскрыт корпус датчика"_cp)).info, 9);
    // Mended: a fire reported with the temperature threshold was a thermometer
    // and "Температурный режим"; the fire wins.
    const Classified fire = Classify(S("Внимание Пожар! Внимание-температура достигла установленного порога"_cp));
    EXPECT_EQ(fire.info, 9);
    EXPECT_EQ(fire.status, "Внимание"_cp);
    // The lower-case word inside other markers is not the temperature report.
    EXPECT_EQ(Classify(S("температура"_cp)).info, kNoChange);
    EXPECT_EQ(Classify(S("ВНИМАНИЕ ПОЖАР!"_cp)).info, kNoChange);
}

TEST(MessageStatus, GuardCodeTakesPrecedence)
{
    const Classified c = Classify(S("Поставлено на охрану. Сетевое питание системы восстановлено"_cp));
    EXPECT_EQ(c.guard, 2);
    EXPECT_EQ(c.info, 5);
    EXPECT_EQ(c.status, "На охране"_cp);
    EXPECT_EQ(MessageStatus(1, 7), "Снято с охраны"_cp);
    EXPECT_EQ(MessageStatus(3, 9), "Тревога"_cp);
    EXPECT_EQ(MessageStatus(kNoChange, kNoChange), "Норма"_cp);
}
