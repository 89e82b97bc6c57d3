#pragma once
// Small drawings the icons and buttons are made of. Each draws into a
// 20 x 20 unit box (the board and signal drawings into 32 x 32); callers
// place and scale the box with InBox.
#include <QColor>
#include <QPainterPath>
#include <QPainter>
#include <QRectF>
#include <QString>

#include <functional>

namespace kv::assets::gen {

// Runs draw with the painter mapping a units x units box onto target.
void InBox(QPainter& p, const QRectF& target, qreal units, const std::function<void(QPainter&)>& draw);

// The station's text font: Verdana where installed, else DejaVu Sans.
QFont StationFont(qreal pixelSize, bool bold = true);

// 20-unit drawings.
void DrawKey(QPainter& p, const QColor& colour = QColor(0, 110, 235));
void DrawEnvelope(QPainter& p, const QColor& body);
void DrawEnvelopeWithCross(QPainter& p);
void DrawPadlock(QPainter& p, bool closed, const QColor& body);
void DrawGreyCross(QPainter& p);
void DrawThermometer(QPainter& p);
void DrawExclamation(QPainter& p);
void DrawGlobeWithArrows(QPainter& p);
void DrawCoin(QPainter& p);
void DrawPerson(QPainter& p);
void DrawMessages(QPainter& p);
void DrawHandled(QPainter& p);
void DrawUnhandled(QPainter& p);
QPainterPath ShieldOutline();
void DrawShield(QPainter& p);
void DrawModem(QPainter& p);
void DrawHouse(QPainter& p);
void DrawJournal(QPainter& p);
void DrawQuestion(QPainter& p);
void DrawComPort(QPainter& p);
void DrawTower(QPainter& p, const QColor& mast, const QColor& waves);
void DrawMonitor(QPainter& p, const QColor& frame, const QColor& screen);
void DrawCheckDisc(QPainter& p);
void DrawPower(QPainter& p, const QColor& colour);
void DrawNumberBadge(QPainter& p, const QPointF& centre, qreal radius, const QString& digit);
void DrawCrossBadge(QPainter& p, const QPointF& centre, qreal radius);

// 32-unit drawings.
void DrawInfoDisc(QPainter& p, const QColor& colour, bool letter);
void DrawWarningTriangle(QPainter& p);
enum class Bars { Filled, NoSignal, Off };
void DrawSignalBars(QPainter& p, int filled, Bars look);

} // namespace kv::assets::gen
