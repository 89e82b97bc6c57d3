#pragma once
class QWidget;

namespace kv {

// Shows a window over the middle of the main window. Its size comes from its
// layout, which is settled first; a window already open stays where the
// operator has put it.
void ShowCentredOver(QWidget& window, const QWidget* mainWindow, bool activate = true);

} // namespace kv
