#pragma once
// What the station's windows share: who is logged in, which of the main
// window's toggled windows are on show and how each is shown and closed, the
// main window to centre on, and whether alarms wait. What one window asks of
// another goes through that window's own interface, not through here.
#include "data/Text.h"

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

class QWidget;

namespace kv {

// What a viewer is told of each change refused.
inline constexpr std::string_view kViewerRefused =
    "Вход выполнен с правами наблюдателя: изменения запрещены"_cp;

// The main window's five toggle buttons, one WindowShown flag each.
enum class ShownWindow { Modem, Devices, Access, WorkJournal, Help, Count };

struct StationContext {
    // Login (UI thread only).
    bool LoggedIn = false;
    bool AdminAccess = false;
    std::string Operator; // the logged-in user's name; empty while nobody is
    // A duty manager's account: sees everything, and every change is refused
    // with kViewerRefused.
    bool Viewer = false;
    bool WindowShown[static_cast<int>(ShownWindow::Count)] = {};
    bool& Shown(ShownWindow w) { return WindowShown[static_cast<int>(w)]; }

    // Each toggled window registers how it is shown and closed; closing by any
    // way runs the window's own close handler, which clears its flag.
    struct WindowOps {
        std::function<void()> show;
        std::function<void()> close;
    };
    WindowOps Windows[static_cast<int>(ShownWindow::Count)];
    WindowOps& Window(ShownWindow w) { return Windows[static_cast<int>(w)]; }

    // Set by the main window; the others centre on it.
    QWidget* MainWindow = nullptr;

    // Some alarm is still unhandled. Any thread.
    std::atomic<bool> AlarmsOpen{false};
    // The most urgent priority among those nobody has acknowledged yet (1 the
    // most urgent; 0 when none): the board tick sounds it. Any thread.
    std::atomic<int> SoundingPriority{0};
    // A desk fed by the centre: its board blinks and sounds the other
    // stations' alarms without a modem of its own. Any thread.
    std::atomic<bool> BoardFedByCentre{false};
};

} // namespace kv
