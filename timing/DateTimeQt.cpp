// The windows' date and time formats from Qt's locale data.
#include "timing/DateTime.h"

#include <QDateTime>
#include <QLocale>
#include <QStringEncoder>

#include <optional>

namespace kv {

namespace {

struct DisplayFormats {
    QLocale locale;
    QString date;
    QString time;
};
std::optional<DisplayFormats> g_display;

// Qt's long time format carries the time zone ("HH:mm:ss t"); journal times
// are local and the zone would only crowd the column.
QString WithoutTimeZone(const QString& pattern)
{
    QString out;
    bool quoted = false;
    for (const QChar c : pattern) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t'))
            continue;
        out += c;
    }
    return out.trimmed();
}

QDateTime ToQDateTime(double value)
{
    const DateTimeParts p = DecodeDateTime(value);
    return QDateTime(QDate(p.year, p.month, p.day), QTime(p.hour, p.minute, p.second, p.msec));
}

// Station text is code page 1251; a locale's month or AM/PM names outside it
// become '?', as anywhere else at the widget edge.
std::string ToStationText(const QString& text)
{
    QStringEncoder encoder("windows-1251", QStringConverter::Flag::Default);
    if (!encoder.isValid())
        return text.toLatin1().toStdString();
    QByteArray bytes = encoder.encode(text);
    return bytes.toStdString();
}

std::string FormatWithLocale(double value, bool withDate)
{
    const QDateTime dt = ToQDateTime(value);
    const QString time = g_display->locale.toString(dt.time(), g_display->time);
    if (!withDate)
        return ToStationText(time);
    return ToStationText(g_display->locale.toString(dt.date(), g_display->date) + QLatin1Char(' ') + time);
}

void Adopt(const QLocale& locale)
{
    if (locale.language() == QLocale::C) {
        SetDisplayFormatter(nullptr);
        g_display.reset();
        return;
    }
    SetDisplayFormatter(nullptr);
    g_display = DisplayFormats{locale, locale.dateFormat(QLocale::ShortFormat),
                               WithoutTimeZone(locale.timeFormat(QLocale::LongFormat))};
    SetDisplayFormatter(&FormatWithLocale);
}

} // namespace

void SetDateTimeFormatsOf(const std::string& localeName)
{
    Adopt(localeName.empty() ? QLocale::c() : QLocale(QString::fromStdString(localeName)));
}

void UseSystemDateTimeFormats() { Adopt(QLocale::system()); }

} // namespace kv
