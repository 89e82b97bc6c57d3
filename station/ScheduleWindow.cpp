#include "station/ScheduleWindow.h"

#include "modem/DialSchedule.h"
#include "data/Text.h"
#include "timing/DateTime.h"
#include "windows/Controls.h"
#include "windows/QtText.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QTableWidget>

#include <stdexcept>

namespace kv {

using namespace literals;

namespace {
constexpr int kWindowWidth = 1000;
constexpr int kWindowHeight = 700;
constexpr int kGridWidth = 935;
constexpr int kGridHeight = 635;
} // namespace

QWidget* ShowScheduleWindow(QWidget* owner, const DialSchedule& schedule, int columns, int rows, IClock& clock)
{
    if (columns < 0 || rows < 0)
        throw std::invalid_argument("board size");
    auto* window = new QWidget(owner, Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    Name(window, "ScheduleForm", "Журнал обзвона"_cp);
    window->setWindowTitle(ToQ("Журнал обзвона"_cp));
    window->setFixedSize(kWindowWidth, kWindowHeight);

    auto* grid = new QTableWidget(rows, columns, window);
    Name(grid, "StringGrid1");
    grid->horizontalHeader()->hide();
    grid->verticalHeader()->hide();
    grid->horizontalHeader()->setDefaultSectionSize(50);
    grid->horizontalHeader()->setMinimumSectionSize(1);
    grid->verticalHeader()->setMinimumSectionSize(1);
    grid->verticalHeader()->setDefaultSectionSize(15);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setGeometry((kWindowWidth - kGridWidth) / 2, (kWindowHeight - kGridHeight) / 2, kGridWidth, kGridHeight);
    // "hh:mm:ss" whole in a 50-pixel cell.
    QFont small = grid->font();
    small.setPixelSize(9);
    grid->setFont(small);
    grid->setTextElideMode(Qt::ElideNone);
    const double wallNow = clock.Now();
    const std::uint64_t monotonicNowMs = clock.MonotonicMs();
    for (int c = 0; c < columns; ++c) {
        for (int r = 0; r < rows; ++r) {
            auto* item = new QTableWidgetItem(ToQ(FormatTime(schedule.At(c, r).DueDateTime(wallNow, monotonicNowMs))));
            item->setTextAlignment(Qt::AlignCenter);
            grid->setItem(r, c, item);
        }
    }

    if (const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - window->rect().center());
    window->show();
    return window;
}

} // namespace kv
