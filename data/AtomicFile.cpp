#include "data/AtomicFile.h"

#include <atomic>
#include <cstdio>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace kv {

namespace {

std::atomic<unsigned> g_sequence{0};

// Saving through a symbolic link replaces the file it points to, not the link.
std::string ResolveLink(const std::string& path)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved))
        return path;
    return resolved;
}

} // namespace

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

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

void SyncFolderOf(const std::string& path)
{
    const int dir = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
}

AtomicFileWriter::AtomicFileWriter(std::string target) : m_target(ResolveLink(target)) {}

AtomicFileWriter::~AtomicFileWriter()
{
    Abandon();
}

bool AtomicFileWriter::Open()
{
    Abandon();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = m_target + ".~" + std::to_string(getpid()) + "-" + std::to_string(g_sequence++);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode);
        if (fd >= 0) {
            // An unusual umask must not leave the owner unable to read it back.
            (void)::fchmod(fd, kPrivateFileMode);
            m_fd = fd;
            m_temp = std::move(name);
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool AtomicFileWriter::Write(const void* data, std::size_t size)
{
    return m_fd >= 0 && WriteAll(m_fd, data, size);
}

bool AtomicFileWriter::Commit()
{
    if (m_fd < 0)
        return false;
    const bool synced = ::fsync(m_fd) == 0;
    const bool closed = ::close(m_fd) == 0;
    m_fd = -1;
    if (!synced || !closed || ::rename(m_temp.c_str(), m_target.c_str()) != 0) {
        Abandon();
        return false;
    }
    m_temp.clear();
    // The rename itself must reach the disk too.
    SyncFolderOf(m_target);
    return true;
}

void AtomicFileWriter::Abandon()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temp.empty()) {
        ::unlink(m_temp.c_str());
        m_temp.clear();
    }
}

void KeepAside(const std::string& fileName, const std::string& suffix)
{
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
        return;
    for (int n = 1; n < 1000; ++n) {
        const std::string aside = fileName + suffix + (n == 1 ? std::string() : std::to_string(n));
        struct stat existing {};
        if (::lstat(aside.c_str(), &existing) == 0)
            continue;
        (void)std::rename(fileName.c_str(), aside.c_str());
        return;
    }
}

} // namespace kv
