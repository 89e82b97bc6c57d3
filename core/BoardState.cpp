#include "core/BoardState.h"

#include "codec/Classify.h"
#include "data/Status.h"
#include "modem/EventTexts.h"

namespace kv {

RowTileStates TileStatesOfRow(std::string_view journal, std::string_view status, std::string_view event)
{
    RowTileStates states;
    if (journal == "ring") {
        // Only the final failed call marks the tile; the attempts before it do not.
        if (status == status::kOffline && event == events::kRingRoundFailed)
            states.info = kInfoWarning;
        return states;
    }
    if (journal != "main")
        return states;
    // The guard state is the row's status (an alarm call's too); a report's
    // status names only one code, so the notification is read from its text.
    if (status == status::kArmed)
        states.guard = kGuardArmed;
    else if (status == status::kDisarmed)
        states.guard = kGuardDisarmed;
    else if (status == status::kAlarm)
        states.guard = kGuardAlarm;
    if (event.substr(0, events::kNewMessage.size()) == events::kNewMessage) {
        states.info = ClassifyInfoMessage(event.substr(events::kNewMessage.size()));
        states.warningMark = states.info == kInfoWarning;
    }
    return states;
}

BoardState::BoardState(TileStates& tiles) : m_tiles(tiles), m_layout(std::make_shared<DialSchedule::Layout>()) {}

void BoardState::SetLayout(const DialSchedule::Layout& layout)
{
    auto published = std::make_shared<const DialSchedule::Layout>(layout);
    std::lock_guard lock(m_layoutLock);
    m_layout = std::move(published);
    m_columns = layout.columns;
    m_rows = layout.rows;
}

BoardState::LayoutPtr BoardState::Layout() const
{
    std::lock_guard lock(m_layoutLock);
    return m_layout;
}

std::string BoardState::TileText(int column, int row) const
{
    const LayoutPtr layout = Layout();
    if (column < 0 || row < 0 || column >= layout->columns || row >= layout->rows)
        return {};
    return layout->Text(column, row);
}

void BoardState::SetGuardState(const std::string& shortName, std::uint8_t code) { SetState(shortName, code, Byte::Guard); }

void BoardState::SetInfoState(const std::string& shortName, std::uint8_t code) { SetState(shortName, code, Byte::Info); }

void BoardState::SetAlarmMark(const std::string& shortName) { SetState(shortName, kWarningMark, Byte::Mark); }

void BoardState::SetState(const std::string& shortName, std::uint8_t code, Byte which)
{
    if (code == kNoChange || shortName.empty())
        return;
    const LayoutPtr layout = Layout();
    bool changed = false;
    for (int c = 0; c < layout->columns; ++c) {
        for (int r = 0; r < layout->rows; ++r) {
            if (layout->Text(c, r) != shortName)
                continue;
            const auto i = static_cast<std::size_t>(TileStates::Index(c, r));
            switch (which) {
            case Byte::Guard:
                m_tiles.GuardStates[i] = code;
                if (code == kAlarm)
                    m_tiles.AlarmMarks[i] = kAlarm;
                break;
            case Byte::Info: m_tiles.InfoStates[i] = code; break;
            case Byte::Mark:
                // An intrusion's mark is not overwritten by a warning's.
                if (m_tiles.AlarmMarks[i] != kAlarm)
                    m_tiles.AlarmMarks[i] = code;
                break;
            }
            changed = true;
        }
    }
    if (changed && OnChanged)
        OnChanged();
}

void BoardState::ShowRow(const std::string& shortName, std::string_view journal, std::string_view status,
                         std::string_view event)
{
    const RowTileStates states = TileStatesOfRow(journal, status, event);
    // In the order a report sets them.
    SetGuardState(shortName, states.guard);
    SetInfoState(shortName, states.info);
    if (states.warningMark)
        SetAlarmMark(shortName);
}

void BoardState::Acknowledge(const std::string& shortName)
{
    if (shortName.empty())
        return;
    const LayoutPtr layout = Layout();
    for (int c = 0; c < layout->columns; ++c)
        for (int r = 0; r < layout->rows; ++r)
            if (layout->Text(c, r) == shortName)
                m_tiles.AlarmMarks[static_cast<std::size_t>(TileStates::Index(c, r))] = 0;
    if (OnChanged)
        OnChanged();
}

void BoardState::ClearTile(std::size_t tile)
{
    m_tiles.InfoStates[tile] = 0;
    m_tiles.AlarmMarks[tile] = 0;
}

bool BoardState::Sounding(std::size_t tile) const
{
    const std::uint8_t mark = m_tiles.AlarmMarks[tile];
    return (m_tiles.GuardStates[tile] == kAlarm && mark == kAlarm) || mark == kWarningMark;
}

} // namespace kv
