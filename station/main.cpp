#include "station/AutoStart.h"
#include "station/Signals.h"
#include "station/Station.h"
#include "station/mainunit.h"
#include "timing/UiThread.h"

#include <QApplication>
#include <QSessionManager>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    kv::InstallUiThread();
    kv::UseDecimalPoint();
    kv::Station station;
    kv::TForm1& main = station.Form1();
    // Other windows may still be open: the main window's close ends the program.
    QObject::connect(&main, &kv::TForm1::Closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    // A signal or the end of the desktop session closes the station as its
    // close box does: workers stopped, journals saved.
    kv::CloseOnSignals([&main] { main.close(); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &main, [&main](QSessionManager&) { main.close(); });
    app.setQuitOnLastWindowClosed(false);
    station.Show();
    // KORVALEN_AUTOSTART="user:password": an unattended login and modem start.
    kv::AutoStartFromEnvironment(station);
    return app.exec();
}
