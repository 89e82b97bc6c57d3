#pragma once
// The table file format: signature "TPF0", format number, field definitions,
// index definitions and records as tagged values. Writes format 251; reads
// every format from 100 on. `frmbin` on every window is one of these.
//
// The reader trusts nothing: each length is checked against the bytes left in
// the file before anything is allocated, and every failure ends in one of the
// messages below (an ETableFileError), never in a crash.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kv {

class MemTable;

// "Cannot open file %s", "Invalid stream format", "Stream read error",
// "Invalid property value", "Unknown field type (%s)",
// "Couldnt determine field count for load.", "Cannot create file %s",
// "Stream write error".
class ETableFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Settings, named as the windows declare them; all set by default.
enum TableFormatOption : std::uint32_t {
    sfSaveData = 1u << 0,
    sfLoadData = 1u << 1,
    sfSaveNonVisible = 1u << 2,
    sfLoadNonVisible = 1u << 3,
    sfSaveBlobs = 1u << 4,
    sfLoadBlobs = 1u << 5,
    sfSaveDef = 1u << 6,
    sfLoadDef = 1u << 7,
    sfSaveIndexDef = 1u << 8,
    sfLoadIndexDef = 1u << 9,
    sfSaveFiltered = 1u << 10,
    sfSaveIgnoreRange = 1u << 11,
    sfSaveIgnoreMasterDetail = 1u << 12,
    sfSaveFieldKind = 1u << 13,
    sfSaveUsingIndex = 1u << 14,
    sfLoadFromStart = 1u << 15,
};
inline constexpr std::uint32_t kAllTableFormatOptions = (1u << 16) - 1;

class TableFormat {
public:
    static constexpr int kFormatNumber = 251;
    static constexpr std::size_t kMinBufferSize = 16384;

    std::string_view Version() const { return "3.00"; }
    std::uint32_t Options() const { return m_options; }
    void SetOptions(std::uint32_t options) { m_options = options; }
    std::size_t BufferSize() const { return m_bufferSize; }
    // A smaller setting is raised to 16384.
    void SetBufferSize(std::size_t size) { m_bufferSize = size < kMinBufferSize ? kMinBufferSize : size; }

    // Writes a temporary file beside `fileName`, flushes it to disk and renames
    // it over the old file: a failed save leaves the old file as it was.
    void Save(const MemTable& table, const std::string& fileName) const;
    // Replaces the table's fields, index definitions and records with the file's.
    // On failure the records and fields read so far stay.
    void Load(MemTable& table, const std::string& fileName) const;

    // The same, to and from memory.
    std::string SaveToBytes(const MemTable& table) const;
    void LoadFromBytes(MemTable& table, std::string_view bytes) const;

    // The byte source and sink behind the two (defined with the format).
    class Reader;
    class Writer;

private:
    void Write(const MemTable& table, Writer& out) const;
    void Read(MemTable& table, Reader& in) const;

    std::uint32_t m_options = kAllTableFormatOptions;
    std::size_t m_bufferSize = kMinBufferSize;
};

} // namespace kv
