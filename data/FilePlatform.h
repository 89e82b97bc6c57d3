#pragma once
// The operating system's side of the station's files (FilePlatformPosix.cpp,
// FilePlatformWin32.cpp). Station files are bytes: on Windows a descriptor in
// text mode would add CR to every LF and stop reading at ^Z, and a plain
// rename cannot replace an existing file.
#include <fcntl.h>

#include <ctime>
#include <string>

namespace kv::files {

// Added to every open: binary and not inherited by child processes.
#ifdef _WIN32
inline constexpr int kOpenFlags = O_BINARY | O_NOINHERIT;
#else
inline constexpr int kOpenFlags = O_CLOEXEC;
#endif

// ::open with kOpenFlags; -1 with errno set on failure.
int Open(const std::string& path, int flags, unsigned mode = 0);
// Data and metadata, or the data alone, down to the disk; 0 or -1 with errno.
int SyncFile(int fd);
int SyncData(int fd);
// Makes a creation, rename or removal in the folder durable (Windows: the
// rename was written through already).
void SyncFolder(const std::string& folder);
// Renames over an existing file in one step; -1 with errno on failure.
int RenameOver(const std::string& from, const std::string& to);
// The file a symbolic link points to; any other path as it is.
std::string ResolveLink(const std::string& path);
// Whether something, a dangling link too, has this name.
bool NameTaken(const std::string& path);
// Narrows an open file to the mode (POSIX; Windows keeps the folder's access list).
void NarrowMode(int fd, unsigned mode);
// When the file was last written, in seconds and milliseconds since 1970.
bool ModifiedAt(int fd, std::time_t& seconds, int& milliseconds);

} // namespace kv::files
