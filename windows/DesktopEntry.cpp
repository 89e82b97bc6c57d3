#include "windows/DesktopEntry.h"

#include "data/Text.h"
#include "windows/AppPaths.h"
#include "windows/QtText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace kv {

using namespace literals;

namespace {

// The general rule for a desktop entry's string values.
QString EscapeValue(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\': out += QStringLiteral("\\\\"); break;
        case '\n': out += QStringLiteral("\\n"); break;
        case '\t': out += QStringLiteral("\\t"); break;
        case '\r': out += QStringLiteral("\\r"); break;
        default: out += c;
        }
    }
    return out;
}

// One argument of Exec: quoted when it holds anything but plain path
// characters, with the quoting's own escapes; '%' is doubled (field codes).
QString ExecArgument(const QString& argument)
{
    bool plain = !argument.isEmpty();
    for (const QChar c : argument)
        plain = plain && (c.isLetterOrNumber() || QStringLiteral("/._-+,").contains(c));
    QString out;
    if (!plain)
        out += QLatin1Char('"');
    for (const QChar c : argument) {
        if (c == QLatin1Char('%'))
            out += QStringLiteral("%%");
        else if (!plain && QStringLiteral("\"`$\\").contains(c))
            out += QLatin1Char('\\') + c;
        else
            out += c;
    }
    if (!plain)
        out += QLatin1Char('"');
    return out;
}

} // namespace

QString AutostartEntryPath() { return XdgConfigHome() + QStringLiteral("/autostart/korvalen.desktop"); }

bool AutostartEnabled()
{
    QFile file(AutostartEntryPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith("Hidden=") && line.mid(7).trimmed() == "true")
            return false;
    }
    return true;
}

QString AutostartEntryText(const QString& program, const QString& workingDir)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Korvalen\n"
                          "Comment=%1\n"
                          "Exec=%2\n"
                          "Path=%3\n"
                          "Icon=korvalen\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(ToQ("Станция мониторинга охранных GSM-устройств"_cp), EscapeValue(ExecArgument(program)),
             EscapeValue(workingDir));
}

bool SetAutostart(bool enabled, std::string& error)
{
    const QString path = AutostartEntryPath();
    if (!enabled) {
        if (!QFile::exists(path) || QFile::remove(path))
            return true;
        error = std::string("Не удалось удалить файл "_cp) + FromQ(path);
        return false;
    }
    QSaveFile file(path);
    if (!QDir().mkpath(QFileInfo(path).path()) || !file.open(QIODevice::WriteOnly) ||
        file.write(AutostartEntryText(QCoreApplication::applicationFilePath(), QDir::currentPath()).toUtf8()) < 0 ||
        !file.commit()) {
        error = std::string("Не удалось записать файл "_cp) + FromQ(path);
        return false;
    }
    return true;
}

} // namespace kv
