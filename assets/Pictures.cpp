#include "assets/Pictures.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace kv::assets::gen {
namespace {

const QColor kPanelBlue(0, 128, 255);
const QColor kNavy(0, 45, 120);

class Canvas {
public:
    explicit Canvas(Size size) : m_image(NewImage(size)), m_painter(&m_image)
    {
        m_painter.setRenderHint(QPainter::Antialiasing);
        m_painter.setRenderHint(QPainter::TextAntialiasing);
        m_painter.setRenderHint(QPainter::SmoothPixmapTransform);
    }
    QPainter& p() { return m_painter; }
    QImage Finish()
    {
        m_painter.end();
        return m_image.convertToFormat(QImage::Format_ARGB32);
    }

private:
    QImage m_image;
    QPainter m_painter;
};

} // namespace

QImage NewImage(Size size)
{
    QImage image(size.width, size.height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

namespace {

qreal Widest(const QStringList& lines, const QFontMetricsF& fm)
{
    qreal w = 0;
    for (const QString& l : lines)
        w = std::max(w, fm.horizontalAdvance(l));
    return w;
}

// Where a two-line label breaks: the split whose longer line is shortest, but
// never after a one-letter word ("СНЯТЬ / С ОХРАНЫ", not "СНЯТЬ С / ОХРАНЫ"),
// which Russian typesetting keeps with the word it belongs to.
QStringList BestSplit(const QString& text, const QFontMetricsF& fm)
{
    QStringList best;
    for (qsizetype i = text.indexOf(' '); i > 0; i = text.indexOf(' ', i + 1)) {
        const bool hangingLetter = i == 1 || text.at(i - 2) == ' ';
        if (hangingLetter)
            continue;
        QStringList split{text.left(i), text.mid(i + 1)};
        if (best.isEmpty() || Widest(split, fm) < Widest(best, fm))
            best = split;
    }
    return best;
}

} // namespace

void DrawFittedText(QPainter& p, const QRectF& box, const QString& text, const TextFit& fit,
                    const QColor& colour, const QColor& halo)
{
    struct Try {
        int px;
        bool split;
    };
    std::vector<Try> order;
    for (int px = fit.maxPx; px >= fit.minPx && px >= fit.maxPx - fit.shrinkBeforeWrap; --px)
        order.push_back({px, false});
    for (int px = fit.maxPx; px >= fit.minPx; --px) {
        order.push_back({px, false});
        if (fit.wrap)
            order.push_back({px, true});
    }
    for (const Try& t : order) {
        const QFont font = StationFont(t.px);
        const QFontMetricsF fm(font);
        const QStringList lines = t.split ? BestSplit(text, fm) : QStringList{text};
        if (lines.isEmpty())
            continue;
        // Labels are capitals: centre on the cap height, not on ascent and
        // descent, or the text sits visibly low.
        const qreal block = (lines.size() - 1) * fm.lineSpacing() + fm.capHeight();
        if (Widest(lines, fm) > box.width() || block + 2 > box.height())
            continue;
        p.setFont(font);
        qreal baseline = box.center().y() - block / 2 + fm.capHeight();
        for (const QString& line : lines) {
            const qreal x = box.center().x() - fm.horizontalAdvance(line) / 2;
            if (halo.alpha() > 0) {
                p.setPen(halo);
                p.drawText(QPointF(x, baseline + 1), line);
            }
            p.setPen(colour);
            p.drawText(QPointF(x, baseline), line);
            baseline += fm.lineSpacing();
        }
        return;
    }
    throw std::runtime_error("label does not fit its picture: " + text.toStdString());
}

QImage SignalIcon(int bars)
{
    Canvas c(kSignalIconSize);
    DrawSignalBars(c.p(), bars, bars == 0 ? Bars::NoSignal : Bars::Filled);
    return c.Finish();
}

QImage ModemOffIcon()
{
    Canvas c(kSignalIconSize);
    DrawSignalBars(c.p(), 0, Bars::Off);
    return c.Finish();
}

QImage JournalIcon(int index)
{
    Canvas c(kJournalIconSize);
    QPainter& p = c.p();
    switch (index) {
    case 0: DrawKey(p); break;
    case 1: DrawEnvelope(p, QColor(145, 92, 216)); break;
    case 2: DrawPadlock(p, true, QColor(225, 175, 20)); break;
    case 3: DrawGreyCross(p); break;
    case 4: DrawEnvelopeWithCross(p); break;
    case 5: DrawPadlock(p, false, QColor(70, 175, 30)); break;
    case 6: DrawThermometer(p); break;
    case 7: DrawExclamation(p); break;
    case 8: DrawGlobeWithArrows(p); break;
    case 9: DrawCoin(p); break;
    case 10: DrawPerson(p); break;
    case 11: DrawMessages(p); break;
    case 12: DrawHandled(p); break;
    case 13: DrawUnhandled(p); break;
    default: throw std::invalid_argument("no journal icon " + std::to_string(index));
    }
    return c.Finish();
}

QImage BoardIcon(int index)
{
    Canvas c(kBoardIconSize);
    QPainter& p = c.p();
    switch (index) {
    case 0: DrawInfoDisc(p, QColor(130, 130, 135), true); break;
    case 1: DrawInfoDisc(p, QColor(20, 105, 230), true); break;
    case 2: DrawInfoDisc(p, QColor(40, 170, 55), true); break;
    case 3: DrawInfoDisc(p, QColor(255, 135, 0), true); break;
    case 4: DrawInfoDisc(p, QColor(215, 30, 195), true); break;
    case 5: DrawWarningTriangle(p); break;
    default: throw std::invalid_argument("no board icon " + std::to_string(index));
    }
    return c.Finish();
}

QImage AlertPicture()
{
    Canvas c(kAlertSize);
    QPainter& p = c.p();
    const QRectF all(0, 0, kAlertSize.width, kAlertSize.height);
    p.fillRect(all, kPanelBlue);
    // A faint light behind the drawing; the edges keep the panel's own blue.
    QRadialGradient light(QPointF(163, 72), 150);
    light.setColorAt(0, QColor(255, 255, 255, 60));
    light.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(all, light);

    // The station's computer on the left, the mast on the right and the
    // broken link between them.
    InBox(p, QRectF(22, 26, 84, 84), 20,
          [](QPainter& q) { DrawMonitor(q, QColor(245, 248, 255), QColor(0, 70, 160)); });
    InBox(p, QRectF(206, 8, 104, 118), 20,
          [](QPainter& q) { DrawTower(q, QColor(255, 255, 255), QColor(255, 255, 255, 200)); });
    p.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(110, 76), QPointF(134, 76));
    p.drawLine(QPointF(192, 76), QPointF(214, 76));
    QPainterPath jagLeft;
    jagLeft.moveTo(134, 76);
    jagLeft.lineTo(139, 70);
    jagLeft.lineTo(141, 80);
    QPainterPath jagRight;
    jagRight.moveTo(192, 76);
    jagRight.lineTo(187, 82);
    jagRight.lineTo(185, 72);
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(jagLeft);
    p.drawPath(jagRight);
    DrawCrossBadge(p, QPointF(163, 76), 19);

    // The band the window writes its two red lines on.
    const Rect& t = kAlertTextArea;
    p.setPen(QPen(QColor(0, 70, 160), 1.5));
    p.setBrush(QColor(255, 255, 255));
    p.drawRoundedRect(QRectF(t.x + 0.5, t.y + 0.5, t.width - 1, t.height - 1), 8, 8);
    return c.Finish();
}

QImage HelpPicture()
{
    Canvas c(kHelpSize);
    QPainter& p = c.p();
    const qreal w = kHelpSize.width;
    const qreal h = kHelpSize.height;
    p.fillRect(QRectF(0, 0, w, h), Qt::white);

    // Blue head with the shield and the name.
    QPainterPath head;
    head.moveTo(0, 0);
    head.lineTo(w, 0);
    head.lineTo(w, 138);
    head.quadTo(w / 2, 162, 0, 138);
    head.closeSubpath();
    QLinearGradient blue(0, 0, 0, 160);
    blue.setColorAt(0, QColor(0, 70, 170));
    blue.setColorAt(1, kPanelBlue);
    p.setPen(Qt::NoPen);
    p.setBrush(blue);
    p.drawPath(head);
    InBox(p, QRectF(w / 2 - 44, 8, 88, 88), 20, [](QPainter& q) {
        // A white outline lets the dark shield stand out from the blue head.
        q.save();
        q.translate(10, 10);
        q.scale(1.09, 1.09);
        q.translate(-10, -10);
        q.setPen(QPen(Qt::white, 0.6));
        q.setBrush(Qt::white);
        q.drawPath(ShieldOutline());
        q.restore();
        DrawShield(q);
    });
    DrawFittedText(p, QRectF(10, 100, w - 20, 36), QStringLiteral("Korvalen"), {30, 20},
                   Qt::white, QColor(0, 40, 110, 160));

    DrawFittedText(p, QRectF(12, 164, w - 24, 44),
                   QString::fromUtf8("Станция мониторинга GSM-устройств охраны"), {15, 11, true},
                   kNavy, QColor(0, 0, 0, 0));

    // The chain the station watches: a guarded site, the GSM network, the station.
    InBox(p, QRectF(26, 222, 64, 64), 20, [](QPainter& q) { DrawHouse(q); });
    InBox(p, QRectF(122, 216, 64, 72), 20,
          [](QPainter& q) { DrawTower(q, QColor(60, 70, 90), kPanelBlue); });
    InBox(p, QRectF(218, 222, 64, 64), 20,
          [](QPainter& q) { DrawMonitor(q, QColor(95, 105, 125), QColor(0, 90, 200)); });
    p.setPen(QPen(kPanelBlue, 2.2, Qt::DotLine, Qt::RoundCap));
    p.drawLine(QPointF(96, 262), QPointF(126, 262));
    p.drawLine(QPointF(182, 262), QPointF(212, 262));

    const Rect& links = kHelpLinkArea;
    p.setPen(QPen(QColor(190, 205, 225), 1));
    p.drawLine(QPointF(links.x + 12, links.y - 8.5), QPointF(links.x + links.width - 12, links.y - 8.5));
    return c.Finish();
}

QImage AppIcon(int size)
{
    Canvas c(Size{size, size});
    // A one-pixel margin at every size, as the 64-pixel icon has.
    const qreal edge = size / 64.0;
    InBox(c.p(), QRectF(edge, edge, size - 2 * edge, size - 2 * edge), 20, [](QPainter& q) { DrawShield(q); });
    return c.Finish();
}

} // namespace kv::assets::gen
