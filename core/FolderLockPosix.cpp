#include "core/FolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kv {

bool LockWorkingFolder()
{
    // Left open on purpose: closing the descriptor would release the lock.
    const int fd = ::open("korvalen.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

} // namespace kv
