// korvalen-demo: prepares the demo start of the station (see DemoSetup.h).
#include "tools/demo/DemoSetup.h"

#include <QCoreApplication>

#include <iostream>

int main(int argc, char** argv)
{
    // Code page conversions go through Qt's codecs.
    QCoreApplication app(argc, argv);
    return kv::demo::Run(argc, argv, std::cout, std::cerr);
}
