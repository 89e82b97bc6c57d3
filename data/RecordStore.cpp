#include "data/RecordStore.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <new>

namespace kv::detail {

Storage StorageOf(FieldType type)
{
    switch (type) {
    case FieldType::SmallInt:
    case FieldType::Integer:
    case FieldType::Word:
    case FieldType::AutoInc:
        return Storage::Int32;
    case FieldType::Boolean:
        return Storage::Bool;
    case FieldType::Float:
    case FieldType::Currency:
    case FieldType::BCD:
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::DateTime:
    case FieldType::LargeInt:
        return Storage::Float64;
    default:
        return Storage::Text;
    }
}

void RecordLayout::Build(const std::vector<FieldDef>& fields)
{
    slots.assign(fields.size(), FieldSlot{});
    nullBytes = static_cast<std::uint32_t>((fields.size() + 7) / 8);
    fixedBytes = 0;
    textCount = 0;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        FieldSlot& s = slots[i];
        s.storage = StorageOf(fields[i].type);
        switch (s.storage) {
        case Storage::Int32:
            s.offset = fixedBytes;
            fixedBytes += 4;
            break;
        case Storage::Float64:
            s.offset = fixedBytes;
            fixedBytes += 8;
            s.fourDecimals = fields[i].type == FieldType::Currency || fields[i].type == FieldType::BCD;
            break;
        case Storage::Bool:
            s.offset = fixedBytes;
            fixedBytes += 1;
            break;
        case Storage::Text: {
            s.offset = textCount++;
            const bool fixedWidth = fields[i].type == FieldType::String || fields[i].type == FieldType::FixedChar ||
                                    fields[i].type == FieldType::WideString;
            s.endsAtZero = fixedWidth;
            s.width = fixedWidth && fields[i].size > 0 ? static_cast<std::uint32_t>(fields[i].size) : 0;
            break;
        }
        }
    }
}

Record* Record::Create(const unsigned char* data, std::size_t size)
{
    if (size > std::numeric_limits<std::int32_t>::max())
        throw std::length_error("record too large");
    const std::size_t capacity = std::max<std::size_t>(size, kMinInline);
    void* block = std::malloc(sizeof(Record) + capacity);
    if (!block)
        throw std::bad_alloc();
    Record* r = new (block) Record;
    r->m_size = static_cast<std::uint32_t>(size);
    r->m_capacity = static_cast<std::uint32_t>(capacity);
    if (size)
        std::memcpy(r->Inline(), data, size);
    return r;
}

void Record::Destroy(Record* record) noexcept
{
    if (!record)
        return;
    if (record->m_capacity & kExternal)
        std::free(const_cast<unsigned char*>(record->Data()));
    record->~Record();
    std::free(record);
}

void Record::Assign(const unsigned char* data, std::size_t size)
{
    if (size > std::numeric_limits<std::int32_t>::max())
        throw std::length_error("record too large");
    const std::uint32_t capacity = m_capacity & ~kExternal;
    if (size <= capacity) {
        std::memmove(const_cast<unsigned char*>(Data()), data, size);
        m_size = static_cast<std::uint32_t>(size);
        return;
    }
    unsigned char* fresh = static_cast<unsigned char*>(std::malloc(size));
    if (!fresh)
        throw std::bad_alloc();
    std::memcpy(fresh, data, size);
    if (m_capacity & kExternal)
        std::free(const_cast<unsigned char*>(Data()));
    std::memcpy(Inline(), &fresh, sizeof fresh);
    m_size = static_cast<std::uint32_t>(size);
    m_capacity = static_cast<std::uint32_t>(size) | kExternal;
}

void RecordBuilder::Start(const RecordLayout& layout)
{
    m_layout = &layout;
    m_bytes.assign(layout.TextStart(), 0);
    std::memset(m_bytes.data(), 0xFF, layout.nullBytes);
    m_nextText = 0;
}

void RecordBuilder::SetNull(int field)
{
    m_bytes[static_cast<std::size_t>(field) >> 3] |= static_cast<unsigned char>(1u << (field & 7));
}

void RecordBuilder::SetFixed(int field, const void* v, std::size_t n)
{
    m_bytes[static_cast<std::size_t>(field) >> 3] &= static_cast<unsigned char>(~(1u << (field & 7)));
    std::memcpy(m_bytes.data() + m_layout->FixedStart() + m_layout->slots[field].offset, v, n);
}

void RecordBuilder::SetInt32(int field, std::int32_t v)
{
    SetFixed(field, &v, sizeof v);
}

void RecordBuilder::SetFloat64(int field, double v)
{
    SetFixed(field, &v, sizeof v);
}

void RecordBuilder::SetBool(int field, bool v)
{
    const unsigned char b = v ? 1 : 0;
    SetFixed(field, &b, 1);
}

void RecordBuilder::CloseTextsBefore(std::uint32_t textIndex)
{
    const std::uint32_t length = static_cast<std::uint32_t>(m_bytes.size() - m_layout->TextStart());
    for (; m_nextText < textIndex; ++m_nextText)
        std::memcpy(m_bytes.data() + m_layout->EndsStart() + 4 * m_nextText, &length, 4);
}

void RecordBuilder::SetText(int field, std::string_view v)
{
    const FieldSlot& s = m_layout->slots[field];
    if (s.endsAtZero) {
        const void* zero = std::memchr(v.data(), 0, v.size());
        if (zero)
            v = v.substr(0, static_cast<std::size_t>(static_cast<const char*>(zero) - v.data()));
    }
    if (s.width && v.size() > s.width)
        v = v.substr(0, s.width);
    unsigned char* out = BeginText(field, v.size());
    if (!v.empty())
        std::memcpy(out, v.data(), v.size());
    EndText(field, v.size());
}

unsigned char* RecordBuilder::BeginText(int field, std::size_t maxBytes)
{
    CloseTextsBefore(m_layout->slots[field].offset);
    m_pendingAt = m_bytes.size();
    m_bytes.resize(m_pendingAt + maxBytes);
    return m_bytes.data() + m_pendingAt;
}

void RecordBuilder::EndText(int field, std::size_t written)
{
    const FieldSlot& s = m_layout->slots[field];
    m_bytes.resize(m_pendingAt + written);
    m_bytes[static_cast<std::size_t>(field) >> 3] &= static_cast<unsigned char>(~(1u << (field & 7)));
    const std::uint32_t end = static_cast<std::uint32_t>(m_bytes.size() - m_layout->TextStart());
    std::memcpy(m_bytes.data() + m_layout->EndsStart() + 4 * s.offset, &end, 4);
    m_nextText = s.offset + 1;
}

void RecordBuilder::Finish()
{
    CloseTextsBefore(m_layout->textCount);
}

} // namespace kv::detail
