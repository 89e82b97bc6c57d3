#pragma once
// A fresh temporary folder that becomes the current directory for the test's
// lifetime (table files are opened by bare name), removed afterwards.
#include <filesystem>
#include <string>

namespace kv::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
    std::filesystem::path m_previous;
};

// Whole file as bytes; empty when missing.
std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

} // namespace kv::test
