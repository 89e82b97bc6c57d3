#include "windows/AppPaths.h"

#include "data/Text.h"
#include "windows/QtText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdlib>

#include <unistd.h>

namespace kv {

using namespace literals;

namespace {

QString g_override;

QString Environment(const char* name) { return QString::fromLocal8Bit(std::getenv(name)); }

// An XDG base folder: the variable when it holds an absolute path, otherwise
// the documented default under the home folder.
QString XdgHome(const std::function<QString(const char*)>& env, const char* variable, const char* fallback)
{
    const QString set = env(variable);
    if (!set.isEmpty() && QDir::isAbsolutePath(set))
        return QDir::cleanPath(set);
    QString home = env("HOME");
    if (home.isEmpty())
        home = QDir::homePath();
    return QDir::cleanPath(home + QLatin1Char('/') + QLatin1String(fallback));
}

StationFolders OfThisProgram()
{
    const QString program =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    return FindStationFolders(program, Environment);
}

} // namespace

StationFolders FindStationFolders(const QString& programDir, const std::function<QString(const char*)>& env)
{
    // A build folder has the sounds beside the program; that wins, so ./run
    // and the tests keep their layout whatever is installed.
    const QString shared = QDir::cleanPath(programDir + QStringLiteral("/../share/korvalen"));
    if (QFileInfo(programDir + QStringLiteral("/Sounds")).isDir() ||
        !QFileInfo(shared + QStringLiteral("/Sounds")).isDir())
        return {false, programDir, programDir, {}};
    return {true, shared, XdgHome(env, "XDG_CONFIG_HOME", ".config") + QStringLiteral("/korvalen"),
            XdgHome(env, "XDG_DATA_HOME", ".local/share") + QStringLiteral("/korvalen")};
}

QString XdgConfigHome(const std::function<QString(const char*)>& env)
{
    return XdgHome(env, "XDG_CONFIG_HOME", ".config");
}

QString XdgConfigHome() { return XdgConfigHome(Environment); }

StationFolders Folders()
{
    if (!g_override.isEmpty())
        return {false, g_override, g_override, {}};
    static const StationFolders program = OfThisProgram();
    return program;
}

bool EnterStationFolders(std::string& error)
{
    const StationFolders f = Folders();
    if (!f.installed)
        return true;
    for (const QString& dir : {f.config, f.data}) {
        if (!QDir().mkpath(dir)) {
            error = std::string("Не удалось создать папку "_cp) + FromQ(dir);
            return false;
        }
    }
    if (::chdir(QFile::encodeName(f.data).constData()) != 0) {
        error = std::string("Не удалось открыть папку "_cp) + FromQ(f.data);
        return false;
    }
    return true;
}

QString ProgramDir() { return Folders().assets; }

void SetProgramDirForTests(const QString& dir) { g_override = dir; }

QString ProgramFile(const QString& relative) { return QDir(ProgramDir()).filePath(relative); }

QString ConfigFile(const QString& name) { return QDir(Folders().config).filePath(name); }

} // namespace kv
