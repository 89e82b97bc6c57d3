#include "windows/QtRussian.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace kv {

bool InstallQtRussian()
{
    // Lives as long as the application: Qt keeps only a pointer.
    static QTranslator* translator = nullptr;
    if (translator)
        return true;
    auto* loaded = new QTranslator;
    if (!loaded->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(loaded)) {
        delete loaded;
        return false;
    }
    translator = loaded;
    return true;
}

} // namespace kv
