#include "windows/Placement.h"

#include <QLayout>
#include <QRect>
#include <QWidget>

namespace kv {

void ShowCentredOver(QWidget& window, const QWidget* mainWindow, bool activate)
{
    window.ensurePolished();
    if (window.layout())
        window.layout()->activate();
    const bool opening = !window.isVisible() && mainWindow;
    if (opening)
        window.move(mainWindow->frameGeometry().center() - window.rect().center());
    window.show();
    // The frame (and a size set while showing) is known only now.
    if (opening) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(mainWindow->frameGeometry().center());
        window.move(frame.topLeft());
    }
    window.raise();
    if (activate)
        window.activateWindow();
}

} // namespace kv
