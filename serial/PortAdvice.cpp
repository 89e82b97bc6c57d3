#include "serial/PortAdvice.h"

#include "data/Text.h"
#include "serial/CPort.h"
#include "serial/ComPortPlatform.h"
#include "serial/PortDiagnosis.h"

#include <unistd.h>

namespace kv {

using namespace literals;

namespace {
std::string S(std::string_view v) { return std::string(v); }
} // namespace

std::string PortAdvice(int systemError, const std::string& portName)
{
    const std::string path = comport::DevicePath(portName);
    const std::string shown = comport::ShownPortName(portName);
    switch (comport::ClassifyOpenError(systemError)) {
    case comport::OpenRefusal::Permission: {
        // Serial ports belong to "dialout" on Debian; a device of another
        // group (an adapter's udev rule) names its own.
        std::string group = comport::DeviceGroup(path);
        if (group.empty() || group == "root" || group == "tty")
            group = "dialout";
        std::string user = comport::CurrentUserName();
        if (user.empty())
            user = "$USER";
        return S("Нет прав на доступ к порту "_cp) + shown + S(". Добавьте пользователя "_cp) + user +
               S(" в группу "_cp) + group + " (sudo adduser " + user + " " + group +
               S(") и войдите в систему заново."_cp);
    }
    case comport::OpenRefusal::Busy: {
        const comport::PortHolder holder = comport::FindPortHolder(path);
        if (holder.pid == ::getpid())
            return S("Порт "_cp) + shown + S(" уже открыт этой станцией: проверьте, не указан ли один порт для обоих модемов."_cp);
        if (holder.pid > 0)
            return S("Порт "_cp) + shown + S(" занят программой "_cp) + (holder.name.empty() ? "?" : holder.name) +
                   S(" (процесс "_cp) + std::to_string(holder.pid) + S("). Закройте её и повторите."_cp);
        return S("Порт "_cp) + shown + S(" занят другой программой. Закройте её и повторите."_cp);
    }
    case comport::OpenRefusal::Missing:
        return S("Порт "_cp) + shown + S(" не найден: проверьте, подключён ли модем и верно ли указан порт."_cp);
    case comport::OpenRefusal::Other: break;
    }
    return {};
}

std::string PortAdvice(const std::exception_ptr& failure, const std::string& portName)
{
    try {
        if (failure)
            std::rethrow_exception(failure);
    } catch (const EComPort& e) {
        if (e.Code() == ComError::OpenFailed && e.SystemError() > 0)
            return PortAdvice(e.SystemError(), portName);
    } catch (...) {
    }
    return {};
}

} // namespace kv
