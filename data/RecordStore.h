#pragma once
// Compact record storage shared by MemTable and the table file reader.
//
// A record is one heap block: an 8-byte header and the packed values
//   [null bits][fixed slots: int32 / double / bool][end offset of each text][text bytes]
// so a journal row costs little more than its text. An edit that outgrows the
// block moves the values to a second block; the record (and its handle) stays.
#include "data/MemTable.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace kv::detail {

enum class Storage : std::uint8_t { Int32, Float64, Bool, Text };

Storage StorageOf(FieldType type);

struct FieldSlot {
    Storage storage = Storage::Text;
    std::uint32_t offset = 0;   // fixed storage: byte offset in the fixed area; text: index among texts
    std::uint32_t width = 0;    // text cut in bytes, 0 = none
    bool endsAtZero = false;    // string kinds stop at a zero byte
    bool fourDecimals = false;  // currency kinds
};

struct RecordLayout {
    std::vector<FieldSlot> slots;
    std::uint32_t nullBytes = 0, fixedBytes = 0, textCount = 0;

    std::uint32_t FixedStart() const { return nullBytes; }
    std::uint32_t EndsStart() const { return nullBytes + fixedBytes; }
    std::uint32_t TextStart() const { return nullBytes + fixedBytes + 4 * textCount; }
    void Build(const std::vector<FieldDef>& fields);
};

class Record {
public:
    static Record* Create(const unsigned char* data, std::size_t size);
    static void Destroy(Record* record) noexcept;
    const unsigned char* Data() const noexcept
    {
        if (m_capacity & kExternal) {
            unsigned char* p;
            std::memcpy(&p, Inline(), sizeof p);
            return p;
        }
        return Inline();
    }
    std::uint32_t Size() const noexcept { return m_size; }
    // Replaces the values; keeps the record where it is.
    void Assign(const unsigned char* data, std::size_t size);

private:
    static constexpr std::uint32_t kExternal = 0x80000000u;
    static constexpr std::uint32_t kMinInline = sizeof(void*);
    Record() = default;
    const unsigned char* Inline() const noexcept { return reinterpret_cast<const unsigned char*>(this + 1); }
    unsigned char* Inline() noexcept { return reinterpret_cast<unsigned char*>(this + 1); }

    std::uint32_t m_size = 0;
    std::uint32_t m_capacity = 0;   // bytes available; top bit: values live in an external block
};
static_assert(sizeof(Record) == 8);

inline bool IsNullIn(const unsigned char* d, int field)
{
    return (d[field >> 3] >> (field & 7)) & 1;
}

inline std::int32_t Int32In(const RecordLayout& l, const unsigned char* d, int field)
{
    std::int32_t v;
    std::memcpy(&v, d + l.FixedStart() + l.slots[field].offset, sizeof v);
    return v;
}

inline double Float64In(const RecordLayout& l, const unsigned char* d, int field)
{
    double v;
    std::memcpy(&v, d + l.FixedStart() + l.slots[field].offset, sizeof v);
    return v;
}

inline bool BoolIn(const RecordLayout& l, const unsigned char* d, int field)
{
    return d[l.FixedStart() + l.slots[field].offset] != 0;
}

inline std::string_view TextIn(const RecordLayout& l, const unsigned char* d, int field)
{
    const std::uint32_t k = l.slots[field].offset;
    const unsigned char* ends = d + l.EndsStart();
    std::uint32_t end, begin = 0;
    std::memcpy(&end, ends + 4 * k, 4);
    if (k > 0)
        std::memcpy(&begin, ends + 4 * (k - 1), 4);
    return {reinterpret_cast<const char*>(d + l.TextStart() + begin), end - begin};
}

// Packs one record, field by field in field order (texts must come in order).
class RecordBuilder {
public:
    void Start(const RecordLayout& layout);
    void SetNull(int field);   // only for fields not yet set
    void SetInt32(int field, std::int32_t v);
    void SetFloat64(int field, double v);
    void SetBool(int field, bool v);
    // Appends a text value; cuts it as the field demands.
    void SetText(int field, std::string_view v);
    // For readers that copy text in pieces: reserve room, fill it, then say
    // how much of it holds the value. Texts must come in field order.
    unsigned char* BeginText(int field, std::size_t maxBytes);
    void EndText(int field, std::size_t written);
    // Closes the texts never set (they stay null); then the bytes are final.
    void Finish();
    const unsigned char* Data() const { return m_bytes.data(); }
    std::size_t Size() const { return m_bytes.size(); }
    Record* Create()
    {
        Finish();
        return Record::Create(m_bytes.data(), m_bytes.size());
    }

private:
    void SetFixed(int field, const void* v, std::size_t n);
    void CloseTextsBefore(std::uint32_t textIndex);
    const RecordLayout* m_layout = nullptr;
    std::vector<unsigned char> m_bytes;
    std::uint32_t m_nextText = 0;
    std::size_t m_pendingAt = 0;
};

} // namespace kv::detail
