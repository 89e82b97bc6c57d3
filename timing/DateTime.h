#pragma once
// The station's date-time: a double counting days since 1899-12-30 in local
// time, the fraction being the time of day.
#include <cstdint>
#include <string>

namespace kv {

struct DateTimeParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, msec = 0;
};

double LocalNow();
double EncodeDateTime(const DateTimeParts& p);
DateTimeParts DecodeDateTime(double value);
// "dd.MM.yyyy hh:mm:ss", the short date and long time the journals show.
std::string FormatDateTime(double value);
// "hh:mm:ss".
std::string FormatTime(double value);

} // namespace kv
