#include "station/Station.h"
#include "station/mainunit.h"
#include "timing/UiThread.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    kv::InstallUiThread();
    kv::UseDecimalPoint();
    kv::Station station;
    // Other windows may still be open: the main window's close ends the program.
    QObject::connect(&station.Form1(), &kv::TForm1::Closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    station.Show();
    return app.exec();
}
