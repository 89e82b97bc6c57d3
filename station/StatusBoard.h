#pragma once
// The status board (StringGrid1): one tile per device of the register, its
// colours from the tile's guard state, a blinking notification icon and an
// alarm that blinks and sounds until the operator acknowledges it (selects the
// tile or handles its row), then stays steady in the alarm colours until the
// device reports armed or disarmed. A device with an open row of the alarm
// desk has a red corner, whatever its state.
//
// The layout and the state bytes are the core's board state; this paints
// them. Repaints and sounds asked for from other threads reach the UI thread
// in the order asked.
#include "core/BoardState.h"
#include "windows/BoardTile.h"

#include <QColor>
#include <QPixmap>
#include <QWidget>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace kv {

// What a tile's tooltip tells beyond the board's own state: filled by the
// station from the register, the journal and the last contacts.
struct TileFacts {
    std::string shortName, listName, tel;
    std::uint8_t guard = 0, info = 0, mark = 0;
    bool openRow = false;
    bool silent = false;
    // The device's newest journal row; `eventAt` 0 when there is none.
    double eventAt = 0;
    std::string eventStatus, eventText;
    // "09.12.2026 22:40:11, сообщение"; empty when never heard.
    std::string lastContact;
    // "2 ч", "контроль выключен".
    std::string supervision;
};
// The tooltip's lines (code page 1251): device, state in words, last event and
// its time, last contact.
std::string TileTooltipText(const TileFacts& facts);
std::string_view GuardWords(std::uint8_t guard);
// Empty for no notification.
std::string_view InfoWords(std::uint8_t info);

class TStatusBoard : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTileWidth = kBoardTileWidth;
    static constexpr int kTileHeight = kBoardTileHeight;
    static constexpr int kLine = 1;
    static constexpr std::uint8_t kNoChange = BoardState::kNoChange;
    static constexpr std::uint8_t kAlarm = BoardState::kAlarm;
    static constexpr std::uint8_t kWarningMark = BoardState::kWarningMark;

    // Repaints whenever the state's bytes change.
    explicit TStatusBoard(BoardState& state, QWidget* parent = nullptr);
    ~TStatusBoard() override;

    // The state's layout was replaced (UI thread): the page and the selection
    // kept within it.
    void LayoutChanged();
    // A board laid in pages shows one at a time (UI thread).
    int PageCount() const { return static_cast<int>(m_state.Pages()->size()); }
    int CurrentPage() const { return m_page; }
    void SetPage(int page);
    std::string PageCaption(int page) const;
    // The tiles of that page whose alarm nobody has acknowledged.
    int SoundingTiles(int page) const;
    // The tiles of that page whose notification blinks and sounds.
    int NoticeTiles(int page) const;
    // The page on show's.
    int ColCount() const;
    int RowCount() const;
    std::string TileText(int column, int row) const;

    // Any thread: the state's own, repainted.
    void SetGuardState(const std::string& shortName, std::uint8_t code) { m_state.SetGuardState(shortName, code); }
    void SetInfoState(const std::string& shortName, std::uint8_t code) { m_state.SetInfoState(shortName, code); }
    void SetAlarmMark(const std::string& shortName) { m_state.SetAlarmMark(shortName); }

    // The board tick (timer thread): flips the blink phase; while modem 1 runs,
    // asks for a repaint and sounds each column's first unacknowledged alarm.
    // `deskPriority` (the most urgent of the desk's rows nobody has
    // acknowledged, 0 for none) sounds that priority's alarm whether modem 1
    // runs or not; the most urgent of it and the tiles' alarm plays.
    void Tick(bool modemRunning, int deskPriority = 0);
    bool BlinkPhase() const { return m_blinkPhase.load(); }

    // Draws one tile; returns whether its notification sound is due.
    bool DrawCell(QPainter& painter, int column, int row, const QRect& cell);
    // Acknowledgement: the tile's notification and alarm mark are cleared.
    void SelectCell(int column, int row);
    // The alarm marks of every tile of that name cleared (its rows handled elsewhere).
    void Acknowledge(const std::string& shortName);
    // UI thread: the devices with open rows of the alarm desk; their tiles get the corner.
    void SetOpenRows(const std::vector<std::string>& shortNames);
    // UI thread: the devices not heard for longer than their supervision time.
    void SetSilent(const std::vector<std::string>& shortNames);
    bool IsSilent(const std::string& shortName) const { return m_silent.count(shortName) > 0; }
    // The tooltip of a tile; empty for a tile without a device.
    std::string TooltipText(int column, int row) const;
    int CurrentColumn() const { return m_currentColumn; }
    int CurrentRow() const { return m_currentRow; }

    QRect CellRect(int column, int row) const;
    // False outside every tile (grid lines included).
    bool CellAt(const QPoint& at, int& column, int& row) const;

    // Asks the UI thread for a repaint; requests already waiting are merged.
    void RequestRepaint();
    // Paints so far (for tests: a repaint that was asked for has happened).
    int PaintCount() const { return m_paints; }

    // UI thread, after each repaint the board asked for itself (a state
    // changed, the blink): what shows the hidden pages follows.
    std::function<void()> OnRepainted;
    // Right button on a tile: column, row.
    std::function<void(int, int)> OnRightClick;
    // After a tile was selected and acknowledged: column, row.
    std::function<void(int, int)> OnSelect;
    // Completes a tooltip's facts (the board has filled its own part).
    std::function<void(TileFacts&)> DescribeTile;

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    // The page on show, within the pages laid now.
    const BoardState::Page& Shown(const BoardState::PagesPtr& pages) const;
    // Repainted at once, OnRepainted told.
    void RepaintNow();
    // Replaces one set of marked device names; repaints only on a change.
    void SetMarked(std::set<std::string>& marked, const std::vector<std::string>& shortNames);
    struct Link {
        TStatusBoard* board;
    };
    BoardState& m_state;
    BoardIcons ImageList2;
    QFont m_font;

    std::atomic<bool> m_blinkPhase{false};
    std::atomic<bool> m_repaintPending{false};
    // Posted repaints reach the board only while it exists (UI thread on both sides).
    std::shared_ptr<Link> m_link;

    int m_page = 0;
    int m_currentColumn = 0;
    int m_currentRow = 0;
    int m_paints = 0;
    std::set<std::string> m_openRows; // UI thread only
    std::set<std::string> m_silent;   // UI thread only
};

} // namespace kv
