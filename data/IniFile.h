#pragma once
// Plain INI files ("config.ini", "user.ini"): [Section] headers and key=value
// lines, bytes kept as they are (code page 1251). Section and key names match
// without regard to ASCII letter case; blanks around names and values are
// ignored; lines that are neither are left alone and otherwise ignored.
#include <optional>
#include <string>

namespace kv {

class IniFile {
public:
    explicit IniFile(std::string path) : m_path(std::move(path)) {}

    // Empty optional when the file, the section or the key is missing, and
    // when the file cannot be read (a folder of that name, an I/O error).
    std::optional<std::string> Read(const std::string& section, const std::string& key) const;
    std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback) const;
    // Creates the file and the section when missing; the rest of the file is
    // kept. Written to a temporary file and renamed over the old one.
    // Throws std::runtime_error when the file cannot be written, or exists
    // and cannot be read (its other keys would be lost).
    void WriteString(const std::string& section, const std::string& key, const std::string& value) const;

    // False when the file exists but cannot be read.
    bool Readable() const;

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

} // namespace kv
