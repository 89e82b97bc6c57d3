#include "station/ScheduleWindow.h"

#include "data/Text.h"
#include "modem/DialSchedule.h"
#include "timing/DateTime.h"
#include "windows/Controls.h"
#include "windows/QtText.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>
#include <stdexcept>

namespace kv {

using namespace literals;

namespace {
constexpr int kWindowWidth = 1000;
constexpr int kWindowHeight = 700;

std::string OutcomeText(DialOutcome outcome)
{
    switch (outcome) {
    case DialOutcome::Online:
        return Str("На связи"_cp);
    case DialOutcome::NoAnswer:
        return Str("Нет ответа"_cp);
    case DialOutcome::Failed:
        return Str("Нет связи (тревога)"_cp);
    case DialOutcome::None:
        break;
    }
    return Str("Еще не вызывался"_cp);
}
} // namespace

std::string RoundLoadText(double neededPerHour, int doneLastHour, bool behind)
{
    const std::string figures = Str("нужно "_cp) + std::to_string(std::lround(std::ceil(neededPerHour)))
                                + Str(" вызовов в час, сделано "_cp) + std::to_string(doneLastHour)
                                + Str(" за последний час"_cp);
    return behind ? Str("Обзвон не успевает: "_cp) + figures : Str("Обзвон успевает: "_cp) + figures;
}

QWidget* ShowScheduleWindow(QWidget* owner, const DialSchedule& schedule, int columns, int rows, IClock& clock)
{
    if (columns < 0 || rows < 0)
        throw std::invalid_argument("board size");
    auto* window = new QWidget(owner, Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    Name(window, "ScheduleForm", "Журнал обзвона"_cp);
    window->setWindowTitle(ToQ("Журнал обзвона"_cp));
    window->setFixedSize(kWindowWidth, kWindowHeight);

    const double wallNow = clock.Now();
    const std::uint64_t monotonicNowMs = clock.MonotonicMs();
    const DialSchedule::Load load = schedule.RoundLoad(monotonicNowMs);
    auto* loadLabel = new QLabel(ToQ(RoundLoadText(load.neededPerHour, load.doneLastHour, load.behind)), window);
    Name(loadLabel, "LoadLabel");
    QFont bold = loadLabel->font();
    bold.setBold(true);
    loadLabel->setFont(bold);
    if (load.behind)
        loadLabel->setStyleSheet(QStringLiteral("color: rgb(200, 0, 0);"));

    auto* grid = new QTableWidget(0, 4, window);
    Name(grid, "StringGrid1");
    grid->setHorizontalHeaderLabels({ToQ("Объект"_cp), ToQ("Следующий вызов"_cp), ToQ("Последний вызов"_cp),
                                     ToQ("Результат"_cp)});
    grid->verticalHeader()->hide();
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int c = 1; c < 4; ++c)
        grid->horizontalHeader()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    // Board order: down each column, then the next, as the devices are placed.
    const auto add = [grid](int row, int column, const std::string& text) {
        grid->setItem(row, column, new QTableWidgetItem(ToQ(text)));
    };
    for (int c = 0; c < columns; ++c) {
        for (int r = 0; r < rows; ++r) {
            const std::string name = schedule.Text(c, r);
            if (name.empty())
                continue;
            const DialSchedule::Entry entry = schedule.At(c, r);
            const int row = grid->rowCount();
            grid->insertRow(row);
            add(row, 0, name);
            add(row, 1, entry.enabled ? FormatDateTime(entry.DueDateTime(wallNow, monotonicNowMs))
                                      : Str("не обзванивается"_cp));
            add(row, 2, entry.outcome == DialOutcome::None ? std::string() : FormatDateTime(entry.outcomeDateTime));
            add(row, 3, OutcomeText(entry.outcome));
        }
    }

    auto* page = new QVBoxLayout(window);
    page->setContentsMargins(14, 14, 14, 14);
    page->addWidget(loadLabel);
    page->addWidget(grid, 1);

    if (const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - window->rect().center());
    window->show();
    return window;
}

} // namespace kv
