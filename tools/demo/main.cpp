// korvalen-demo: prepares the demo start of the station (see DemoSetup.h).
#include "tools/demo/DemoSetup.h"

#include <QCoreApplication>

#include <iostream>

#include <sys/stat.h>

int main(int argc, char** argv)
{
    // The demo's accounts and tables are the station's files: private.
    ::umask(077);
    // Code page conversions go through Qt's codecs.
    QCoreApplication app(argc, argv);
    return kv::demo::Run(argc, argv, std::cout, std::cerr);
}
