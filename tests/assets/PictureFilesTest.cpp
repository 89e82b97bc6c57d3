// The station's pictures, as the build left them beside the executable.
#include "AssetFiles.h"
#include "assets/AssetNames.h"

#include <gtest/gtest.h>

#include <QColor>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace kv::assets;
using kv::test::LoadAsset;

struct Picture {
    std::string_view name;
    Size size;
};

const std::vector<std::string>& DesktopIcons()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const int size : kDesktopIconSizes)
            out.push_back(DesktopIconName(size));
        return out;
    }();
    return names;
}

std::vector<Picture> AllPictures()
{
    std::vector<Picture> all;
    for (std::string_view n : kSignalByBars)
        all.push_back({n, kSignalIconSize});
    all.push_back({kModemOff, kSignalIconSize});
    for (std::string_view n : kJournalIcons)
        all.push_back({n, kJournalIconSize});
    for (std::string_view n : kBoardIcons)
        all.push_back({n, kBoardIconSize});
    for (const ButtonPictures& b : kButtons)
        for (std::string_view n : {b.normal, b.hover, b.down})
            all.push_back({n, b.size});
    all.push_back({kAlertPicture, kAlertSize});
    all.push_back({kHelpPicture, kHelpSize});
    all.push_back({kAppIcon, kAppIconSize});
    for (std::size_t i = 0; i < DesktopIcons().size(); ++i)
        all.push_back({DesktopIcons()[i], Size{kDesktopIconSizes[i], kDesktopIconSizes[i]}});
    return all;
}

std::vector<std::string_view> Icons()
{
    std::vector<std::string_view> icons;
    for (std::string_view n : kSignalByBars)
        icons.push_back(n);
    icons.push_back(kModemOff);
    for (std::string_view n : kJournalIcons)
        icons.push_back(n);
    for (std::string_view n : kBoardIcons)
        icons.push_back(n);
    icons.push_back(kAppIcon);
    for (const std::string& name : DesktopIcons())
        icons.push_back(name);
    return icons;
}

int CountPixels(const QImage& image, const std::function<bool(QRgb)>& pred)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (pred(image.pixel(x, y)))
                ++n;
    return n;
}

bool Saturated(QRgb c)
{
    return qAlpha(c) > 128 && QColor(c).hsvSaturation() > 100 && QColor(c).value() > 60;
}

// The hue (0-359) most of the clearly coloured pixels have, or -1 when the
// picture is essentially grey.
int DominantHue(const QImage& image)
{
    std::array<int, 36> bins{};
    int coloured = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            if (!Saturated(c))
                continue;
            ++bins[QColor(c).hsvHue() / 10];
            ++coloured;
        }
    if (coloured < image.width() * image.height() / 20)
        return -1;
    return static_cast<int>(std::max_element(bins.begin(), bins.end()) - bins.begin()) * 10 + 5;
}

bool HueNear(int hue, int expected, int tolerance)
{
    const int d = std::abs(hue - expected) % 360;
    return hue >= 0 && std::min(d, 360 - d) <= tolerance;
}

TEST(PictureFiles, EveryPictureLoadsAtItsSize)
{
    const auto all = AllPictures();
    EXPECT_EQ(all.size(), 6u + 14u + 6u + 3u * 18u + 3u + 8u);
    for (const Picture& p : all) {
        SCOPED_TRACE(std::string(p.name));
        const QImage image = LoadAsset(p.name);
        ASSERT_FALSE(image.isNull()) << "missing or not a PNG";
        EXPECT_EQ(image.width(), p.size.width);
        EXPECT_EQ(image.height(), p.size.height);
    }
}

TEST(PictureFiles, IconsAreDrawnOnATransparentGround)
{
    for (std::string_view name : Icons()) {
        SCOPED_TRACE(std::string(name));
        const QImage image = LoadAsset(name);
        ASSERT_FALSE(image.isNull());
        ASSERT_TRUE(image.hasAlphaChannel());
        const int w = image.width() - 1;
        const int h = image.height() - 1;
        for (QPoint corner : {QPoint(0, 0), QPoint(w, 0), QPoint(0, h), QPoint(w, h)})
            EXPECT_EQ(qAlpha(image.pixel(corner)), 0) << corner.x() << "," << corner.y();
        const int drawn = CountPixels(image, [](QRgb c) { return qAlpha(c) > 64; });
        EXPECT_GE(drawn * 10, image.width() * image.height()) << "almost empty: " << drawn << " px";
    }
}

TEST(PictureFiles, SignalIconsFillMoreBarsAsTheLevelRises)
{
    auto green = [](QRgb c) { return Saturated(c) && HueNear(QColor(c).hsvHue(), 115, 25); };
    auto red = [](QRgb c) { return Saturated(c) && HueNear(QColor(c).hsvHue(), 0, 15); };
    int previous = -1;
    for (std::size_t bars = 0; bars < kSignalByBars.size(); ++bars) {
        SCOPED_TRACE(std::string(kSignalByBars[bars]));
        const QImage image = LoadAsset(kSignalByBars[bars]);
        ASSERT_FALSE(image.isNull());
        const int filled = CountPixels(image, green);
        EXPECT_GT(filled, previous);
        previous = filled;
        EXPECT_EQ(CountPixels(image, red) > 20, bars == 0) << "only no-signal carries the cross";
    }
    EXPECT_EQ(CountPixels(LoadAsset(kSignalByBars[0]), green), 0);
    const QImage off = LoadAsset(kModemOff);
    EXPECT_EQ(CountPixels(off, [](QRgb c) { return Saturated(c); }), 0) << "modem off is grey";
}

TEST(PictureFiles, BoardIconsHaveTheColoursTheBoardNamesThemBy)
{
    // The board picks icons by index; a swapped pair would show the wrong
    // notification on every tile.
    const int expectedHue[] = {-1, 215, 125, 30, 305, 50};
    for (std::size_t i = 0; i < kBoardIcons.size(); ++i) {
        SCOPED_TRACE(std::string(kBoardIcons[i]));
        const int hue = DominantHue(LoadAsset(kBoardIcons[i]));
        if (expectedHue[i] < 0)
            EXPECT_EQ(hue, -1) << "should be grey";
        else
            EXPECT_TRUE(HueNear(hue, expectedHue[i], 22)) << "hue " << hue;
    }
}

TEST(PictureFiles, JournalIconsHaveTheColoursOfTheirStatuses)
{
    struct Expect {
        int index;
        int hue; // -1 grey
    };
    const Expect expected[] = {{0, 210}, {1, 265}, {2, 45}, {3, -1}, {4, 0},
                               {5, 100}, {7, 0},   {8, 210}, {9, 45}, {10, 215}, {12, 180}, {13, 330}};
    for (const Expect& e : expected) {
        SCOPED_TRACE(std::string(kJournalIcons[e.index]));
        const int hue = DominantHue(LoadAsset(kJournalIcons[e.index]));
        if (e.hue < 0)
            EXPECT_EQ(hue, -1) << "should be grey";
        else
            EXPECT_TRUE(HueNear(hue, e.hue, 22)) << "hue " << hue;
    }
}

TEST(PictureFiles, NoTwoIconsOfAListAreAlike)
{
    auto distinct = [](const auto& names) {
        for (std::size_t i = 0; i < names.size(); ++i)
            for (std::size_t j = i + 1; j < names.size(); ++j)
                EXPECT_NE(LoadAsset(names[i]), LoadAsset(names[j])) << names[i] << " = " << names[j];
    };
    distinct(kJournalIcons);
    distinct(kBoardIcons);
    distinct(kSignalByBars);
}

TEST(PictureFiles, ButtonsShowTheirStatesAndCarryALabel)
{
    for (const ButtonPictures& b : kButtons) {
        SCOPED_TRACE(std::string(b.normal));
        const QImage normal = LoadAsset(b.normal);
        const QImage hover = LoadAsset(b.hover);
        const QImage down = LoadAsset(b.down);
        ASSERT_FALSE(normal.isNull() || hover.isNull() || down.isNull());
        EXPECT_NE(normal, hover);
        EXPECT_NE(normal, down);
        EXPECT_NE(hover, down);
        // A readable label is dark on the light face. Labels sit below the
        // drawing on tall buttons and right of it on wide ones; count dark
        // pixels there only, so a dark drawing cannot stand in for the text.
        const bool hasText = b.normal != kBtnRelayOn.normal && b.normal != kBtnRelayOff.normal;
        if (hasText) {
            const bool tall = b.size.height * 2 > b.size.width;
            const QRect labelArea = tall ? QRect(0, b.size.height * 3 / 5, b.size.width, b.size.height)
                                         : QRect(b.size.width * 2 / 5, 0, b.size.width, b.size.height);
            const int dark = CountPixels(normal.copy(labelArea), [](QRgb c) {
                return qAlpha(c) == 255 && qGray(c) < 90;
            });
            EXPECT_GE(dark, 30) << "no dark label";
        }
    }
    EXPECT_TRUE(HueNear(DominantHue(LoadAsset(kBtnRelayOn.normal)), 0, 15));
    EXPECT_TRUE(HueNear(DominantHue(LoadAsset(kBtnRelayOff.normal)), 220, 20));
}

TEST(PictureFiles, PressedButtonIsDarkerThanNormal)
{
    auto brightness = [](const QImage& image) {
        long long sum = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                sum += qGray(image.pixel(x, y)) * qAlpha(image.pixel(x, y)) / 255;
        return sum;
    };
    for (const ButtonPictures& b : kButtons) {
        SCOPED_TRACE(std::string(b.normal));
        EXPECT_LT(brightness(LoadAsset(b.down)), brightness(LoadAsset(b.normal)));
    }
}

// The windows lay labels over these areas; the pictures leave them plain.
void ExpectPlainArea(const QImage& image, const Rect& r)
{
    ASSERT_FALSE(image.isNull());
    ASSERT_TRUE(QRect(0, 0, image.width(), image.height()).contains(QRect(r.x, r.y, r.width, r.height)));
    const QRect inner = QRect(r.x, r.y, r.width, r.height).adjusted(4, 4, -4, -4);
    const QRgb ground = image.pixel(inner.topLeft());
    EXPECT_GT(qGray(ground), 200) << "labels need a light ground";
    int other = 0;
    for (int y = inner.top(); y <= inner.bottom(); ++y)
        for (int x = inner.left(); x <= inner.right(); ++x)
            if (image.pixel(x, y) != ground)
                ++other;
    EXPECT_EQ(other, 0);
}

TEST(PictureFiles, AlertIsOnTheBluePanelAndLeavesItsTextBandFree)
{
    const QImage alert = LoadAsset(kAlertPicture);
    ASSERT_FALSE(alert.isNull());
    const QRgb panel = qRgb(0, 128, 255);
    for (QPoint p : {QPoint(0, 0), QPoint(alert.width() - 1, 0), QPoint(0, alert.height() - 1),
                     QPoint(alert.width() - 1, alert.height() - 1)})
        EXPECT_EQ(alert.pixel(p), panel) << p.x() << "," << p.y();
    ExpectPlainArea(alert, kAlertTextArea);
}

TEST(PictureFiles, HelpLeavesRoomForItsLinks)
{
    ExpectPlainArea(LoadAsset(kHelpPicture), kHelpLinkArea);
}

} // namespace
