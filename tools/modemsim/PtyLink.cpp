#include "tools/modemsim/PtyLink.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace kv::modemsim {

bool PtyLink::Open(std::string& error)
{
    Close();
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        error = std::string("posix_openpt: ") + std::strerror(errno);
        return false;
    }
    char name[128] = {};
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        error = std::string("pseudo-terminal set-up: ") + std::strerror(errno);
        ::close(master);
        return false;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        error = std::string("open ") + name + ": " + std::strerror(errno);
        ::close(master);
        return false;
    }
    // Raw line: no echo, no CR/LF translation, no signals from ^C or ^Z, so every
    // byte passes through as the modem and the station wrote it.
    termios tio{};
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, B115200);
        cfsetospeed(&tio, B115200);
        tcsetattr(slave, TCSANOW, &tio);
    }
    const int flags = fcntl(master, F_GETFL);
    fcntl(master, F_SETFL, flags | O_NONBLOCK);
    m_master = master;
    m_slaveKeeper = slave;
    m_slavePath = name;
    return true;
}

void PtyLink::Close()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_slaveKeeper >= 0)
        ::close(m_slaveKeeper);
    m_master = -1;
    m_slaveKeeper = -1;
    m_slavePath.clear();
}

} // namespace kv::modemsim
