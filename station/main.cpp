#include "timing/UiThread.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    kv::InstallUiThread();
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Korvalen   -  ver.2.1.5"));
    window.resize(850, 600);
    window.show();
    return app.exec();
}
