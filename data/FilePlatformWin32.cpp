#include "data/FilePlatform.h"

#include "data/AtomicFile.h"

#include <cerrno>
#include <direct.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// The tables and journals are read by their stat size and cut by ftruncate.
static_assert(sizeof(off_t) == 8 && sizeof(static_cast<struct stat*>(nullptr)->st_size) == 8,
              "the build must ask for 64-bit file offsets");

namespace kv::files {

// File names are in the ANSI code page, as the C library's open takes them.
std::wstring Wide(const std::string& text)
{
    if (text.empty())
        return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

namespace {

int ErrnoOf(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_WRITE_PROTECT: return EROFS;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    default: return EIO;
    }
}

int Flush(int fd)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return -1;
    }
    if (!FlushFileBuffers(handle)) {
        errno = ErrnoOf(GetLastError());
        return -1;
    }
    return 0;
}

} // namespace

int Open(const std::string& path, int flags, unsigned mode)
{
    // The C library knows read and write permission only.
    const int pmode = (mode & 0400 ? _S_IREAD : 0) | (mode & 0200 ? _S_IWRITE : 0);
    return ::_open(path.c_str(), flags | kOpenFlags, pmode ? pmode : _S_IREAD | _S_IWRITE);
}

int SyncFile(int fd) { return Flush(fd); }

int SyncData(int fd) { return Flush(fd); }

void SyncFolder(const std::string&) {}

int RenameOver(const std::string& from, const std::string& to)
{
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    errno = ErrnoOf(GetLastError());
    return -1;
}

std::string ResolveLink(const std::string& path) { return path; }

bool NameTaken(const std::string& path) { return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

void NarrowMode(int, unsigned) {}

bool ModifiedAt(int fd, std::time_t& seconds, int& milliseconds)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    FILETIME written{};
    if (handle == INVALID_HANDLE_VALUE || !GetFileTime(handle, nullptr, nullptr, &written))
        return false;
    // 100 ns intervals since 1601-01-01.
    const unsigned long long ticks =
        (static_cast<unsigned long long>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
    constexpr unsigned long long kTicksTo1970 = 116444736000000000ULL;
    if (ticks < kTicksTo1970)
        return false;
    seconds = static_cast<std::time_t>((ticks - kTicksTo1970) / 10000000ULL);
    milliseconds = static_cast<int>((ticks - kTicksTo1970) / 10000ULL % 1000ULL);
    return true;
}

} // namespace kv::files

namespace kv {

// Windows gives a new file the access list of its folder, the user's own
// profile for the station's data; there is no mode to narrow.
bool MakePrivate(const std::string&) { return true; }

bool MakePrivateFolder(const std::string& path)
{
    if (path.empty())
        return false;
    for (std::size_t slash = path.find_first_of("/\\", 1);; slash = path.find_first_of("/\\", slash + 1)) {
        const std::string part = path.substr(0, slash);
        // "C:" alone is a drive, not a folder to make.
        const bool drive = part.size() == 2 && part[1] == ':';
        if (!drive && ::_mkdir(part.c_str()) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
    }
    const DWORD attributes = GetFileAttributesW(files::Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace kv
