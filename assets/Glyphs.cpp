#include "assets/Glyphs.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <numbers>

namespace kv::assets::gen {
namespace {

QLinearGradient Vertical(qreal top, qreal bottom, const QColor& a, const QColor& b)
{
    QLinearGradient g(0, top, 0, bottom);
    g.setColorAt(0, a);
    g.setColorAt(1, b);
    return g;
}

QPen Pen(const QColor& c, qreal width, Qt::PenCapStyle cap = Qt::RoundCap,
         Qt::PenJoinStyle join = Qt::RoundJoin)
{
    return QPen(c, width, Qt::SolidLine, cap, join);
}

void FillAndOutline(QPainter& p, const QPainterPath& path, const QBrush& fill, const QColor& line,
                    qreal width)
{
    p.setPen(Pen(line, width));
    p.setBrush(fill);
    p.drawPath(path);
}

// A point on a circle at an angle counted counter-clockwise from 3 o'clock,
// the way QPainterPath::arcTo counts it.
QPointF OnCircle(const QPointF& c, qreal r, qreal degrees)
{
    const qreal a = degrees * std::numbers::pi / 180.0;
    return {c.x() + r * std::cos(a), c.y() - r * std::sin(a)};
}

QRectF CircleRect(const QPointF& c, qreal r)
{
    return {c.x() - r, c.y() - r, 2 * r, 2 * r};
}

// An arc with an arrow head at its end.
void ArcArrow(QPainter& p, const QPointF& c, qreal r, qreal start, qreal sweep, const QColor& colour,
              qreal width)
{
    QPainterPath arc;
    arc.arcMoveTo(CircleRect(c, r), start);
    arc.arcTo(CircleRect(c, r), start, sweep);
    p.setPen(Pen(colour, width, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(arc);

    const qreal end = start + sweep;
    const QPointF tip0 = OnCircle(c, r, end);
    const qreal a = end * std::numbers::pi / 180.0;
    const qreal dir = sweep > 0 ? 1.0 : -1.0;
    const QPointF tangent(-std::sin(a) * dir, -std::cos(a) * dir);
    const QPointF normal(std::cos(a), -std::sin(a));
    const qreal head = width * 1.5;
    QPainterPath tri;
    tri.moveTo(tip0 + tangent * head * 1.3);
    tri.lineTo(tip0 + normal * head);
    tri.lineTo(tip0 - normal * head);
    tri.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(tri);
}

} // namespace

void InBox(QPainter& p, const QRectF& target, qreal units, const std::function<void(QPainter&)>& draw)
{
    p.save();
    p.translate(target.topLeft());
    p.scale(target.width() / units, target.height() / units);
    draw(p);
    p.restore();
}

QFont StationFont(qreal pixelSize, bool bold)
{
    QFont f;
    f.setFamilies({QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")});
    f.setPixelSize(static_cast<int>(std::lround(pixelSize)));
    f.setBold(bold);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

void DrawKey(QPainter& p, const QColor& colour)
{
    QPainterPath key;
    key.addEllipse(QPointF(5.8, 10), 4.6, 4.6);
    key.addRect(QRectF(9.5, 8.7, 9.0, 2.6));
    key.addRect(QRectF(13.6, 11.0, 1.9, 3.6));
    key.addRect(QRectF(16.6, 11.0, 1.9, 2.6));
    key = key.simplified();
    QPainterPath hole;
    hole.addEllipse(QPointF(4.6, 10), 1.7, 1.7);
    key = key.subtracted(hole);
    FillAndOutline(p, key, Vertical(5, 15, colour.lighter(150), colour.darker(110)),
                   colour.darker(230), 0.9);
}

void DrawEnvelope(QPainter& p, const QColor& body)
{
    const QRectF r(1.5, 4.5, 17, 11);
    QPainterPath env;
    env.addRoundedRect(r, 1.4, 1.4);
    FillAndOutline(p, env, Vertical(r.top(), r.bottom(), body.lighter(135), body),
                   body.darker(190), 0.9);
    p.setBrush(Qt::NoBrush);
    p.setPen(Pen(QColor(255, 255, 255, 150), 0.8));
    p.drawLine(QPointF(2.5, 14.8), QPointF(7.6, 10.2));
    p.drawLine(QPointF(17.5, 14.8), QPointF(12.4, 10.2));
    p.setPen(Pen(QColor(255, 255, 255, 235), 1.1));
    QPainterPath flap;
    flap.moveTo(2.3, 5.3);
    flap.lineTo(10, 11.2);
    flap.lineTo(17.7, 5.3);
    p.drawPath(flap);
}

void DrawCrossBadge(QPainter& p, const QPointF& c, qreal r)
{
    p.setPen(Pen(Qt::white, r * 0.28));
    p.setBrush(QColor(215, 25, 25));
    p.drawEllipse(c, r, r);
    const qreal d = r * 0.42;
    p.setPen(Pen(Qt::white, r * 0.32));
    p.drawLine(c + QPointF(-d, -d), c + QPointF(d, d));
    p.drawLine(c + QPointF(-d, d), c + QPointF(d, -d));
}

void DrawEnvelopeWithCross(QPainter& p)
{
    p.save();
    p.translate(0, -1.5);
    p.scale(0.9, 0.9);
    DrawEnvelope(p, QColor(225, 45, 45));
    p.restore();
    DrawCrossBadge(p, QPointF(14.3, 14.3), 4.6);
}

void DrawPadlock(QPainter& p, bool closed, const QColor& body)
{
    QPainterPath shackle;
    if (closed) {
        shackle.moveTo(6.3, 10);
        shackle.lineTo(6.3, 6.2);
        shackle.arcTo(QRectF(6.3, 2.5, 7.4, 7.4), 180, -180);
        shackle.lineTo(13.7, 10);
    } else {
        // Lifted and free on the left leg.
        shackle.moveTo(6.3, 6.8);
        shackle.lineTo(6.3, 4.4);
        shackle.arcTo(QRectF(6.3, 0.7, 7.4, 7.4), 180, -180);
        shackle.lineTo(13.7, 10);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(Pen(QColor(70, 72, 80), 2.6, Qt::FlatCap));
    p.drawPath(shackle);
    p.setPen(Pen(QColor(205, 208, 215), 1.1, Qt::FlatCap));
    p.drawPath(shackle);

    QPainterPath box;
    box.addRoundedRect(QRectF(3.3, 9.2, 13.4, 9.6), 1.8, 1.8);
    FillAndOutline(p, box, Vertical(9.2, 18.8, body.lighter(150), body.darker(115)),
                   body.darker(200), 0.9);
    QPainterPath keyhole;
    keyhole.addEllipse(QPointF(10, 12.9), 1.35, 1.35);
    keyhole.moveTo(9.3, 13.4);
    keyhole.lineTo(10.7, 13.4);
    keyhole.lineTo(11.1, 16.4);
    keyhole.lineTo(8.9, 16.4);
    keyhole.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(body.darker(260));
    p.drawPath(keyhole.simplified());
}

void DrawGreyCross(QPainter& p)
{
    p.setBrush(Qt::NoBrush);
    p.setPen(Pen(QColor(85, 85, 85), 4.6));
    p.drawLine(QPointF(4.5, 4.5), QPointF(15.5, 15.5));
    p.drawLine(QPointF(4.5, 15.5), QPointF(15.5, 4.5));
    p.setPen(Pen(QColor(170, 170, 170), 2.6));
    p.drawLine(QPointF(4.5, 4.5), QPointF(15.5, 15.5));
    p.drawLine(QPointF(4.5, 15.5), QPointF(15.5, 4.5));
}

void DrawThermometer(QPainter& p)
{
    QPainterPath tube;
    tube.addRoundedRect(QRectF(7.6, 1.2, 4.8, 14), 2.4, 2.4);
    tube.addEllipse(QPointF(10, 15.6), 3.5, 3.5);
    tube = tube.simplified();
    FillAndOutline(p, tube, QColor(250, 250, 252), QColor(95, 95, 105), 0.9);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(220, 30, 30));
    p.drawEllipse(QPointF(10, 15.6), 2.4, 2.4);
    p.drawRoundedRect(QRectF(9.1, 5.5, 1.8, 10), 0.9, 0.9);
    p.setPen(Pen(QColor(95, 95, 105), 0.8, Qt::FlatCap));
    for (qreal y : {3.5, 6.0, 8.5, 11.0})
        p.drawLine(QPointF(13.4, y), QPointF(15.4, y));
    p.setPen(Pen(QColor(255, 255, 255, 200), 0.7));
    p.drawEllipse(QPointF(9.1, 14.7), 0.6, 0.6);
}

void DrawExclamation(QPainter& p)
{
    QPainterPath bar;
    bar.moveTo(7.3, 2.4);
    bar.quadTo(10, 0.6, 12.7, 2.4);
    bar.lineTo(11.1, 12.8);
    bar.quadTo(10, 13.8, 8.9, 12.8);
    bar.closeSubpath();
    bar.addEllipse(QPointF(10, 16.8), 2.2, 2.2);
    FillAndOutline(p, bar, Vertical(1, 19, QColor(255, 80, 70), QColor(205, 0, 0)),
                   QColor(120, 0, 0), 0.9);
}

void DrawGlobeWithArrows(QPainter& p)
{
    const QPointF c(10, 10);
    QRadialGradient sea(QPointF(8, 7.5), 8);
    sea.setColorAt(0, QColor(120, 200, 255));
    sea.setColorAt(1, QColor(0, 90, 200));
    p.setPen(Pen(QColor(0, 55, 130), 0.8));
    p.setBrush(sea);
    p.drawEllipse(c, 6.3, 6.3);
    p.setBrush(Qt::NoBrush);
    p.setPen(Pen(QColor(255, 255, 255, 190), 0.7));
    p.drawEllipse(c, 2.8, 6.3);
    p.drawLine(QPointF(3.7, 10), QPointF(16.3, 10));
    p.drawLine(QPointF(4.9, 6.6), QPointF(15.1, 6.6));
    p.drawLine(QPointF(4.9, 13.4), QPointF(15.1, 13.4));
    p.drawLine(QPointF(10, 3.7), QPointF(10, 16.3));
    const QColor green(30, 165, 60);
    ArcArrow(p, c, 8.6, 20, 70, green, 1.5);
    ArcArrow(p, c, 8.6, 200, 70, green, 1.5);
}

void DrawCoin(QPainter& p)
{
    const QPointF c(10, 10);
    QRadialGradient gold(QPointF(7.5, 7), 10);
    gold.setColorAt(0, QColor(255, 240, 150));
    gold.setColorAt(0.6, QColor(240, 190, 40));
    gold.setColorAt(1, QColor(200, 140, 10));
    p.setPen(Pen(QColor(140, 90, 0), 1.0));
    p.setBrush(gold);
    p.drawEllipse(c, 8.3, 8.3);
    p.setBrush(Qt::NoBrush);
    p.setPen(Pen(QColor(175, 120, 5), 0.7));
    p.drawEllipse(c, 6.3, 6.3);
    // A rouble sign: a P with a bar across its stem.
    QPainterPath sign;
    sign.moveTo(8.4, 14.6);
    sign.lineTo(8.4, 5.6);
    sign.lineTo(11.0, 5.6);
    sign.arcTo(QRectF(8.6, 5.6, 4.8, 4.6), 90, -180);
    sign.lineTo(7.0, 10.2);
    sign.moveTo(7.0, 12.4);
    sign.lineTo(11.6, 12.4);
    p.setPen(Pen(QColor(125, 75, 0), 1.5, Qt::FlatCap, Qt::MiterJoin));
    p.drawPath(sign);
}

void DrawPerson(QPainter& p)
{
    const QColor light(110, 175, 255);
    const QColor dark(0, 85, 190);
    QPainterPath bust;
    bust.moveTo(2.6, 19);
    bust.cubicTo(2.6, 13.2, 5.6, 11.2, 10, 11.2);
    bust.cubicTo(14.4, 11.2, 17.4, 13.2, 17.4, 19);
    bust.closeSubpath();
    FillAndOutline(p, bust, Vertical(11, 19, light, dark), QColor(0, 50, 130), 0.9);
    QPainterPath head;
    head.addEllipse(QPointF(10, 6.2), 3.9, 3.9);
    QRadialGradient skin(QPointF(9, 5), 4.5);
    skin.setColorAt(0, light.lighter(120));
    skin.setColorAt(1, dark);
    FillAndOutline(p, head, skin, QColor(0, 50, 130), 0.9);
}

void DrawMessages(QPainter& p)
{
    auto bubble = [&](const QRectF& r, const QColor& fill) {
        QPainterPath b;
        b.addRoundedRect(r, 2, 2);
        QPainterPath tail;
        tail.moveTo(r.left() + 2.5, r.bottom() - 0.5);
        tail.lineTo(r.left() + 2.0, r.bottom() + 2.6);
        tail.lineTo(r.left() + 5.5, r.bottom() - 0.5);
        tail.closeSubpath();
        FillAndOutline(p, b.united(tail), Vertical(r.top(), r.bottom(), fill.lighter(125), fill),
                       fill.darker(200), 0.8);
    };
    bubble(QRectF(0.8, 0.8, 12, 7.6), QColor(170, 195, 240));
    bubble(QRectF(3.6, 4.2, 12, 7.6), QColor(95, 150, 235));
    const QRectF env(8.0, 10.8, 11.2, 7.8);
    QPainterPath e;
    e.addRoundedRect(env, 1, 1);
    FillAndOutline(p, e, QColor(255, 255, 255), QColor(0, 70, 170), 0.9);
    QPainterPath flap;
    flap.moveTo(env.left() + 0.6, env.top() + 0.6);
    flap.lineTo(env.center().x(), env.top() + 4.4);
    flap.lineTo(env.right() - 0.6, env.top() + 0.6);
    p.setBrush(Qt::NoBrush);
    p.setPen(Pen(QColor(0, 70, 170), 0.9));
    p.drawPath(flap);
}

QPainterPath ShieldOutline()
{
    QPainterPath shield;
    shield.moveTo(10, 0.8);
    shield.cubicTo(12.6, 2.4, 15.2, 3.0, 18, 3.0);
    shield.lineTo(18, 9.0);
    shield.cubicTo(18, 14.0, 14.6, 17.2, 10, 19.3);
    shield.cubicTo(5.4, 17.2, 2, 14.0, 2, 9.0);
    shield.lineTo(2, 3.0);
    shield.cubicTo(4.8, 3.0, 7.4, 2.4, 10, 0.8);
    shield.closeSubpath();
    return shield;
}

void DrawShield(QPainter& p)
{
    const QPainterPath shield = ShieldOutline();
    FillAndOutline(p, shield, Vertical(1, 19, QColor(30, 140, 250), QColor(0, 50, 135)),
                   QColor(0, 35, 95), 0.8);
    // Inner rim and a lit left half give the shield some depth.
    p.save();
    p.translate(10, 10);
    p.scale(0.84, 0.84);
    p.translate(-10, -10);
    p.setBrush(Qt::NoBrush);
    p.setPen(Pen(QColor(200, 228, 255), 0.7));
    p.drawPath(shield);
    p.restore();

    // The signal: a mast point sending three waves upwards.
    const QPointF src(10, 13.6);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(src, 1.35, 1.35);
    p.setBrush(Qt::NoBrush);
    for (qreal r : {3.0, 5.2, 7.4}) {
        p.setPen(Pen(Qt::white, 1.25));
        QPainterPath wave;
        wave.arcMoveTo(CircleRect(src, r), 48);
        wave.arcTo(CircleRect(src, r), 48, 84);
        p.drawPath(wave);
    }
}

void DrawModem(QPainter& p)
{
    p.setBrush(Qt::NoBrush);
    p.setPen(Pen(QColor(45, 50, 62), 1.4));
    p.drawLine(QPointF(15, 10), QPointF(15, 3.2));
    p.setPen(Pen(QColor(0, 128, 255), 0.9));
    for (qreal r : {2.2, 3.9}) {
        QPainterPath w;
        w.arcMoveTo(CircleRect(QPointF(15, 3.2), r), 110);
        w.arcTo(CircleRect(QPointF(15, 3.2), r), 110, 70);
        w.arcMoveTo(CircleRect(QPointF(15, 3.2), r), 0);
        w.arcTo(CircleRect(QPointF(15, 3.2), r), 0, 70);
        p.drawPath(w);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(45, 50, 62));
    p.drawEllipse(QPointF(15, 3.2), 1.1, 1.1);
    QPainterPath box;
    box.addRoundedRect(QRectF(1.6, 9.6, 16.8, 8.2), 1.8, 1.8);
    FillAndOutline(p, box, Vertical(9.6, 17.8, QColor(120, 130, 150), QColor(50, 56, 72)),
                   QColor(30, 34, 45), 0.9);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(80, 240, 90));
    p.drawEllipse(QPointF(4.6, 13.7), 1.0, 1.0);
    p.drawEllipse(QPointF(7.6, 13.7), 1.0, 1.0);
    p.setBrush(QColor(255, 190, 40));
    p.drawEllipse(QPointF(10.6, 13.7), 1.0, 1.0);
    p.setPen(Pen(QColor(200, 205, 215), 0.7, Qt::FlatCap));
    p.drawLine(QPointF(13.0, 12.6), QPointF(16.6, 12.6));
    p.drawLine(QPointF(13.0, 14.8), QPointF(16.6, 14.8));
}

void DrawHouse(QPainter& p)
{
    QPainterPath body;
    body.addRect(QRectF(4, 9.2, 12, 9));
    FillAndOutline(p, body, Vertical(9, 18, QColor(255, 248, 232), QColor(230, 215, 185)),
                   QColor(120, 90, 55), 0.9);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(150, 95, 45));
    p.drawRect(QRectF(6.3, 12.6, 3.2, 5.6));
    p.setBrush(QColor(110, 185, 255));
    p.setPen(Pen(QColor(120, 90, 55), 0.6));
    p.drawRect(QRectF(11.3, 11.6, 3, 2.8));
    QPainterPath roof;
    roof.moveTo(1.2, 10.2);
    roof.lineTo(10, 2.2);
    roof.lineTo(18.8, 10.2);
    roof.lineTo(16.8, 10.2);
    roof.lineTo(10, 4.6);
    roof.lineTo(3.2, 10.2);
    roof.closeSubpath();
    FillAndOutline(p, roof, Vertical(2, 10, QColor(235, 90, 60), QColor(170, 40, 25)),
                   QColor(110, 25, 15), 0.7);
}

void DrawJournal(QPainter& p)
{
    QPainterPath page;
    page.moveTo(3.5, 1.5);
    page.lineTo(12.8, 1.5);
    page.lineTo(16.5, 5.2);
    page.lineTo(16.5, 18.5);
    page.lineTo(3.5, 18.5);
    page.closeSubpath();
    FillAndOutline(p, page, Vertical(1.5, 18.5, QColor(255, 255, 255), QColor(225, 232, 242)),
                   QColor(80, 95, 120), 0.9);
    QPainterPath fold;
    fold.moveTo(12.8, 1.5);
    fold.lineTo(12.8, 5.2);
    fold.lineTo(16.5, 5.2);
    p.setBrush(QColor(200, 210, 225));
    p.setPen(Pen(QColor(80, 95, 120), 0.7));
    p.drawPath(fold);
    const QColor rows[] = {QColor(230, 30, 30), QColor(90, 180, 0), QColor(0, 128, 255),
                           QColor(255, 128, 0)};
    qreal y = 7.6;
    for (const QColor& c : rows) {
        p.setPen(Pen(c, 1.3, Qt::FlatCap));
        p.drawLine(QPointF(5.6, y), QPointF(6.9, y));
        p.drawLine(QPointF(8.2, y), QPointF(14.6, y));
        y += 2.9;
    }
}

void DrawQuestion(QPainter& p)
{
    QRadialGradient g(QPointF(8, 7), 10);
    g.setColorAt(0, QColor(110, 210, 120));
    g.setColorAt(1, QColor(20, 130, 45));
    p.setPen(Pen(QColor(10, 85, 25), 0.9));
    p.setBrush(g);
    p.drawEllipse(QPointF(10, 10), 8.6, 8.6);
    QPainterPath q;
    q.moveTo(7.0, 7.6);
    q.cubicTo(7.0, 4.2, 13.2, 4.0, 13.2, 7.4);
    q.cubicTo(13.2, 9.6, 10.0, 9.8, 10.0, 12.0);
    p.setBrush(Qt::NoBrush);
    p.setPen(Pen(Qt::white, 2.1));
    p.drawPath(q);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(10, 15.2), 1.35, 1.35);
}

void DrawComPort(QPainter& p)
{
    QPainterPath shell;
    shell.moveTo(1.2, 5.4);
    shell.lineTo(18.8, 5.4);
    shell.lineTo(16.6, 14.6);
    shell.lineTo(3.4, 14.6);
    shell.closeSubpath();
    FillAndOutline(p, shell, Vertical(5, 15, QColor(150, 158, 175), QColor(70, 78, 95)),
                   QColor(35, 40, 52), 0.9);
    QPainterPath face;
    face.moveTo(3.0, 6.9);
    face.lineTo(17.0, 6.9);
    face.lineTo(15.4, 13.1);
    face.lineTo(4.6, 13.1);
    face.closeSubpath();
    FillAndOutline(p, face, QColor(40, 44, 56), QColor(25, 28, 36), 0.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 205, 70));
    for (int i = 0; i < 5; ++i)
        p.drawEllipse(QPointF(5.2 + i * 2.4, 8.9), 0.75, 0.75);
    for (int i = 0; i < 4; ++i)
        p.drawEllipse(QPointF(6.4 + i * 2.4, 11.2), 0.75, 0.75);
    p.setPen(Pen(QColor(70, 78, 95), 1.6, Qt::FlatCap));
    p.drawLine(QPointF(10, 14.6), QPointF(10, 18.8));
}

void DrawTower(QPainter& p, const QColor& mast, const QColor& waves)
{
    const QPointF top(10, 4.6);
    p.setBrush(Qt::NoBrush);
    p.setPen(Pen(mast, 1.3));
    p.drawLine(top, QPointF(5.6, 19));
    p.drawLine(top, QPointF(14.4, 19));
    p.setPen(Pen(mast, 0.8));
    p.drawLine(QPointF(8.3, 10.2), QPointF(11.7, 10.2));
    p.drawLine(QPointF(7.2, 14.6), QPointF(12.8, 14.6));
    p.drawLine(QPointF(8.3, 10.2), QPointF(12.8, 14.6));
    p.drawLine(QPointF(11.7, 10.2), QPointF(7.2, 14.6));
    p.drawLine(QPointF(7.2, 14.6), QPointF(14.4, 19));
    p.drawLine(QPointF(12.8, 14.6), QPointF(5.6, 19));
    p.setPen(Pen(waves, 1.1));
    for (qreal r : {3.0, 5.4}) {
        QPainterPath w;
        w.arcMoveTo(CircleRect(top, r), 135);
        w.arcTo(CircleRect(top, r), 135, 90);
        w.arcMoveTo(CircleRect(top, r), -45);
        w.arcTo(CircleRect(top, r), -45, 90);
        p.drawPath(w);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(mast);
    p.drawEllipse(top, 1.4, 1.4);
}

void DrawMonitor(QPainter& p, const QColor& frame, const QColor& screen)
{
    QPainterPath body;
    body.addRoundedRect(QRectF(1.5, 2.5, 17, 12), 1.4, 1.4);
    FillAndOutline(p, body, frame, frame.darker(170), 0.8);
    p.setPen(Qt::NoPen);
    p.setBrush(Vertical(3.8, 13.2, screen.lighter(140), screen));
    p.drawRect(QRectF(3.0, 3.9, 14, 9.2));
    p.setBrush(frame);
    p.setPen(Pen(frame.darker(170), 0.7));
    QPainterPath stand;
    stand.moveTo(8.4, 14.5);
    stand.lineTo(11.6, 14.5);
    stand.lineTo(12.4, 16.8);
    stand.lineTo(7.6, 16.8);
    stand.closeSubpath();
    p.drawPath(stand);
    p.drawRoundedRect(QRectF(5.2, 16.6, 9.6, 1.8), 0.8, 0.8);
}

// A clipboard with a blank sheet, the board in the given colours: the handled
// and the unhandled marks share it and differ by colour and sign.
void DrawClipboard(QPainter& p, const QColor& top, const QColor& bottom, const QColor& outline)
{
    QPainterPath board;
    board.addRoundedRect(QRectF(3.2, 2.6, 13.6, 16.6), 1.6, 1.6);
    FillAndOutline(p, board, Vertical(2.6, 19.2, top, bottom), outline, 0.9);
    QPainterPath sheet;
    sheet.addRect(QRectF(5.0, 5.0, 10.0, 12.6));
    FillAndOutline(p, sheet, QColor(255, 255, 255), QColor(150, 150, 150), 0.5);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(7.0, 1.0, 6.0, 3.4), 1.0, 1.0);
    FillAndOutline(p, clip, Vertical(1.0, 4.4, QColor(225, 230, 240), QColor(140, 150, 165)), QColor(70, 75, 90),
                   0.7);
}

void DrawHandled(QPainter& p)
{
    // A clipboard with a tick: the alarm is on record as dealt with.
    DrawClipboard(p, QColor(70, 185, 185), QColor(0, 120, 120), QColor(0, 70, 70));
    QPainterPath tick;
    tick.moveTo(6.6, 11.2);
    tick.lineTo(9.2, 14.2);
    tick.lineTo(14.0, 7.6);
    p.setBrush(Qt::NoBrush);
    p.setPen(Pen(QColor(0, 140, 140), 2.1));
    p.drawPath(tick);
}

void DrawUnhandled(QPainter& p)
{
    // The handled clipboard in crimson with a cross: on record, but nobody dealt with it.
    DrawClipboard(p, QColor(225, 60, 140), QColor(160, 0, 80), QColor(100, 0, 50));
    p.setBrush(Qt::NoBrush);
    p.setPen(Pen(QColor(192, 0, 96), 2.1));
    p.drawLine(QPointF(7.0, 8.0), QPointF(13.0, 14.6));
    p.drawLine(QPointF(13.0, 8.0), QPointF(7.0, 14.6));
}

void DrawCheckDisc(QPainter& p)
{
    QRadialGradient g(QPointF(8, 7), 10);
    g.setColorAt(0, QColor(120, 215, 110));
    g.setColorAt(1, QColor(25, 140, 40));
    p.setPen(Pen(QColor(10, 90, 20), 0.9));
    p.setBrush(g);
    p.drawEllipse(QPointF(10, 10), 8.6, 8.6);
    QPainterPath tick;
    tick.moveTo(5.6, 10.4);
    tick.lineTo(8.8, 13.6);
    tick.lineTo(14.6, 6.8);
    p.setBrush(Qt::NoBrush);
    p.setPen(Pen(Qt::white, 2.2));
    p.drawPath(tick);
}

void DrawPower(QPainter& p, const QColor& colour)
{
    const QPointF c(10, 10.8);
    QPainterPath ring;
    ring.arcMoveTo(CircleRect(c, 6.4), 118);
    ring.arcTo(CircleRect(c, 6.4), 118, 304);
    p.setBrush(Qt::NoBrush);
    p.setPen(Pen(colour, 2.4));
    p.drawPath(ring);
    p.drawLine(QPointF(10, 2.8), QPointF(10, 10.4));
}

void DrawNumberBadge(QPainter& p, const QPointF& centre, qreal radius, const QString& digit)
{
    p.setPen(Pen(Qt::white, radius * 0.22));
    p.setBrush(QColor(0, 110, 225));
    p.drawEllipse(centre, radius, radius);
    QFont f = StationFont(radius * 1.5);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(CircleRect(centre, radius), Qt::AlignCenter, digit);
}

void DrawInfoDisc(QPainter& p, const QColor& colour, bool letter)
{
    const QPointF c(16, 16);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 50));
    p.drawEllipse(c + QPointF(0.6, 1.0), 14.2, 14.2);
    QRadialGradient g(QPointF(12, 10), 20);
    g.setColorAt(0, colour.lighter(165));
    g.setColorAt(0.55, colour);
    g.setColorAt(1, colour.darker(150));
    p.setPen(Pen(colour.darker(190), 1.0));
    p.setBrush(g);
    p.drawEllipse(c, 14, 14);
    // Gloss on the upper half.
    QLinearGradient gloss(0, 3, 0, 16);
    gloss.setColorAt(0, QColor(255, 255, 255, 140));
    gloss.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(gloss);
    p.drawEllipse(QRectF(6.5, 3.2, 19, 12));
    if (letter) {
        p.setBrush(Qt::white);
        p.setPen(Pen(colour.darker(160), 0.6));
        p.drawEllipse(QPointF(16, 9.4), 2.5, 2.5);
        QPainterPath stem;
        stem.moveTo(12.6, 13.4);
        stem.lineTo(18.2, 13.4);
        stem.lineTo(18.2, 22.8);
        stem.lineTo(19.8, 22.8);
        stem.lineTo(19.8, 25.2);
        stem.lineTo(12.4, 25.2);
        stem.lineTo(12.4, 22.8);
        stem.lineTo(14.0, 22.8);
        stem.lineTo(14.0, 15.8);
        stem.lineTo(12.6, 15.8);
        stem.closeSubpath();
        p.drawPath(stem);
    }
}

void DrawWarningTriangle(QPainter& p)
{
    QPainterPath tri;
    tri.moveTo(16, 2.6);
    tri.lineTo(30.2, 28.2);
    tri.lineTo(1.8, 28.2);
    tri.closeSubpath();
    p.setPen(QPen(QColor(120, 80, 0), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Vertical(3, 28, QColor(255, 238, 80), QColor(250, 190, 0)));
    p.drawPath(tri);
    QPainterPath bar;
    bar.moveTo(14.0, 10.4);
    bar.quadTo(16, 9.0, 18.0, 10.4);
    bar.lineTo(16.9, 20.0);
    bar.quadTo(16, 20.8, 15.1, 20.0);
    bar.closeSubpath();
    bar.addEllipse(QPointF(16, 24.0), 1.8, 1.8);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawPath(bar);
}

void DrawSignalBars(QPainter& p, int filled, Bars look)
{
    for (int i = 0; i < 4; ++i) {
        const qreal h = 7 + i * 6;
        const QRectF bar(3.5 + i * 6.5, 29.5 - h, 5, h);
        const bool on = look == Bars::Off || (look == Bars::Filled && i < filled);
        if (look == Bars::Off) {
            p.setPen(Pen(QColor(105, 105, 110), 1.0, Qt::SquareCap, Qt::MiterJoin));
            p.setBrush(Vertical(bar.top(), bar.bottom(), QColor(185, 185, 190), QColor(135, 135, 140)));
        } else if (on) {
            p.setPen(Pen(QColor(20, 105, 25), 1.0, Qt::SquareCap, Qt::MiterJoin));
            p.setBrush(Vertical(bar.top(), bar.bottom(), QColor(120, 225, 90), QColor(30, 150, 40)));
        } else {
            p.setPen(Pen(QColor(150, 150, 155), 1.0, Qt::SquareCap, Qt::MiterJoin));
            p.setBrush(QColor(235, 235, 238, 200));
        }
        p.drawRect(bar);
    }
    if (look == Bars::NoSignal) {
        p.setPen(Pen(QColor(255, 255, 255, 220), 4.2));
        p.drawLine(QPointF(4, 4), QPointF(11, 11));
        p.drawLine(QPointF(4, 11), QPointF(11, 4));
        p.setPen(Pen(QColor(215, 25, 25), 2.4));
        p.drawLine(QPointF(4, 4), QPointF(11, 11));
        p.drawLine(QPointF(4, 11), QPointF(11, 4));
    }
}

} // namespace kv::assets::gen
