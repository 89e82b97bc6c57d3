#pragma once
// Every picture of the station, rendered into images of their final size.
#include "assets/AssetNames.h"
#include "assets/Glyphs.h"

#include <QImage>

namespace kv::assets::gen {

// A transparent image of the given size, ready to paint on.
QImage NewImage(Size size);

// How a label may be fitted: the largest pixel size from maxPx down to minPx
// at which it fits, on one line or, with wrap, split at a blank into two.
// A label first shrinks by up to shrinkBeforeWrap pixels on one line, so
// buttons of one window keep one line where they can.
struct TextFit {
    int maxPx;
    int minPx;
    bool wrap = false;
    int shrinkBeforeWrap = 0;
};

// Draws text centred in box. Throws std::runtime_error when it fits at no
// size, so a label that would be clipped stops the build instead of shipping.
void DrawFittedText(QPainter& p, const QRectF& box, const QString& text, const TextFit& fit,
                    const QColor& colour, const QColor& halo);

QImage SignalIcon(int bars); // 0 to 4 filled bars; 0 is "no signal"
QImage ModemOffIcon();
QImage JournalIcon(int index);
QImage BoardIcon(int index);
QImage AlertPicture();
QImage HelpPicture();
// `size` pixels square; the window icon is 64.
QImage AppIcon(int size = 64);

enum class ButtonState { Normal, Hover, Down };
// Throws std::invalid_argument for a button it has no drawing for, and
// std::runtime_error when a label does not fit its button.
QImage ButtonPicture(const ButtonPictures& button, ButtonState state);

} // namespace kv::assets::gen
