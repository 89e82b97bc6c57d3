#include "data/FilePlatform.h"

#include "data/AtomicFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace kv::files {

int Open(const std::string& path, int flags, unsigned mode) { return ::open(path.c_str(), flags | kOpenFlags, mode); }

int SyncFile(int fd) { return ::fsync(fd); }

int SyncData(int fd) { return ::fdatasync(fd); }

void SyncFolder(const std::string& folder)
{
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
}

int RenameOver(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()); }

std::string ResolveLink(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved))
        return path;
    return resolved;
}

bool NameTaken(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

void NarrowMode(int fd, unsigned mode) { (void)::fchmod(fd, mode); }

bool ModifiedAt(int fd, std::time_t& seconds, int& milliseconds)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    seconds = st.st_mtim.tv_sec;
    milliseconds = static_cast<int>(st.st_mtim.tv_nsec / 1000000);
    return true;
}

} // namespace kv::files

namespace kv {

bool MakePrivate(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 07777) == kPrivateFileMode)
        return true;
    return ::chmod(path.c_str(), kPrivateFileMode) == 0;
}

bool MakePrivateFolder(const std::string& path)
{
    if (path.empty())
        return false;
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), kPrivateFolderMode) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    if ((st.st_mode & 07777) != kPrivateFolderMode && st.st_uid == ::geteuid())
        (void)::chmod(path.c_str(), kPrivateFolderMode);
    return true;
}

} // namespace kv
