#pragma once
// What the system can tell about a serial device that would not open: who
// holds it, and which group may use it (PortDiagnosis.cpp on POSIX,
// PortDiagnosisWin32.cpp on Windows).
#include <string>
#include <sys/types.h>

namespace kv::comport {

struct PortHolder {
    pid_t pid = -1;   // -1: the system does not tell
    std::string name; // the process's command name
};
// The process holding a lock on `devicePath` (from /proc/locks), else one that
// has it open (from /proc/*/fd, readable for the user's own processes or for
// root), else the one named by a UUCP lock file (/var/lock/LCK..ttyUSB0)
// while it runs.
PortHolder FindPortHolder(const std::string& devicePath);

// What the error of a failed open means to the operator.
enum class OpenRefusal { Other, Permission, Busy, Missing };
OpenRefusal ClassifyOpenError(int systemError);
// The port as the operator knows it: its device path on POSIX, "COM5" on Windows.
std::string ShownPortName(const std::string& portName);

// The group owning the device ("dialout"); empty when it cannot be read.
std::string DeviceGroup(const std::string& devicePath);
// The user this program runs as.
std::string CurrentUserName();

} // namespace kv::comport
