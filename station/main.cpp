#include "station/AutoStart.h"
#include "core/FolderLock.h"
#include "core/Signals.h"
#include "station/Station.h"
#include "station/mainunit.h"
#include "data/Text.h"
#include "timing/DateTime.h"
#include "timing/UiThread.h"
#include "windows/AppPaths.h"
#include "windows/Dialogs.h"
#include "windows/QtRussian.h"
#include "windows/TechnoJournalUnit.h"

#include <QApplication>
#include <QSessionManager>

#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    // Besides the explicit 0600 of every station file: whatever else a
    // library creates stays the operator's own.
    ::umask(077);
    QApplication app(argc, argv);
    kv::InstallUiThread();
    kv::UseDecimalPoint();
    kv::UseSystemDateTimeFormats();
    const bool qtRussian = kv::InstallQtRussian();
    // Installed: the tables in the user's data folder, which becomes the
    // current directory; from a build folder the current directory as it is.
    if (std::string error; !kv::EnterStationFolders(error)) {
        kv::ShowError(error);
        return 1;
    }
    if (!kv::LockWorkingFolder()) {
        using namespace kv::literals;
        kv::ShowError(std::string("Станция уже работает с журналами в этой папке."_cp));
        return 1;
    }
    kv::Station station;
    kv::TForm1& main = station.Form1();
    // Other windows may still be open: the main window's close ends the program.
    QObject::connect(&main, &kv::TForm1::Closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    // A signal or the end of the desktop session closes the station as its
    // close box does: workers stopped, journals saved.
    // Through Qt's queue, so the close never runs inside a wait that serves hand-overs.
    kv::CloseOnSignals([&main] { QMetaObject::invokeMethod(&main, [&main] { main.CloseForSystem(); }, Qt::QueuedConnection); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &main,
                     [&main](QSessionManager&) { main.CloseForSystem(); });
    app.setQuitOnLastWindowClosed(false);
    if (!qtRussian) {
        using namespace kv::literals;
        station.TechnoJournalForm().AppendTechnoLine(
            std::string("Переводы Qt не найдены: кнопки и диалоги Qt будут на английском (пакет qt6-translations-l10n)"_cp),
            kv::kRed);
    }
    station.Show();
    // Monitoring resumed after a crash; KORVALEN_AUTOSTART="user:password": a login and modem start.
    kv::StartUnattended(station);
    return app.exec();
}
