#pragma once
// The station's date-time: a double counting days since 1899-12-30 in local
// time, the fraction being the time of day.
#include <cstdint>
#include <ctime>
#include <string>

namespace kv {

struct DateTimeParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, msec = 0;
};

double LocalNow();
// A moment of the system clock (seconds since 1970) as local time; 0 for one
// the C library cannot place.
double LocalDateTimeOf(std::time_t seconds, int msec);
// The same for seconds with a fraction (the database's epochs).
double LocalDateTimeOf(double seconds);
// The other way: a local date-time as seconds since 1970 with a fraction.
double EpochSecondsOf(double value);
// The same as text with a point, whatever the C library's locale: for the
// database's to_timestamp.
std::string EpochText(double value);
double EncodeDateTime(const DateTimeParts& p);
DateTimeParts DecodeDateTime(double value);
// What the windows show: the short date and the long time of the system's
// locale once UseSystemDateTimeFormats has run, "dd.MM.yyyy hh:mm:ss" until
// then (and under the C locale).
std::string FormatDateTime(double value);
// The time of day alone, in the same long time format.
std::string FormatTime(double value);

// Table files, stored text and the journal tool's CSV never depend on the
// desktop: always "dd.MM.yyyy hh:mm:ss" and "hh:mm:ss". (The search window's
// CSV export is for a spreadsheet on the same desktop and shows dates as the
// windows do.)
std::string FixedDateTimeText(double value);
std::string FixedTimeText(double value);

// Takes the formats of the locale named (Qt's names: "ru_RU", "en_US"); "C"
// or an empty name restores the fixed formats. Once, at start, before any
// window draws: not for use while other threads format. These two come with
// the windows' Qt (kv_uithread): the core itself knows the fixed formats only.
void SetDateTimeFormatsOf(const std::string& localeName);
// The same for the system's locale (LC_ALL, LC_TIME, LANG).
void UseSystemDateTimeFormats();

// What FormatDateTime (withDate) and FormatTime use instead of the fixed
// formats; null restores them.
using DisplayFormatter = std::string (*)(double value, bool withDate);
void SetDisplayFormatter(DisplayFormatter formatter);

} // namespace kv
