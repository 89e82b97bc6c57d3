#pragma once
// Replaces a file as a whole: the new content goes to a temporary file in the
// same folder, is flushed to disk and renamed over the old file. Until the
// rename the old file is untouched, so a failed save never destroys the last
// good one; the temporary file is removed on failure.
#include <cstddef>
#include <string>

namespace kv {

class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::string target);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Creates the temporary file; false when the folder does not allow it.
    bool Open();
    // Writes everything or fails.
    bool Write(const void* data, std::size_t size);
    // Flushes, closes and renames over the target; false on any failure.
    bool Commit();
    // Drops the temporary file (also done by the destructor unless committed).
    void Abandon();

    const std::string& TemporaryPath() const { return m_temp; }

private:
    std::string m_target;
    std::string m_temp;
    int m_fd = -1;
};

// Station files hold the operators' password hashes and every SMS with its
// sender: their owner alone reads them, whatever the umask.
inline constexpr unsigned kPrivateFileMode = 0600;
inline constexpr unsigned kPrivateFolderMode = 0700;
// An existing regular file of this user is narrowed to 0600 (older stations
// made them 0644); anything else is left alone. False when chmod failed.
bool MakePrivate(const std::string& path);
// Creates the folder and its missing parents 0700, and narrows the folder
// itself (the station's own) to 0700. False when it is not a folder after.
bool MakePrivateFolder(const std::string& path);

// The folder a file name lies in ("." for a bare name).
std::string FolderOf(const std::string& path);
// Writes every byte, going on after interruptions; false on an error.
bool WriteAll(int fd, const void* data, std::size_t size);
// Makes a file's creation, renaming or removal in its folder durable.
void SyncFolderOf(const std::string& path);

// A table file that could not be loaded would be overwritten by the next save:
// it is moved aside as "<file><suffix>" (then "<file><suffix>2", ...) so that
// nothing the operator had is lost. Missing and empty files stay as they are.
void KeepAside(const std::string& fileName, const std::string& suffix = ".damaged");

} // namespace kv
