// korvalen-receiver: the station's core as a service, without windows or sound.
#include "core/FolderLock.h"
#include "core/Signals.h"
#include "data/Text.h"
#include "data/TextExport.h"
#include "receiver/Receiver.h"
#include "receiver/ReceiverOptions.h"
#include "timing/DateTime.h"
#include "timing/UiThread.h"

#include <QCoreApplication>

#include <cerrno>
#include <csignal>
#include <clocale>
#include <cstring>
#include <iostream>

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace kv::literals;

int Refuse(const std::string& text)
{
    std::cerr << "korvalen-receiver: " << kv::Cp1251ToUtf8(text) << std::endl;
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    ::umask(077);
    // A stop asked for before the handlers exist waits for them instead of
    // killing the receiver half-started.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int s : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&stopSignals, s);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const kv::ReceiverOptions options = kv::ParseReceiverArgs(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
        std::cout << kv::Cp1251ToUtf8(kv::ReceiverUsage());
        return 0;
    }
    if (!options.error.empty()) {
        std::cerr << kv::Cp1251ToUtf8(options.error) << "\n" << kv::Cp1251ToUtf8(kv::ReceiverUsage());
        return 2;
    }
    if (::chdir(options.data.c_str()) != 0)
        return Refuse(kv::Str("Нет доступа к папке данных: "_cp) + std::strerror(errno));
    if (!kv::LockWorkingFolder())
        return Refuse(kv::Str("Станция уже работает с журналами в этой папке."_cp));

    // The settings beside the tables unless named; read before anything opens.
    const std::string config = options.config.empty() ? std::string("config.ini") : options.config;
    if (::access(config.c_str(), R_OK) != 0)
        return Refuse(kv::Str("Нет файла настроек "_cp) + config + ": " + std::strerror(errno));

    QCoreApplication app(argc, argv);
    kv::InstallUiThread();
    // "." as decimal separator, whatever the regional settings.
    std::setlocale(LC_NUMERIC, "C");
    // From here on a signal ends the receiver cleanly, also one that comes
    // while the modems are being started.
    bool stop = false;
    kv::CloseOnSignals([&stop] {
        stop = true;
        QCoreApplication::exit(0);
    });
    pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
    kv::Receiver receiver(config, std::cerr);
    std::string error;
    if (!receiver.Start(error)) {
        receiver.Close();
        return Refuse(error);
    }
    if (!stop)
        app.exec();
    return receiver.Close() ? 0 : 1;
}
