#include "windows/AppPaths.h"

#include <QCoreApplication>
#include <QDir>

namespace kv {

namespace {
QString g_override;
}

QString ProgramDir()
{
    if (!g_override.isEmpty())
        return g_override;
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QDir::currentPath();
}

void SetProgramDirForTests(const QString& dir) { g_override = dir; }

QString ProgramFile(const QString& relative) { return QDir(ProgramDir()).filePath(relative); }

} // namespace kv
