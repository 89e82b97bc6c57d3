#include "timing/DateTime.h"

#include "timing/LocalTime.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace kv {

namespace {
// Days from 1970-01-01 to a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t yy = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

constexpr std::int64_t kEpochOffsetDays = 25569; // 1899-12-30 to 1970-01-01
} // namespace

double EncodeDateTime(const DateTimeParts& p)
{
    const double days = static_cast<double>(DaysFromCivil(p.year, static_cast<unsigned>(p.month),
                                                          static_cast<unsigned>(p.day)) + kEpochOffsetDays);
    const double time = (p.hour * 3600000.0 + p.minute * 60000.0 + p.second * 1000.0 + p.msec) / 86400000.0;
    // Before 1899-12-30 the fraction counts away from zero, as the day count does.
    return days >= 0 ? days + time : days - time;
}

DateTimeParts DecodeDateTime(double value)
{
    DateTimeParts p;
    if (!std::isfinite(value) || std::fabs(value) > 3.0e6)
        return p;
    double dayPart = std::trunc(value);
    double frac = std::fabs(value - dayPart);
    std::int64_t msOfDay = static_cast<std::int64_t>(std::llround(frac * 86400000.0));
    if (msOfDay >= 86400000) {
        msOfDay -= 86400000;
        dayPart += value >= 0 ? 1 : -1;
    }
    CivilFromDays(static_cast<std::int64_t>(dayPart) - kEpochOffsetDays, p.year, p.month, p.day);
    p.hour = static_cast<int>(msOfDay / 3600000);
    p.minute = static_cast<int>(msOfDay / 60000 % 60);
    p.second = static_cast<int>(msOfDay / 1000 % 60);
    p.msec = static_cast<int>(msOfDay % 1000);
    return p;
}

double LocalDateTimeOf(std::time_t seconds, int msec)
{
    std::tm tm{};
    if (!ToLocalTime(seconds, tm))
        return 0;
    return EncodeDateTime({tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, msec});
}

double LocalDateTimeOf(double seconds)
{
    const double whole = std::floor(seconds);
    const int msec = std::clamp(static_cast<int>(std::lround((seconds - whole) * 1000)), 0, 999);
    return LocalDateTimeOf(static_cast<std::time_t>(whole), msec);
}

double EpochSecondsOf(double value)
{
    const DateTimeParts p = DecodeDateTime(value);
    std::tm tm{};
    tm.tm_year = p.year - 1900;
    tm.tm_mon = p.month - 1;
    tm.tm_mday = p.day;
    tm.tm_hour = p.hour;
    tm.tm_min = p.minute;
    tm.tm_sec = p.second;
    tm.tm_isdst = -1; // the offset in force on that day
    return static_cast<double>(std::mktime(&tm)) + p.msec / 1000.0;
}

std::string EpochText(double value)
{
    const DateTimeParts p = DecodeDateTime(value);
    const double seconds = std::floor(EpochSecondsOf(value));
    char text[40];
    std::snprintf(text, sizeof text, "%lld.%03d", static_cast<long long>(seconds), p.msec);
    return text;
}

double LocalNow()
{
    const auto now = std::chrono::system_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    return LocalDateTimeOf(std::chrono::system_clock::to_time_t(now), static_cast<int>(ms));
}

std::string FixedDateTimeText(double value)
{
    const DateTimeParts p = DecodeDateTime(value);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d", p.day, p.month, p.year, p.hour, p.minute,
                  p.second);
    return buf;
}

std::string FixedTimeText(double value)
{
    const DateTimeParts p = DecodeDateTime(value);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.hour, p.minute, p.second);
    return buf;
}

namespace {
std::atomic<DisplayFormatter> g_formatter{nullptr};
} // namespace

void SetDisplayFormatter(DisplayFormatter formatter) { g_formatter = formatter; }

std::string FormatDateTime(double value)
{
    const DisplayFormatter f = g_formatter.load();
    return f ? f(value, true) : FixedDateTimeText(value);
}

std::string FormatTime(double value)
{
    const DisplayFormatter f = g_formatter.load();
    return f ? f(value, false) : FixedTimeText(value);
}

} // namespace kv
