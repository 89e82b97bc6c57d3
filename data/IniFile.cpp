#include "data/IniFile.h"

#include "data/AtomicFile.h"
#include "data/FilePlatform.h"

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace kv {

namespace {

std::string Trim(const std::string& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r'))
        --e;
    return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

enum class FileState { Missing, Read, Unreadable };

// A folder of the file's name or an I/O error reads as Unreadable: the stream
// would throw from inside the read, and no caller may be stopped by that.
std::vector<std::string> ReadLines(const std::string& path, FileState& state)
{
    std::vector<std::string> lines;
    const int fd = files::Open(path, O_RDONLY);
    if (fd < 0) {
        state = errno == ENOENT ? FileState::Missing : FileState::Unreadable;
        return lines;
    }
    std::string all;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            state = FileState::Unreadable;
            return lines;
        }
        if (n == 0)
            break;
        all.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    state = FileState::Read;
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t nl = all.find('\n', start);
        if (nl == std::string::npos)
            nl = all.size();
        std::string line = all.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = nl + 1;
    }
    return lines;
}

// Section name when the line is a header.
std::optional<std::string> SectionOf(const std::string& line)
{
    const std::string t = Trim(line);
    if (t.size() >= 2 && t.front() == '[' && t.back() == ']')
        return Trim(t.substr(1, t.size() - 2));
    return std::nullopt;
}

bool KeyValue(const std::string& line, std::string& key, std::string& value)
{
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos)
        return false;
    key = Trim(line.substr(0, eq));
    value = Trim(line.substr(eq + 1));
    return !key.empty() && key[0] != ';';
}

} // namespace

std::optional<std::string> IniFile::Read(const std::string& section, const std::string& key) const
{
    FileState state = FileState::Missing;
    const std::vector<std::string> lines = ReadLines(m_path, state);
    bool inSection = false;
    for (const std::string& line : lines) {
        if (auto s = SectionOf(line)) {
            inSection = SameName(*s, section);
            continue;
        }
        std::string k, v;
        if (inSection && KeyValue(line, k, v) && SameName(k, key))
            return v;
    }
    return std::nullopt;
}

bool IniFile::Readable() const
{
    FileState state = FileState::Missing;
    ReadLines(m_path, state);
    return state != FileState::Unreadable;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key, const std::string& fallback) const
{
    auto v = Read(section, key);
    return v ? *v : fallback;
}

void IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) const
{
    FileState state = FileState::Missing;
    std::vector<std::string> lines = ReadLines(m_path, state);
    // Writing over a file that could not be read would lose its other keys.
    if (state == FileState::Unreadable)
        throw std::runtime_error("Cannot read file " + m_path);
    const std::string newLine = key + "=" + value;
    bool inSection = false, sectionFound = false, written = false;
    std::size_t insertAt = lines.size();
    for (std::size_t i = 0; i < lines.size() && !written; ++i) {
        if (auto s = SectionOf(lines[i])) {
            if (inSection)
                break; // end of our section: insert after its last line

            inSection = SameName(*s, section);
            if (inSection) {
                sectionFound = true;
                insertAt = i + 1;
            }
            continue;
        }
        std::string k, v;
        if (inSection) {
            if (KeyValue(lines[i], k, v) && SameName(k, key)) {
                lines[i] = newLine;
                written = true;
            } else if (!Trim(lines[i]).empty()) {
                insertAt = i + 1;
            }
        }
    }
    if (!written) {
        if (sectionFound) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), newLine);
        } else {
            if (!lines.empty() && !Trim(lines.back()).empty())
                lines.emplace_back();
            lines.push_back("[" + section + "]");
            lines.push_back(newLine);
        }
    }
    std::string out;
    for (const std::string& l : lines) {
        out += l;
        out += "\r\n";
    }
    AtomicFileWriter file(m_path);
    if (!file.Open())
        throw std::runtime_error("Cannot create file " + m_path);
    if (!file.Write(out.data(), out.size()) || !file.Commit())
        throw std::runtime_error("Cannot write file " + m_path);
}

} // namespace kv
