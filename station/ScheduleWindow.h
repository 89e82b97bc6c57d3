#pragma once
// The ring-round schedule window: every device on the board with the time it is
// next due to be called and how its last call ended, and whether the round
// keeps its intervals, as it was when the window was opened.
#include "timing/Clock.h"

#include <string>

class QWidget;

namespace kv {

class DialSchedule;

// The line above the list: the calls an hour the board asks for against the
// calls of the last hour, red (and saying so) when the round falls behind.
std::string RoundLoadText(double neededPerHour, int doneLastHour, bool behind);

// A new plain window owned by `owner` (one more per call), shown centred and
// not modal; it is freed when the operator closes it. Throws on failure. The
// monotonic due times are shown as wall-clock times of `clock`.
QWidget* ShowScheduleWindow(QWidget* owner, const DialSchedule& schedule, int columns, int rows,
                            IClock& clock = RealClock::Instance());

} // namespace kv
