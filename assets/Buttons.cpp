// The picture buttons: a face, a small drawing and the label, in three states.
#include "assets/Pictures.h"

#include <QLinearGradient>
#include <QRadialGradient>

#include <stdexcept>
#include <string>

namespace kv::assets::gen {
namespace {

enum class Layout {
    Logo,     // shield above the name, no face
    Tile,     // main window: drawing above the label
    Wide,     // modem window: drawing left of a one- or two-line label
    Port,     // port selection: large drawing left of the label
    Card,     // device card: like Wide, narrower
    Round,    // relay: round face, drawing only
};

using Drawing = void (*)(QPainter&);

struct ButtonDrawing {
    const ButtonPictures* pictures;
    Layout layout;
    const char* label; // UTF-8
    Drawing drawing;   // 20-unit box
};

void Modem(QPainter& p) { DrawModem(p); }
void House(QPainter& p) { DrawHouse(p); }
void Journal(QPainter& p) { DrawJournal(p); }
void Question(QPainter& p) { DrawQuestion(p); }
void ComPort(QPainter& p) { DrawComPort(p); }
void Tower(QPainter& p) { DrawTower(p, QColor(55, 62, 80), QColor(0, 128, 255)); }
void Check(QPainter& p) { DrawCheckDisc(p); }
void Coin(QPainter& p) { DrawCoin(p); }
void Thermometer(QPainter& p) { DrawThermometer(p); }
void ArmLock(QPainter& p) { DrawPadlock(p, true, QColor(225, 175, 20)); }
void DisarmLock(QPainter& p) { DrawPadlock(p, false, QColor(70, 175, 30)); }
void PowerOn(QPainter& p) { DrawPower(p, QColor(220, 25, 25)); }
void PowerOff(QPainter& p) { DrawPower(p, QColor(20, 95, 225)); }
void Info(QPainter& p)
{
    p.scale(20.0 / 32, 20.0 / 32);
    DrawInfoDisc(p, QColor(20, 105, 230), true);
}
void Access(QPainter& p)
{
    p.save();
    p.translate(-1.5, 0);
    DrawPerson(p);
    p.restore();
    p.translate(8.5, 9.5);
    p.scale(0.58, 0.58);
    DrawKey(p, QColor(240, 185, 30));
}
void Device1(QPainter& p)
{
    DrawModem(p);
    DrawNumberBadge(p, QPointF(5, 5), 4.4, QStringLiteral("1"));
}
void Device2(QPainter& p)
{
    DrawModem(p);
    DrawNumberBadge(p, QPointF(5, 5), 4.4, QStringLiteral("2"));
}

const ButtonDrawing kDrawings[] = {
    {&kLogo, Layout::Logo, "KORVALEN", nullptr},
    {&kBtnModem, Layout::Tile, "GSM MODEM", Modem},
    {&kBtnDevices, Layout::Tile, "УСТРОЙСТВА", House},
    {&kBtnAccess, Layout::Tile, "ДОСТУП", Access},
    {&kBtnEvents, Layout::Tile, "СОБЫТИЯ", Journal},
    {&kBtnHelp, Layout::Tile, "СПРАВКА", Question},
    {&kBtnComSetup, Layout::Wide, "НАСТРОЙКА COM ПОРТОВ", ComPort},
    {&kBtnConnect, Layout::Wide, "УСТАНОВИТЬ СВЯЗЬ", Tower},
    {&kBtnLinkTest, Layout::Wide, "ПРОВЕРКА СВЯЗИ", Check},
    {&kBtnBalance, Layout::Wide, "ЗАПРОС «БАЛАНСА»", Coin},
    {&kBtnDevice1, Layout::Port, "УСТРОЙСТВО №1", Device1},
    {&kBtnDevice2, Layout::Port, "УСТРОЙСТВО №2", Device2},
    {&kBtnInfo, Layout::Card, "ИНФО", Info},
    {&kBtnArm, Layout::Card, "ПОСТАВИТЬ НА ОХРАНУ", ArmLock},
    {&kBtnDisarm, Layout::Card, "СНЯТЬ С ОХРАНЫ", DisarmLock},
    {&kBtnTemp, Layout::Card, "T°C", Thermometer},
    {&kBtnRelayOn, Layout::Round, "", PowerOn},
    {&kBtnRelayOff, Layout::Round, "", PowerOff},
};

const QColor kLabel(14, 38, 96);
const QColor kGlow(0, 128, 255);

// Normal: light and raised. Hover: lighter, with a blue outline and glow.
// Down: darker, shadowed at the top; the content moves by one pixel.
void DrawFace(QPainter& p, const QRectF& face, ButtonState state, qreal radius)
{
    QColor top(250, 252, 255);
    QColor bottom(208, 221, 239);
    QColor border(120, 143, 176);
    if (state == ButtonState::Hover) {
        top = QColor(255, 255, 255);
        bottom = QColor(229, 240, 255);
        border = QColor(0, 115, 235);
        for (int i = 3; i >= 1; --i) {
            p.setPen(QPen(QColor(0, 128, 255, 45), i * 1.5));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(face, radius, radius);
        }
    } else if (state == ButtonState::Down) {
        top = QColor(176, 192, 215);
        bottom = QColor(206, 218, 235);
        border = QColor(80, 100, 132);
    }
    QLinearGradient g(0, face.top(), 0, face.bottom());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setPen(QPen(border, state == ButtonState::Hover ? 1.5 : 1.0));
    p.setBrush(g);
    p.drawRoundedRect(face, radius, radius);
    p.setBrush(Qt::NoBrush);
    if (state == ButtonState::Down) {
        p.setPen(QPen(QColor(0, 0, 0, 55), 1.5));
        p.drawLine(QPointF(face.left() + radius, face.top() + 1.5),
                   QPointF(face.right() - radius, face.top() + 1.5));
    } else {
        p.setPen(QPen(QColor(255, 255, 255, 210), 1.0));
        p.drawRoundedRect(face.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    }
}

QColor Halo(ButtonState state)
{
    return state == ButtonState::Down ? QColor(255, 255, 255, 90) : QColor(255, 255, 255, 190);
}

void DrawLogo(QPainter& p, QSizeF size, ButtonState state)
{
    if (state == ButtonState::Hover) {
        // An elliptic glow that fades out before the edges, so no straight
        // edge of it shows.
        const qreal r = size.width() / 2 - 2;
        p.save();
        p.translate(size.width() / 2, size.height() / 2);
        p.scale(1, (size.height() / 2 - 1) / r);
        QRadialGradient glow(QPointF(0, 0), r);
        glow.setColorAt(0, QColor(0, 128, 255, 80));
        glow.setColorAt(1, QColor(0, 128, 255, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(QPointF(0, 0), r, r);
        p.restore();
    }
    if (state == ButtonState::Down)
        p.translate(1, 1);
    InBox(p, QRectF(size.width() / 2 - 22, 1, 44, 44), 20, [](QPainter& q) { DrawShield(q); });
    const QColor name = state == ButtonState::Hover  ? QColor(0, 100, 220)
                        : state == ButtonState::Down ? QColor(0, 35, 90)
                                                     : QColor(0, 60, 150);
    QFont f = StationFont(17);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
    p.setFont(f);
    const QRectF text(0, 45, size.width(), size.height() - 46);
    p.setPen(QColor(255, 255, 255, 170));
    p.drawText(text.translated(0, 1), Qt::AlignCenter, QStringLiteral("KORVALEN"));
    p.setPen(name);
    p.drawText(text, Qt::AlignCenter, QStringLiteral("KORVALEN"));
    if (state == ButtonState::Down) {
        p.setCompositionMode(QPainter::CompositionMode_SourceAtop);
        p.fillRect(QRectF(QPointF(-1, -1), size), QColor(0, 0, 0, 45));
    }
}

void DrawRound(QPainter& p, QSizeF size, ButtonState state, Drawing drawing)
{
    const QPointF c(size.width() / 2, size.height() / 2);
    const qreal r = size.width() / 2 - 3;
    if (state == ButtonState::Hover) {
        for (int i = 3; i >= 1; --i) {
            p.setPen(QPen(QColor(0, 128, 255, 45), i * 1.5));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(c, r, r);
        }
    }
    QRadialGradient g(c + QPointF(-4, -5), r * 1.6);
    if (state == ButtonState::Down) {
        g.setColorAt(0, QColor(200, 210, 225));
        g.setColorAt(1, QColor(150, 165, 190));
    } else {
        g.setColorAt(0, QColor(255, 255, 255));
        g.setColorAt(1, state == ButtonState::Hover ? QColor(215, 232, 255) : QColor(190, 204, 224));
    }
    p.setPen(QPen(state == ButtonState::Hover ? QColor(0, 115, 235) : QColor(100, 120, 150),
                  state == ButtonState::Hover ? 1.5 : 1.0));
    p.setBrush(g);
    p.drawEllipse(c, r, r);
    const qreal shift = state == ButtonState::Down ? 1 : 0;
    InBox(p, QRectF(c.x() - 11 + shift, c.y() - 11 + shift, 22, 22), 20, drawing);
}

void DrawButton(QPainter& p, const ButtonDrawing& b, ButtonState state)
{
    const QSizeF size(b.pictures->size.width, b.pictures->size.height);
    if (b.layout == Layout::Logo)
        return DrawLogo(p, size, state);
    if (b.layout == Layout::Round)
        return DrawRound(p, size, state, b.drawing);

    // Two and a half pixels all round stay free for the hover glow.
    const QRectF face(2.5, 2.5, size.width() - 5, size.height() - 5);
    DrawFace(p, face, state, b.layout == Layout::Tile ? 8 : 6);
    if (state == ButtonState::Down)
        p.translate(1, 1);
    const QString label = QString::fromUtf8(b.label);
    const qreal w = size.width();
    const qreal h = size.height();
    switch (b.layout) {
    case Layout::Tile:
        InBox(p, QRectF(w / 2 - 17, 6, 34, 34), 20, b.drawing);
        DrawFittedText(p, QRectF(6, 42, w - 12, h - 46), label, {12, 8}, kLabel, Halo(state));
        break;
    case Layout::Wide:
        InBox(p, QRectF(9, h / 2 - 12, 24, 24), 20, b.drawing);
        DrawFittedText(p, QRectF(37, 4, w - 37 - 7, h - 8), label, {11, 8, true, 2}, kLabel,
                       Halo(state));
        break;
    case Layout::Port:
        InBox(p, QRectF(9, h / 2 - 19, 38, 38), 20, b.drawing);
        DrawFittedText(p, QRectF(50, 5, w - 50 - 8, h - 10), label, {14, 9, true}, kLabel,
                       Halo(state));
        break;
    case Layout::Card:
        InBox(p, QRectF(8, h / 2 - 12, 24, 24), 20, b.drawing);
        DrawFittedText(p, QRectF(35, 4, w - 35 - 7, h - 8), label, {12, 8, true}, kLabel,
                       Halo(state));
        break;
    case Layout::Logo:
    case Layout::Round:
        break;
    }
}

} // namespace

QImage ButtonPicture(const ButtonPictures& button, ButtonState state)
{
    for (const ButtonDrawing& b : kDrawings) {
        if (b.pictures->normal != button.normal)
            continue;
        QImage image = NewImage(button.size);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        DrawButton(p, b, state);
        p.end();
        return image.convertToFormat(QImage::Format_ARGB32);
    }
    throw std::invalid_argument("no drawing for button " + std::string(button.normal));
}

} // namespace kv::assets::gen
