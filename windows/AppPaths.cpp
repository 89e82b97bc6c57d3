#include "windows/AppPaths.h"

#include "data/AtomicFile.h"
#include "data/Text.h"
#include "windows/QtText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdlib>
#include <filesystem>

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

bool IsStationFile(const std::string& name)
{
    static constexpr std::string_view kExact[] = {"config.ini", "user.ini", "config.ini.saved", "korvalen.running",
                                                  "korvalen.lock"};
    static constexpr std::string_view kPrefixes[] = {"t1.bin", "t2.bin", "t3.bin", "t4.bin",
                                                     "t5.bin", "t6.bin", "techno.log", "lastcontact.ini"};
    for (std::string_view exact : kExact)
        if (name == exact)
            return true;
    for (std::string_view prefix : kPrefixes)
        if (name.rfind(prefix, 0) == 0)
            return true;
    return false;
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

void KeepStationFilesPrivate(const std::string& folder)
{
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (IsStationFile(it->path().filename().string()))
            (void)MakePrivate(it->path().string());
    }
}

bool EnterStationFolders(const StationFolders& f, std::string& error)
{
    if (f.installed) {
        for (const QString& dir : {f.config, f.data}) {
            if (!MakePrivateFolder(QFile::encodeName(dir).toStdString())) {
                error = std::string("Не удалось создать папку "_cp) + FromQ(dir);
                return false;
            }
        }
        if (::chdir(QFile::encodeName(f.data).constData()) != 0) {
            error = std::string("Не удалось открыть папку "_cp) + FromQ(f.data);
            return false;
        }
    }
    // Files an older station left readable by everyone are narrowed at the start.
    KeepStationFilesPrivate(QFile::encodeName(f.config).toStdString());
    KeepStationFilesPrivate(".");
    return true;
}

bool EnterStationFolders(std::string& error) { return EnterStationFolders(Folders(), error); }

QString ProgramDir() { return Folders().assets; }

void SetProgramDirForTests(const QString& dir) { g_override = dir; }

QString ProgramFile(const QString& relative) { return QDir(ProgramDir()).filePath(relative); }

QString ConfigFile(const QString& name) { return QDir(Folders().config).filePath(name); }

} // namespace kv
