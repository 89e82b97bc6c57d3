#include "core/BoardState.h"

#include "codec/Classify.h"
#include "data/Status.h"
#include "modem/EventTexts.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <unordered_set>

namespace kv {

namespace {

// `fn(tile, text)` for every tile of the page's grid.
template <typename Fn>
void EachTile(const BoardState::Page& page, Fn&& fn)
{
    for (int c = 0; c < page.layout.columns; ++c)
        for (int r = 0; r < page.layout.rows; ++r)
            fn(static_cast<std::size_t>(TileStates::Index(c, r)), page.layout.Text(c, r));
}

} // namespace

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

std::vector<BoardPageLayout> LayBoardPages(const std::vector<DialDevice>& devices,
                                           const std::function<std::string(const std::string&)>& receiverOf,
                                           int columns, int rows)
{
    columns = std::clamp(columns, 1, DialSchedule::kMaxColumns);
    rows = std::clamp(rows, 1, DialSchedule::kMaxRows);
    const std::size_t perPage = static_cast<std::size_t>(columns * rows);
    // Receivers by name, then the devices without one.
    std::map<std::string, std::vector<const DialDevice*>> byReceiver;
    std::vector<const DialDevice*> unassigned;
    for (const DialDevice& d : devices) {
        const std::string receiver = receiverOf ? receiverOf(d.simplename) : std::string();
        (receiver.empty() ? unassigned : byReceiver[receiver]).push_back(&d);
    }
    std::vector<std::pair<std::string, std::vector<const DialDevice*>>> groups(byReceiver.begin(), byReceiver.end());
    if (!unassigned.empty() || groups.empty())
        groups.emplace_back(std::string(kNoReceiverPage), std::move(unassigned));
    std::vector<BoardPageLayout> pages;
    for (const auto& [name, group] : groups) {
        const std::size_t count = std::max<std::size_t>(1, (group.size() + perPage - 1) / perPage);
        for (std::size_t p = 0; p < count; ++p) {
            BoardPageLayout& page = pages.emplace_back();
            page.caption = count > 1 ? name + " " + std::to_string(p + 1) : name;
            page.layout.columns = columns;
            page.layout.rows = rows;
            // Down each column, then the next, as one board is laid.
            for (std::size_t i = p * perPage; i < group.size() && i < (p + 1) * perPage; ++i) {
                const int at = static_cast<int>(i - p * perPage);
                page.layout.texts[DialSchedule::Index(at / rows, at % rows)] = group[i]->simplename;
            }
        }
    }
    return pages;
}

BoardState::BoardState(TileStates& tiles) : m_tiles(tiles)
{
    auto pages = std::make_shared<std::vector<Page>>(1);
    (*pages)[0].tiles = &m_tiles;
    m_pages = std::move(pages);
}

void BoardState::Publish(std::shared_ptr<std::vector<Page>> pages)
{
    const DialSchedule::Layout& first = pages->front().layout;
    std::lock_guard lock(m_layoutLock);
    m_columns = first.columns;
    m_rows = first.rows;
    m_pages = std::move(pages);
}

void BoardState::SetLayout(const DialSchedule::Layout& layout)
{
    auto pages = std::make_shared<std::vector<Page>>(1);
    (*pages)[0].layout = layout;
    (*pages)[0].tiles = &m_tiles;
    // A centre's station is laid as one board before its pages: the states it
    // kept by device go to their devices' tiles, not to t5.bin's positions.
    if (!m_restored.empty()) {
        std::lock_guard moving(m_stateLock);
        std::unordered_map<std::string, const NamedTileState*> restored;
        for (const NamedTileState& s : m_restored)
            restored.try_emplace(s.shortName, &s);
        std::unordered_set<std::string> placed;
        for (std::size_t i = 0; i < static_cast<std::size_t>(TileStates::kTiles); ++i)
            if (const auto kept = restored.find(layout.texts[i]); kept != restored.end()) {
                m_tiles.GuardStates[i] = kept->second->guard;
                m_tiles.InfoStates[i] = kept->second->info;
                m_tiles.AlarmMarks[i] = 0;
                placed.insert(kept->first);
            }
        // The devices without a tile here wait for the pages.
        std::erase_if(m_restored, [&](const NamedTileState& s) { return placed.contains(s.shortName); });
    }
    m_paged = false;
    m_laid = true;
    Publish(std::move(pages));
}

void BoardState::SetPages(const std::vector<BoardPageLayout>& layouts)
{
    std::unique_lock moving(m_stateLock);
    struct Bytes {
        std::uint8_t guard, info, mark;
    };
    // What each device shows now, wherever it is.
    std::unordered_map<std::string, Bytes> shown;
    const PagesPtr old = Pages();
    for (const Page& page : *old)
        EachTile(page, [&](std::size_t i, const std::string& text) {
            if (!text.empty())
                shown.try_emplace(text, Bytes{page.tiles->GuardStates[i], page.tiles->InfoStates[i],
                                              page.tiles->AlarmMarks[i]});
        });
    std::unordered_map<std::string, Bytes> restored;
    for (const NamedTileState& s : m_restored)
        restored.try_emplace(s.shortName, Bytes{s.guard, s.info, 0});

    auto pages = std::make_shared<std::vector<Page>>();
    if (layouts.empty())
        pages->resize(1);
    for (const BoardPageLayout& l : layouts)
        pages->push_back({l.caption, l.layout, nullptr});
    {
        std::lock_guard lock(m_layoutLock);
        while (m_moreTiles.size() + 1 < pages->size())
            m_moreTiles.push_back(std::make_unique<TileStates>());
    }
    // Worked out whole before any byte is written: the first page's bytes are
    // the old first page's too.
    std::vector<std::vector<Bytes>> next(pages->size(), std::vector<Bytes>(TileStates::kTiles, Bytes{0, 0, 0}));
    for (std::size_t p = 0; p < pages->size(); ++p) {
        Page& page = (*pages)[p];
        page.tiles = p == 0 ? &m_tiles : m_moreTiles[p - 1].get();
        for (int i = 0; i < TileStates::kTiles; ++i) {
            const std::string& text = page.layout.texts[static_cast<std::size_t>(i)];
            const auto tile = static_cast<std::size_t>(i);
            if (text.empty())
                continue;
            if (const auto kept = restored.find(text); kept != restored.end())
                next[p][tile] = kept->second;
            else if (const auto was = shown.find(text); was != shown.end())
                next[p][tile] = was->second;
            else if (p == 0 && !m_laid)
                next[p][tile] = {m_tiles.GuardStates[tile], m_tiles.InfoStates[tile], m_tiles.AlarmMarks[tile]};
        }
    }
    for (std::size_t p = 0; p < pages->size(); ++p) {
        TileStates& tiles = *(*pages)[p].tiles;
        for (std::size_t i = 0; i < static_cast<std::size_t>(TileStates::kTiles); ++i) {
            tiles.GuardStates[i] = next[p][i].guard;
            tiles.InfoStates[i] = next[p][i].info;
            tiles.AlarmMarks[i] = next[p][i].mark;
        }
    }
    m_restored.clear();
    m_laid = true;
    m_paged = true;
    Publish(std::move(pages));
    moving.unlock();
    if (OnChanged)
        OnChanged();
}

BoardState::PagesPtr BoardState::Pages() const
{
    std::lock_guard lock(m_layoutLock);
    return m_pages;
}

BoardState::LayoutPtr BoardState::Layout() const
{
    const PagesPtr pages = Pages();
    return LayoutPtr(pages, &pages->front().layout);
}

std::string BoardState::TileText(int column, int row) const
{
    const LayoutPtr layout = Layout();
    if (column < 0 || row < 0 || column >= layout->columns || row >= layout->rows)
        return {};
    return layout->Text(column, row);
}

void BoardState::RestorePages(const std::string& fileName, double now)
{
    m_restored = RestoreNamedTileStates(fileName, now);
}

TileSave BoardState::SavePages(const std::string& fileName) const
{
    const PagesPtr pages = Pages();
    std::vector<NamedTileState> states;
    for (const Page& page : *pages)
        EachTile(page, [&](std::size_t i, const std::string& text) {
            if (!text.empty())
                states.push_back({text, page.tiles->GuardStates[i], page.tiles->InfoStates[i]});
        });
    return SaveNamedTileStates(states, fileName);
}

void BoardState::SetGuardState(const std::string& shortName, std::uint8_t code) { SetState(shortName, code, Byte::Guard); }

void BoardState::SetInfoState(const std::string& shortName, std::uint8_t code) { SetState(shortName, code, Byte::Info); }

void BoardState::SetAlarmMark(const std::string& shortName) { SetState(shortName, kWarningMark, Byte::Mark); }

void BoardState::SetState(const std::string& shortName, std::uint8_t code, Byte which)
{
    if (code == kNoChange || shortName.empty())
        return;
    bool changed = false;
    std::unique_lock writing(m_stateLock);
    const PagesPtr pages = Pages();
    for (const Page& page : *pages) {
        TileStates& tiles = *page.tiles;
        EachTile(page, [&](std::size_t i, const std::string& text) {
            if (text != shortName)
                return;
            switch (which) {
            case Byte::Guard:
                tiles.GuardStates[i] = code;
                if (code == kAlarm)
                    tiles.AlarmMarks[i] = kAlarm;
                break;
            case Byte::Info: tiles.InfoStates[i] = code; break;
            case Byte::Mark:
                // An intrusion's mark is not overwritten by a warning's.
                if (tiles.AlarmMarks[i] != kAlarm)
                    tiles.AlarmMarks[i] = code;
                break;
            }
            changed = true;
        });
    }
    writing.unlock();
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
    std::unique_lock writing(m_stateLock);
    const PagesPtr pages = Pages();
    for (const Page& page : *pages)
        EachTile(page, [&](std::size_t i, const std::string& text) {
            if (text == shortName)
                page.tiles->AlarmMarks[i] = 0;
        });
    writing.unlock();
    if (OnChanged)
        OnChanged();
}

void BoardState::ClearTile(TileStates& tiles, std::size_t tile)
{
    tiles.InfoStates[tile] = 0;
    tiles.AlarmMarks[tile] = 0;
}

bool BoardState::Sounding(const TileStates& tiles, std::size_t tile)
{
    const std::uint8_t mark = tiles.AlarmMarks[tile];
    return (tiles.GuardStates[tile] == kAlarm && mark == kAlarm) || mark == kWarningMark;
}

int BoardState::SoundingTiles(const Page& page)
{
    int count = 0;
    EachTile(page, [&](std::size_t i, const std::string&) { count += Sounding(*page.tiles, i) ? 1 : 0; });
    return count;
}

} // namespace kv
