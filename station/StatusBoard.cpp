#include "station/StatusBoard.h"

#include "assets/AssetNames.h"
#include "core/AlarmPriority.h"
#include "timing/UiThread.h"
#include "windows/AppPaths.h"
#include "windows/QtText.h"
#include "windows/SoundPlayer.h"
#include "timing/DateTime.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTextDocument>
#include <QToolTip>

#include <algorithm>

namespace kv {

using namespace literals;

namespace {

constexpr int kStep = TStatusBoard::kTileWidth + TStatusBoard::kLine;
constexpr int kRowStep = TStatusBoard::kTileHeight + TStatusBoard::kLine;
const QColor kGridLine(192, 192, 192);
const QColor kBoardBackground(255, 255, 255);
} // namespace

std::string_view GuardWords(std::uint8_t guard)
{
    switch (guard) {
    case 1: return "снят с охраны"_cp;
    case 2: return "на охране"_cp;
    case 3: return "тревога"_cp;
    default: return "нет сведений"_cp;
    }
}

std::string_view InfoWords(std::uint8_t info)
{
    switch (info) {
    case 4: return "сеть отключена"_cp;
    case 5: return "сеть восстановлена"_cp;
    case 6: return "батарея разряжена"_cp;
    case 7: return "чужой ключ"_cp;
    case 8: return "температурный режим"_cp;
    case 9: return "вскрытие корпуса, пожар или неудачный дозвон"_cp;
    default: return {};
    }
}

std::string TileTooltipText(const TileFacts& f)
{
    std::string name = std::string(TrimBlanks(f.listName));
    const std::string shortName(TrimBlanks(f.shortName));
    if (name.empty())
        name = shortName;
    else if (!shortName.empty() && name != shortName)
        name += " (" + shortName + ")";
    if (!f.tel.empty())
        name += ", " + f.tel;
    std::string text = name + "\n" + Str("Состояние: "_cp) + std::string(GuardWords(f.guard));
    if (const std::string_view info = InfoWords(f.info); !info.empty())
        text += "; " + std::string(info);
    if (f.mark == TStatusBoard::kAlarm || f.mark == TStatusBoard::kWarningMark)
        text += Str("\nТревога не принята"_cp);
    else if (f.guard == TStatusBoard::kAlarm)
        text += Str("\nТревога принята"_cp);
    if (f.openRow)
        text += Str("\nТревога ждёт обработки в окне «Тревоги»"_cp);
    if (f.silent)
        text += Str("\nНет связи с объектом дольше контрольного времени"_cp);
    text += Str("\nПоследнее событие: "_cp);
    if (f.eventAt == 0 && f.eventText.empty()) {
        text += Str("нет"_cp);
    } else {
        if (f.eventAt != 0)
            text += FormatDateTime(f.eventAt) + " ";
        if (!f.eventStatus.empty())
            text += f.eventStatus + ": ";
        text += f.eventText;
    }
    text += Str("\nПоследняя связь: "_cp) + (f.lastContact.empty() ? Str("не было"_cp) : f.lastContact);
    if (!f.supervision.empty())
        text += Str("\nКонтроль связи: "_cp) + f.supervision;
    return text;
}

TStatusBoard::TStatusBoard(BoardState& state, QWidget* parent)
    : QWidget(parent), m_state(state), m_link(std::make_shared<Link>(Link{this}))
{
    m_state.OnChanged = [this] { RequestRepaint(); };
    ImageList2 = LoadBoardIcons();
    m_font = BoardTileFont();
    setFocusPolicy(Qt::StrongFocus);
    // Every pixel is painted each time: no background fill by the toolkit.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

TStatusBoard::~TStatusBoard()
{
    m_state.OnChanged = nullptr;
    m_link->board = nullptr;
}

const BoardState::Page& TStatusBoard::Shown(const BoardState::PagesPtr& pages) const
{
    return (*pages)[static_cast<std::size_t>(std::clamp(m_page, 0, static_cast<int>(pages->size()) - 1))];
}

int TStatusBoard::ColCount() const { return Shown(m_state.Pages()).layout.columns; }

int TStatusBoard::RowCount() const { return Shown(m_state.Pages()).layout.rows; }

std::string TStatusBoard::TileText(int column, int row) const
{
    const BoardState::PagesPtr pages = m_state.Pages();
    const DialSchedule::Layout& layout = Shown(pages).layout;
    if (column < 0 || row < 0 || column >= layout.columns || row >= layout.rows)
        return {};
    return layout.Text(column, row);
}

void TStatusBoard::SetPage(int page)
{
    page = std::clamp(page, 0, PageCount() - 1);
    if (page == m_page)
        return;
    m_page = page;
    LayoutChanged();
}

namespace {

// That page of those laid now; null outside them.
const BoardState::Page* PageAt(const BoardState::PagesPtr& pages, int page)
{
    return page >= 0 && page < static_cast<int>(pages->size()) ? &(*pages)[static_cast<std::size_t>(page)] : nullptr;
}

} // namespace

std::string TStatusBoard::PageCaption(int page) const
{
    const BoardState::PagesPtr pages = m_state.Pages();
    const BoardState::Page* p = PageAt(pages, page);
    return p ? p->caption : std::string();
}

int TStatusBoard::SoundingTiles(int page) const
{
    const BoardState::PagesPtr pages = m_state.Pages();
    const BoardState::Page* p = PageAt(pages, page);
    return p ? BoardState::SoundingTiles(*p) : 0;
}

namespace {

int Notices(const BoardState::Page& page)
{
    int count = 0;
    for (int c = 0; c < page.layout.columns; ++c)
        for (int r = 0; r < page.layout.rows; ++r)
            if (!page.layout.Text(c, r).empty() &&
                BoardIconSounds(page.tiles->InfoStates[static_cast<std::size_t>(TileStates::Index(c, r))]))
                ++count;
    return count;
}

} // namespace

int TStatusBoard::NoticeTiles(int page) const
{
    const BoardState::PagesPtr pages = m_state.Pages();
    const BoardState::Page* p = PageAt(pages, page);
    return p ? Notices(*p) : 0;
}

void TStatusBoard::LayoutChanged()
{
    m_page = std::clamp(m_page, 0, PageCount() - 1);
    m_currentColumn = std::clamp(m_currentColumn, 0, std::max(0, ColCount() - 1));
    m_currentRow = std::clamp(m_currentRow, 0, std::max(0, RowCount() - 1));
    update();
}

void TStatusBoard::RequestRepaint()
{
    if (m_repaintPending.exchange(true))
        return;
    PostToUi([link = m_link] {
        if (TStatusBoard* board = link->board) {
            board->m_repaintPending = false;
            // At once, not deferred: the tick's alarm sound is queued behind this
            // repaint and must start after the notification sounds it plays.
            board->RepaintNow();
        }
    });
}

void TStatusBoard::RepaintNow()
{
    repaint();
    if (OnRepainted)
        OnRepainted();
}

void TStatusBoard::Tick(bool modemRunning, int deskPriority)
{
    m_blinkPhase = !m_blinkPhase;
    bool tileSounds = false;
    if (modemRunning) {
        RequestRepaint();
        // Every page: an alarm on a page not on show sounds too.
        const BoardState::PagesPtr pages = m_state.Pages();
        for (const BoardState::Page& page : *pages)
            for (int c = 0; c < page.layout.columns && !tileSounds; ++c)
                for (int r = 0; r < page.layout.rows && !tileSounds; ++r)
                    tileSounds = BoardState::Sounding(*page.tiles, static_cast<std::size_t>(TileStates::Index(c, r)));
    }
    // One start per tick: each start interrupts the one before.
    if (deskPriority > 0 && (!tileSounds || PrioritySound(deskPriority) == Sound::Urgent))
        PlayStationSound(PrioritySound(deskPriority));
    else if (tileSounds)
        PlayStationSound(Sound::Alarm);
}

QRect TStatusBoard::CellRect(int column, int row) const
{
    return {kLine + column * kStep, kLine + row * kRowStep, kTileWidth, kTileHeight};
}

bool TStatusBoard::CellAt(const QPoint& at, int& column, int& row) const
{
    if (at.x() < kLine || at.y() < kLine)
        return false;
    const int c = (at.x() - kLine) / kStep;
    const int r = (at.y() - kLine) / kRowStep;
    if (c >= ColCount() || r >= RowCount() || !CellRect(c, r).contains(at))
        return false;
    column = c;
    row = r;
    return true;
}

bool TStatusBoard::DrawCell(QPainter& painter, int column, int row, const QRect& cell)
{
    const BoardState::PagesPtr pages = m_state.Pages();
    const BoardState::Page& page = Shown(pages);
    const auto i = static_cast<std::size_t>(TileStates::Index(column, row));
    TileLook look;
    look.guard = page.tiles->GuardStates[i];
    look.info = page.tiles->InfoStates[i];
    look.mark = page.tiles->AlarmMarks[i];
    look.blinkPhase = m_blinkPhase;
    if (column >= 0 && row >= 0 && column < page.layout.columns && row < page.layout.rows)
        look.text = page.layout.Text(column, row);
    look.openRow = !look.text.empty() && m_openRows.count(look.text) > 0;
    look.silent = !look.text.empty() && m_silent.count(look.text) > 0;
    return PaintTile(painter, cell, look, ImageList2, m_font);
}

void TStatusBoard::paintEvent(QPaintEvent*)
{
    ++m_paints;
    QPainter painter(this);
    painter.fillRect(rect(), kBoardBackground);
    const int columns = ColCount();
    const int rows = RowCount();
    painter.setPen(kGridLine);
    for (int c = 0; c <= columns; ++c)
        painter.drawLine(c * kStep, 0, c * kStep, rows * kRowStep);
    for (int r = 0; r <= rows; ++r)
        painter.drawLine(0, r * kRowStep, columns * kStep, r * kRowStep);

    bool sound = false;
    for (int c = 0; c < columns; ++c)
        for (int r = 0; r < rows; ++r)
            sound = DrawCell(painter, c, r, CellRect(c, r)) || sound;

    if (hasFocus() && columns > 0 && rows > 0) {
        QPen pen(Qt::black);
        pen.setStyle(Qt::DotLine);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(CellRect(m_currentColumn, m_currentRow).adjusted(1, 1, -2, -2));
    }
    // A notification on a page not on show is heard too; its tab shows it.
    if (!sound && m_blinkPhase) {
        const BoardState::PagesPtr pages = m_state.Pages();
        for (std::size_t p = 0; p < pages->size() && !sound; ++p)
            sound = static_cast<int>(p) != m_page && Notices((*pages)[p]) > 0;
    }
    // One start per paint: each start interrupts the one before.
    if (sound)
        PlayStationSound(Sound::SmsInfo);
}

void TStatusBoard::SelectCell(int column, int row)
{
    if (column < 0 || row < 0 || column >= ColCount() || row >= RowCount())
        return;
    m_currentColumn = column;
    m_currentRow = row;
    BoardState::ClearTile(*Shown(m_state.Pages()).tiles, static_cast<std::size_t>(TileStates::Index(column, row)));
    RepaintNow();
    if (OnSelect)
        OnSelect(column, row);
}

void TStatusBoard::Acknowledge(const std::string& shortName)
{
    m_state.Acknowledge(shortName);
}

void TStatusBoard::SetMarked(std::set<std::string>& marked, const std::vector<std::string>& shortNames)
{
    std::set<std::string> names(shortNames.begin(), shortNames.end());
    names.erase(std::string());
    if (names == marked)
        return;
    marked = std::move(names);
    update();
}

void TStatusBoard::SetOpenRows(const std::vector<std::string>& shortNames) { SetMarked(m_openRows, shortNames); }

void TStatusBoard::SetSilent(const std::vector<std::string>& shortNames) { SetMarked(m_silent, shortNames); }

std::string TStatusBoard::TooltipText(int column, int row) const
{
    const std::string text = TileText(column, row);
    if (text.empty())
        return {};
    const auto i = static_cast<std::size_t>(TileStates::Index(column, row));
    const BoardState::PagesPtr pages = m_state.Pages();
    const TileStates& tiles = *Shown(pages).tiles;
    TileFacts facts;
    facts.shortName = text;
    facts.guard = tiles.GuardStates[i];
    facts.info = tiles.InfoStates[i];
    facts.mark = tiles.AlarmMarks[i];
    facts.openRow = m_openRows.count(text) > 0;
    facts.silent = m_silent.count(text) > 0;
    if (DescribeTile)
        DescribeTile(facts);
    return TileTooltipText(facts);
}

bool TStatusBoard::event(QEvent* e)
{
    if (e->type() != QEvent::ToolTip)
        return QWidget::event(e);
    const auto* help = static_cast<QHelpEvent*>(e);
    int column = 0;
    int row = 0;
    const std::string text = CellAt(help->pos(), column, row) ? TooltipText(column, row) : std::string();
    if (text.empty()) {
        QToolTip::hideText();
        e->ignore();
        return true;
    }
    // Plain text: a device name may hold "<" or "&".
    QToolTip::showText(help->globalPos(), Qt::convertFromPlainText(ToQ(text), Qt::WhiteSpaceNoWrap), this,
                       CellRect(column, row));
    return true;
}

void TStatusBoard::mousePressEvent(QMouseEvent* e)
{
    int column = 0;
    int row = 0;
    if (!CellAt(e->position().toPoint(), column, row))
        return;
    if (e->button() == Qt::LeftButton) {
        // Also on the tile already selected: a new alarm there must be
        // acknowledgeable without first selecting another tile.
        SelectCell(column, row);
    } else if (e->button() == Qt::RightButton && OnRightClick) {
        OnRightClick(column, row);
    }
}

void TStatusBoard::keyPressEvent(QKeyEvent* e)
{
    // Ctrl+PgUp and Ctrl+PgDn turn the pages, as in tabbed windows.
    if ((e->modifiers() & Qt::ControlModifier) && (e->key() == Qt::Key_PageUp || e->key() == Qt::Key_PageDown)) {
        SetPage(m_page + (e->key() == Qt::Key_PageDown ? 1 : -1));
        RepaintNow();
        return;
    }
    int column = m_currentColumn;
    int row = m_currentRow;
    switch (e->key()) {
    case Qt::Key_Left: --column; break;
    case Qt::Key_Right: ++column; break;
    case Qt::Key_Up: --row; break;
    case Qt::Key_Down: ++row; break;
    case Qt::Key_Home: column = 0; break;
    case Qt::Key_End: column = ColCount() - 1; break;
    case Qt::Key_PageUp: row = 0; break;
    case Qt::Key_PageDown: row = RowCount() - 1; break;
    default: QWidget::keyPressEvent(e); return;
    }
    column = std::clamp(column, 0, std::max(0, ColCount() - 1));
    row = std::clamp(row, 0, std::max(0, RowCount() - 1));
    if (column != m_currentColumn || row != m_currentRow)
        SelectCell(column, row);
}

} // namespace kv
