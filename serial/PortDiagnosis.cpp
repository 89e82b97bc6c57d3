#include "serial/PortDiagnosis.h"

#include "serial/ComPortPlatform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sstream>
#include <string_view>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace kv::comport {

namespace {

std::string CommandName(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

bool IsNumber(const char* s)
{
    if (!*s)
        return false;
    for (; *s; ++s)
        if (*s < '0' || *s > '9')
            return false;
    return true;
}

// Whether process `pid` has a descriptor on the character device `device`.
bool HoldsDevice(const std::string& pid, dev_t device)
{
    const std::string fdDir = "/proc/" + pid + "/fd";
    DIR* fds = ::opendir(fdDir.c_str());
    if (!fds)
        return false; // another user's process, or gone
    bool holds = false;
    while (const dirent* e = ::readdir(fds)) {
        if (!IsNumber(e->d_name))
            continue;
        struct stat st{};
        if (::stat((fdDir + "/" + e->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == device) {
            holds = true;
            break;
        }
    }
    ::closedir(fds);
    return holds;
}

// The process whose lock on the device node (the one a station takes) made
// the open fail, from /proc/locks; -1 when none is listed.
pid_t LockHolder(const struct stat& node)
{
    char id[64];
    std::snprintf(id, sizeof id, "%02x:%02x:%llu", major(node.st_dev), minor(node.st_dev),
                  static_cast<unsigned long long>(node.st_ino));
    std::ifstream in("/proc/locks");
    std::string line;
    while (std::getline(in, line)) {
        // "1: FLOCK  ADVISORY  WRITE 2345 00:1b:6 0 EOF"; a waiter's line has "->" and no match.
        std::istringstream fields(line);
        std::string index, kind, mode, access, locked;
        long pid = 0;
        if (fields >> index >> kind >> mode >> access >> pid >> locked && kind == "FLOCK" && locked == id && pid > 0)
            return static_cast<pid_t>(pid);
    }
    return -1;
}

PortHolder FromLockFile(const std::string& devicePath)
{
    const std::string base = devicePath.substr(devicePath.rfind('/') + 1);
    for (const char* dir : {"/var/lock/", "/run/lock/"}) {
        std::ifstream in(std::string(dir) + "LCK.." + base);
        long pid = 0;
        if (in >> pid && pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM))
            return {static_cast<pid_t>(pid), CommandName(static_cast<pid_t>(pid))};
    }
    return {};
}

} // namespace

OpenRefusal ClassifyOpenError(int systemError)
{
    switch (systemError) {
    case EACCES:
    case EPERM: return OpenRefusal::Permission;
    case EBUSY: return OpenRefusal::Busy;
    case ENOENT:
    case ENODEV:
    case ENXIO: return OpenRefusal::Missing;
    default: return OpenRefusal::Other;
    }
}

std::string ShownPortName(const std::string& portName) { return DevicePath(portName); }

PortHolder FindPortHolder(const std::string& devicePath)
{
    struct stat device{};
    if (::stat(devicePath.c_str(), &device) != 0 || !S_ISCHR(device.st_mode))
        return {};
    // Others may have it open too (a program that only watches it); the lock's
    // holder is the one that keeps the station out.
    if (const pid_t locker = LockHolder(device); locker > 0 && (::kill(locker, 0) == 0 || errno == EPERM))
        return {locker, CommandName(locker)};
    // Our own process last: a port held by this very program (both modems on
    // one port) is told as such, but another holder is the likelier news.
    const std::string self = std::to_string(::getpid());
    bool selfHolds = false;
    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* e = ::readdir(proc)) {
            if (!IsNumber(e->d_name))
                continue;
            if (e->d_name == self) {
                selfHolds = HoldsDevice(self, device.st_rdev);
                continue;
            }
            if (HoldsDevice(e->d_name, device.st_rdev)) {
                const pid_t pid = static_cast<pid_t>(std::atol(e->d_name));
                ::closedir(proc);
                return {pid, CommandName(pid)};
            }
        }
        ::closedir(proc);
    }
    if (selfHolds)
        return {::getpid(), CommandName(::getpid())};
    return FromLockFile(devicePath);
}

std::string DeviceGroup(const std::string& devicePath)
{
    struct stat st{};
    if (::stat(devicePath.c_str(), &st) != 0)
        return {};
    const group* g = ::getgrgid(st.st_gid);
    return g ? g->gr_name : std::string();
}

std::string CurrentUserName()
{
    const passwd* pw = ::getpwuid(::geteuid());
    return pw ? pw->pw_name : std::string();
}

} // namespace kv::comport
