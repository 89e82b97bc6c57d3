// What Windows can tell about a port that would not open. It names no holder
// of a port, so only this program's own hold is told.
#include "serial/PortDiagnosis.h"

#include "serial/ComPortPlatform.h"

#include <windows.h>

#include <cctype>

namespace kv::comport {

OpenRefusal ClassifyOpenError(int systemError)
{
    switch (systemError) {
    case ERROR_ACCESS_DENIED: // a port in use, whoever the user
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY: return OpenRefusal::Busy;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_GEN_FAILURE: return OpenRefusal::Missing;
    default: return OpenRefusal::Other;
    }
}

std::string ShownPortName(const std::string& portName)
{
    std::string name = portName.rfind("\\\\.\\", 0) == 0 ? portName.substr(4) : portName;
    for (char& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

PortHolder FindPortHolder(const std::string& devicePath)
{
    if (!OpenInThisProcess(devicePath))
        return {};
    return {static_cast<pid_t>(GetCurrentProcessId()), {}};
}

std::string DeviceGroup(const std::string&) { return {}; }

std::string CurrentUserName()
{
    wchar_t name[257];
    DWORD length = 257;
    if (!GetUserNameW(name, &length) || length == 0)
        return {};
    return Narrow(name, length - 1); // the count includes the closing zero
}

} // namespace kv::comport
