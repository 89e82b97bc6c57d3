#pragma once
// The ring-round schedule window: for every board tile, the time its device is
// next due to be called, as it was when the window was opened.
#include "timing/Clock.h"

class QWidget;

namespace kv {

class DialSchedule;

// A new plain window owned by `owner` (one more per call), shown centred and
// not modal; it is freed when the operator closes it. Throws on failure. The
// monotonic due times are shown as wall-clock times of `clock`.
QWidget* ShowScheduleWindow(QWidget* owner, const DialSchedule& schedule, int columns, int rows,
                            IClock& clock = RealClock::Instance());

} // namespace kv
