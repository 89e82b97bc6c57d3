#pragma once
// The main window's own right-click menu: settings of the station on this
// desktop ("Запускать при входе в систему"). It opens over the window's
// free parts (the clock panel, the button strip, the ring-round area); the
// board and the journal keep their own right clicks, and the journal's menu
// carries the same item, since the hint over the journal points there.
#include <QObject>

class QAction;
class QMenu;
class QPoint;

namespace kv {

class TForm1;

class TStationMenu : public QObject {
public:
    explicit TStationMenu(TForm1& mainWindow);

    // Whether a right click at `at` (main window coordinates) opens this menu.
    bool OpensAt(const QPoint& at) const;
    // The item's handler: writes or removes the autostart entry.
    void AutostartItemToggled(bool checked);

    QMenu* PopupMenu1;
    QAction* AutostartItem;

private:
    TForm1& m_main;
};

} // namespace kv
