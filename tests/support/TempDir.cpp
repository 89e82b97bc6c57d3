#include "tests/support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace kv::test {

TempDir::TempDir()
{
    m_previous = std::filesystem::current_path();
#ifdef _WIN32
    std::random_device random;
    for (int attempt = 0; m_path.empty(); ++attempt) {
        const auto candidate = std::filesystem::temp_directory_path() / ("korvalen-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate))
            m_path = candidate;
        else if (attempt > 100)
            throw std::runtime_error("no temporary folder");
    }
#else
    std::string pattern = (std::filesystem::temp_directory_path() / "korvalen-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
#endif
    std::filesystem::current_path(m_path);
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::current_path(m_previous, ec);
    std::filesystem::remove_all(m_path, ec);
}

std::string ReadFileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace kv::test
