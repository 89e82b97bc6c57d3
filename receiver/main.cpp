// korvalen-receiver: the station's core as a service, without windows or sound.
#include "core/FolderLock.h"
#include "core/Signals.h"
#include "data/Text.h"
#include "data/TextExport.h"
#include "receiver/Process.h"
#include "receiver/Receiver.h"
#include "receiver/ReceiverOptions.h"
#include "timing/DateTime.h"
#include "timing/EventLoop.h"

#include <cerrno>
#include <clocale>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <system_error>

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
    kv::PrepareReceiverProcess();
    const kv::ReceiverOptions options = kv::ParseReceiverArgs(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
        std::cout << kv::Cp1251ToUtf8(kv::ReceiverUsage());
        return 0;
    }
    if (!options.error.empty()) {
        std::cerr << kv::Cp1251ToUtf8(options.error) << "\n" << kv::Cp1251ToUtf8(kv::ReceiverUsage());
        return 2;
    }
    std::error_code folder;
    std::filesystem::current_path(options.data, folder);
    if (folder)
        return Refuse(kv::Str("Нет доступа к папке данных: "_cp) + folder.message());
    if (!kv::LockWorkingFolder())
        return Refuse(kv::Str("Станция уже работает с журналами в этой папке."_cp));

    // The settings beside the tables unless named; read before anything opens.
    const std::string config = options.config.empty() ? std::string("config.ini") : options.config;
    if (!std::ifstream(config, std::ios::binary))
        return Refuse(kv::Str("Нет файла настроек "_cp) + config + ": " + std::strerror(errno));

    kv::EventLoop loop;
    loop.InstallAsUiThread();
    // The system's messages (a port's error) in the user's language, but "."
    // as decimal separator, whatever the regional settings.
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
    // From here on a signal ends the receiver cleanly, also one that comes
    // while the modems are being started.
    bool stop = false;
    kv::CloseOnSignals([&stop, &loop] {
        stop = true;
        loop.Quit();
    });
    kv::ReleaseStopSignals();
    kv::Receiver receiver(config, std::cerr, loop);
    std::string error;
    if (!receiver.Start(error)) {
        receiver.Close();
        return Refuse(error);
    }
    if (!stop)
        loop.Run();
    return receiver.Close() ? 0 : 1;
}
