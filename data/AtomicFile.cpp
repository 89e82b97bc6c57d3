#include "data/AtomicFile.h"

#include "data/FilePlatform.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace kv {

namespace {
std::atomic<unsigned> g_sequence{0};
} // namespace

std::string FolderOf(const std::string& path)
{
    // Both separators: a folder named in an INI file written on Windows, or
    // read there, splits the same way.
    const std::size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return path.substr(0, 1);
    if (slash == 2 && path[1] == ':')
        return path.substr(0, 3); // a drive's root, "C:\\"
    return path.substr(0, slash);
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

void SyncFolderOf(const std::string& path) { files::SyncFolder(FolderOf(path)); }

AtomicFileWriter::AtomicFileWriter(std::string target) : m_target(files::ResolveLink(target)) {}

AtomicFileWriter::~AtomicFileWriter()
{
    Abandon();
}

bool AtomicFileWriter::Open()
{
    Abandon();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = m_target + ".~" + std::to_string(getpid()) + "-" + std::to_string(g_sequence++);
        const int fd = files::Open(name, O_WRONLY | O_CREAT | O_EXCL, kPrivateFileMode);
        if (fd >= 0) {
            // An unusual umask must not leave the owner unable to read it back.
            files::NarrowMode(fd, kPrivateFileMode);
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
    const bool synced = files::SyncFile(m_fd) == 0;
    const bool closed = ::close(m_fd) == 0;
    m_fd = -1;
    if (!synced || !closed || files::RenameOver(m_temp, m_target) != 0) {
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
        if (files::NameTaken(aside))
            continue;
        (void)std::rename(fileName.c_str(), aside.c_str());
        return;
    }
}

} // namespace kv
