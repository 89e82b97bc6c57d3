#pragma once
// Writing events into a journal (EventsTable, DialEventsTable) and opening a
// journal at start-up. UI thread only: workers hand the texts over and wait.
#include "data/Text.h"

#include <functional>
#include <string>
#include <string_view>

namespace kv {

class MemTable;
class TableFormat;

inline constexpr std::string_view kJournalCreated = "Создание журнала"_cp;
inline constexpr std::string_view kMainJournalEmpty = "Список событий пуст!"_cp;
inline constexpr std::string_view kDialJournalEmpty = "Список событий обзвона пуст!\r\nНовый журнал обзвона создан!"_cp;

// The device's short name for a phone number (the register's lookup).
using ShortNameLookup = std::function<std::string(const std::string& tel)>;
using JournalNotify = std::function<void(const std::string& message)>;

// Every "\r\n" pair becomes one blank; a lone "\r" or "\n" stays.
std::string JoinLineBreaks(std::string_view text);

// Inserts the event in front of the first record: EventTime = now, the texts
// cut to their widths, simplename from `lookup` (empty when none is given).
// A journal loaded from a file without some of these columns gets the rest.
void RecordEvent(MemTable& journal, std::string_view status, std::string_view tel, std::string_view event,
                 const ShortNameLookup& lookup, double now);

// Whether the journal holds a row with this tel and event, as RecordEvent
// stores them, whose EventTime is `since` or later. Looks from the newest row
// back to the first one older than that.
bool JournalHoldsEvent(const MemTable& journal, std::string_view tel, std::string_view event, double since);

// Loads the journal and moves to its first record. On any failure: tells
// `notify` the caller's message, keeps a damaged file aside as
// "<file>.damaged" (so the save at exit cannot destroy it), and starts the
// journal with one "Создание журнала" row (Status, tel, simplename empty).
// Returns whether the file was loaded.
bool OpenJournal(MemTable& journal, const std::string& fileName, const TableFormat& format,
                 std::string_view failureMessage, const JournalNotify& notify, double now);

} // namespace kv
