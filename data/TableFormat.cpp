#include "data/TableFormat.h"

#include "data/AtomicFile.h"
#include "data/FilePlatform.h"
#include "data/Extended80.h"
#include "data/MemTable.h"
#include "data/RecordStore.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kv {

using detail::Record;
using detail::RecordBuilder;
using detail::RecordLayout;
using detail::Storage;

namespace {

enum Tag : unsigned char {
    kEndOfList = 0x00,
    kBeginList = 0x01,
    kInt8 = 0x02,
    kInt16 = 0x03,
    kInt32 = 0x04,
    kReal = 0x05,
    kString = 0x06,
    kFalse = 0x08,
    kTrue = 0x09,
    kLongString = 0x0C,
};

constexpr char kSignature[4] = {'T', 'P', 'F', '0'};

// Layout parts by the format number that introduced them.
constexpr int kIndexDefsFrom = 200;
constexpr int kRecordListsFrom = 230;
constexpr int kNullFlagsFrom = 249;
constexpr int kFieldKindFrom = 250;
constexpr int kDefaultExpressionFrom = 251;

[[noreturn]] void Fail(const std::string& message)
{
    throw ETableFileError(message);
}

[[noreturn]] void ReadError()
{
    Fail("Stream read error");
}

[[noreturn]] void InvalidValue()
{
    Fail("Invalid property value");
}

bool AcceptedType(int code)
{
    return (code >= 1 && code <= 21) || code == 23 || (code >= 25 && code <= 27);
}

int TypeCode(std::string_view name)
{
    for (int i = 0; i < kFieldTypeCount; ++i)
        if (FieldTypeName(static_cast<FieldType>(i)) == name)
            return i;
    return -1;
}

FieldKind KindOf(std::string_view name)
{
    for (int i = 0; i < 5; ++i)
        if (FieldKindName(static_cast<FieldKind>(i)) == name)
            return static_cast<FieldKind>(i);
    return FieldKind::Data;
}

bool IsDateType(FieldType t)
{
    return t == FieldType::Date || t == FieldType::Time || t == FieldType::DateTime;
}

bool Written(const FieldDef& def, std::uint32_t options)
{
    if (!def.HoldsData())
        return false;
    if (!def.visible && !(options & sfSaveNonVisible))
        return false;
    if (IsBlobType(def.type) && !(options & sfSaveBlobs))
        return false;
    return true;
}

struct FileCloser {
    int fd;
    ~FileCloser()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

// ---------------------------------------------------------------- reading

// Bytes of a file (read in blocks of the buffer size) or of memory. Small
// items come out of the buffer directly; only a refill is out of line.
class TableFormat::Reader {
public:
    Reader(int fd, std::uint64_t size, std::size_t bufferSize) : m_fd(fd), m_total(size), m_buffer(bufferSize)
    {
        m_pos = m_end = m_buffer.data();
    }

    explicit Reader(std::string_view bytes) : m_total(bytes.size())
    {
        m_pos = reinterpret_cast<const unsigned char*>(bytes.data());
        m_end = m_pos + bytes.size();
        m_fetched = bytes.size();
    }

    // The next n bytes (n <= 16), consumed.
    const unsigned char* Need(std::size_t n)
    {
        if (static_cast<std::size_t>(m_end - m_pos) < n)
            Refill(n);
        const unsigned char* p = m_pos;
        m_pos += n;
        return p;
    }

    unsigned char Peek()
    {
        if (m_pos == m_end)
            Refill(1);
        return *m_pos;
    }

    // Bytes between here and the end of the file as it was when opened.
    std::uint64_t Left() const
    {
        const std::uint64_t consumed = m_fetched - static_cast<std::uint64_t>(m_end - m_pos);
        return m_total > consumed ? m_total - consumed : 0;
    }

    void Copy(unsigned char* out, std::size_t n)
    {
        while (n > 0) {
            if (m_pos == m_end)
                Refill(1);
            const std::size_t take = std::min(n, static_cast<std::size_t>(m_end - m_pos));
            std::memcpy(out, m_pos, take);
            out += take;
            m_pos += take;
            n -= take;
        }
    }

    void Skip(std::uint64_t n)
    {
        while (n > 0) {
            if (m_pos == m_end)
                Refill(1);
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n, m_end - m_pos));
            m_pos += take;
            n -= take;
        }
    }

private:
    void Refill(std::size_t n)
    {
        if (m_fd < 0)
            ReadError();
        const std::size_t have = static_cast<std::size_t>(m_end - m_pos);
        std::memmove(m_buffer.data(), m_pos, have);
        std::size_t filled = have;
        while (filled < n) {
            const ssize_t got = ::read(m_fd, m_buffer.data() + filled, m_buffer.size() - filled);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                ReadError();
            filled += static_cast<std::size_t>(got);
            m_fetched += static_cast<std::uint64_t>(got);
        }
        m_pos = m_buffer.data();
        m_end = m_pos + filled;
    }

    int m_fd = -1;
    std::uint64_t m_total = 0;
    std::uint64_t m_fetched = 0;
    std::vector<unsigned char> m_buffer;
    const unsigned char* m_pos = nullptr;
    const unsigned char* m_end = nullptr;
};

namespace {

using Reader = TableFormat::Reader;

std::int32_t ReadInteger(Reader& in)
{
    switch (*in.Need(1)) {
    case kInt8:
        return static_cast<std::int8_t>(*in.Need(1));
    case kInt16: {
        const unsigned char* p = in.Need(2);
        return static_cast<std::int16_t>(p[0] | (p[1] << 8));
    }
    case kInt32: {
        const unsigned char* p = in.Need(4);
        return static_cast<std::int32_t>(std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) |
                                         (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24));
    }
    default:
        InvalidValue();
    }
}

std::uint64_t ReadStringLength(Reader& in)
{
    std::uint64_t length = 0;
    switch (*in.Need(1)) {
    case kString:
        length = *in.Need(1);
        break;
    case kLongString: {
        const unsigned char* p = in.Need(4);
        length = std::uint64_t{p[0]} | (std::uint64_t{p[1]} << 8) | (std::uint64_t{p[2]} << 16) |
                 (std::uint64_t{p[3]} << 24);
        break;
    }
    default:
        InvalidValue();
    }
    if (length > in.Left())
        ReadError();
    return length;
}

std::string ReadString(Reader& in)
{
    const std::uint64_t length = ReadStringLength(in);
    std::string s(static_cast<std::size_t>(length), '\0');
    in.Copy(reinterpret_cast<unsigned char*>(s.data()), s.size());
    return s;
}

bool ReadBoolean(Reader& in)
{
    return *in.Need(1) == kTrue;
}

double ReadReal(Reader& in)
{
    switch (in.Peek()) {
    case kReal:
        in.Need(1);
        return ExtendedToDouble(in.Need(10));
    case kInt8:
    case kInt16:
    case kInt32:
        return ReadInteger(in);
    default:
        InvalidValue();
    }
}

void ReadListBegin(Reader& in)
{
    if (*in.Need(1) != kBeginList)
        InvalidValue();
}

bool AtEndOfList(Reader& in)
{
    if (in.Peek() != kEndOfList)
        return false;
    in.Need(1);
    return true;
}

// A record version may take at most this much memory per byte it has in the
// file, plus the slack. Fields the file holds no values for (calculated,
// lookup) still take room in every record, so without a bound a few thousand
// of them would let a file of a megabyte claim gigabytes. Every field with
// values costs at least one byte in the file and at most nine in memory.
constexpr std::uint64_t kMaxRecordExpansion = 16;
constexpr std::uint64_t kRecordSlack = 64;

// Values of one record version, one per data field of the table.
void ReadValues(Reader& in, RecordBuilder& out, const RecordLayout& layout, const std::vector<FieldDef>& fields,
                int format, bool loadBlobs)
{
    const std::uint64_t leftBefore = in.Left();
    out.Start(layout);
    for (int f = 0; f < static_cast<int>(fields.size()); ++f) {
        const FieldDef& def = fields[static_cast<std::size_t>(f)];
        if (!def.HoldsData())
            continue;
        if (format >= kNullFlagsFrom && ReadBoolean(in))
            continue;
        const detail::FieldSlot& slot = layout.slots[static_cast<std::size_t>(f)];
        switch (slot.storage) {
        case Storage::Int32:
            out.SetInt32(f, ReadInteger(in));
            break;
        case Storage::Bool:
            out.SetBool(f, ReadBoolean(in));
            break;
        case Storage::Float64: {
            double v = ReadReal(in);
            if (IsDateType(def.type) && v == 0)
                break;
            if (slot.fourDecimals && std::isfinite(v) && std::fabs(v) < 1e14)
                v = std::round(v * 10000.0) / 10000.0;
            out.SetFloat64(f, v);
            break;
        }
        case Storage::Text: {
            const std::uint64_t length = ReadStringLength(in);
            if (IsBlobType(def.type) && !loadBlobs) {
                in.Skip(length);
                break;
            }
            const std::size_t keep =
                static_cast<std::size_t>(slot.width ? std::min<std::uint64_t>(length, slot.width) : length);
            // A record is at most 2 GB; no station table comes near.
            if (out.Size() + keep > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
                InvalidValue();
            unsigned char* p = out.BeginText(f, keep);
            in.Copy(p, keep);
            std::size_t used = keep;
            if (slot.endsAtZero) {
                if (const void* zero = std::memchr(p, 0, keep))
                    used = static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - p);
            }
            out.EndText(f, used);
            in.Skip(length - keep);
            break;
        }
        }
    }
    out.Finish();
    if (out.Size() > kMaxRecordExpansion * (leftBefore - in.Left()) + kRecordSlack)
        InvalidValue();
}

} // namespace

void TableFormat::Read(MemTable& table, Reader& in) const
{
    const unsigned char* signature = in.Need(4);
    if (std::memcmp(signature, kSignature, 4) != 0)
        Fail("Invalid stream format");
    const int format = in.Peek() == kBeginList ? 100 : ReadInteger(in);
    const bool loadDefs = m_options & sfLoadDef;

    // Once the table is opened for replacing it is handed back usable (empty
    // or with what was read) whatever happens.
    struct Reopen {
        MemTable* table = nullptr;
        bool fieldsPending = false;
        ~Reopen()
        {
            if (!table)
                return;
            try {
                if (fieldsPending)
                    table->FieldsReplaced();
                table->EndReplace();
            } catch (...) {
            }
        }
    } reopen;

    ReadListBegin(in);
    while (!AtEndOfList(in)) {
        if (!reopen.table) {
            table.BeginReplace();
            reopen.table = &table;
            if (loadDefs) {
                table.m_fields.clear();
                reopen.fieldsPending = true;
            }
        }
        FieldDef def;
        def.name = ReadString(in);
        const std::string typeName = ReadString(in);
        def.size = ReadInteger(in);
        std::string displayName = ReadString(in);
        def.editMask = ReadString(in);
        def.displayWidth = ReadInteger(in);
        def.required = ReadBoolean(in);
        def.readOnly = ReadBoolean(in);
        if (format >= kFieldKindFrom)
            def.kind = KindOf(ReadString(in));
        if (format >= kDefaultExpressionFrom)
            def.defaultExpression = ReadString(in);
        const int code = TypeCode(typeName);
        if (!AcceptedType(code))
            Fail("Unknown field type (" + typeName + ")");
        def.type = static_cast<FieldType>(code);
        if (displayName != def.name)
            def.displayLabel = std::move(displayName);
        if (loadDefs)
            table.m_fields.push_back(std::move(def));
    }
    if (!reopen.table) {
        table.BeginReplace();
        reopen.table = &table;
    }
    if (reopen.fieldsPending) {
        table.FieldsReplaced();
        reopen.fieldsPending = false;
    }

    if (format >= kIndexDefsFrom) {
        ReadListBegin(in);
        bool first = true;
        while (!AtEndOfList(in)) {
            IndexDef def;
            def.name = ReadString(in);
            def.fields = ReadString(in);
            def.displayName = ReadString(in);
            def.descending = ReadBoolean(in);
            def.caseInsensitive = ReadBoolean(in);
            def.nonMaintained = ReadBoolean(in);
            def.unique = ReadBoolean(in);
            if (m_options & sfLoadIndexDef) {
                if (first)
                    table.m_indexDefs.clear();
                table.m_indexDefs.push_back(std::move(def));
            }
            first = false;
        }
    }

    if (table.m_fields.empty())
        Fail("Couldnt determine field count for load.");
    if (!(m_options & sfLoadData))
        return;

    table.m_autoInc = -1;
    const RecordLayout& layout = *table.m_layout;
    RecordBuilder& builder = *table.m_builder;
    const bool loadBlobs = m_options & sfLoadBlobs;
    ReadListBegin(in);
    while (!AtEndOfList(in)) {
        if (format >= kRecordListsFrom) {
            ReadListBegin(in);
            ReadInteger(in); // update status: the station keeps no change history
        }
        ReadValues(in, builder, layout, table.m_fields, format, loadBlobs);
        std::unique_ptr<Record, void (*)(Record*)> record(builder.Create(), &Record::Destroy);
        if (format >= kRecordListsFrom) {
            // Later versions of the same record (a change history) are read and dropped.
            while (!AtEndOfList(in)) {
                ReadInteger(in);
                ReadValues(in, builder, layout, table.m_fields, format, loadBlobs);
            }
        }
        table.AppendLoaded(record.release());
    }
}

void TableFormat::Load(MemTable& table, const std::string& fileName) const
{
    const int fd = files::Open(fileName, O_RDONLY);
    if (fd < 0)
        Fail("Cannot open file " + fileName);
    FileCloser closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        Fail("Cannot open file " + fileName);
    Reader in(fd, static_cast<std::uint64_t>(st.st_size), m_bufferSize);
    Read(table, in);
}

void TableFormat::LoadFromBytes(MemTable& table, std::string_view bytes) const
{
    Reader in(bytes);
    Read(table, in);
}

// ---------------------------------------------------------------- writing

// Collects output in a buffer of the format's size and hands it on whole.
class TableFormat::Writer {
public:
    Writer(AtomicFileWriter* file, std::size_t bufferSize) : m_file(file), m_buffer(bufferSize) {}
    explicit Writer(std::string* memory) : m_memory(memory), m_buffer(kMinBufferSize) {}

    void Put(const void* data, std::size_t n)
    {
        const unsigned char* p = static_cast<const unsigned char*>(data);
        while (n > 0) {
            if (m_used == m_buffer.size())
                Flush();
            const std::size_t take = std::min(n, m_buffer.size() - m_used);
            std::memcpy(m_buffer.data() + m_used, p, take);
            m_used += take;
            p += take;
            n -= take;
        }
    }

    // Room for a small item (at most 16 bytes) in one piece.
    unsigned char* Reserve(std::size_t n)
    {
        if (m_buffer.size() - m_used < n)
            Flush();
        unsigned char* p = m_buffer.data() + m_used;
        m_used += n;
        return p;
    }

    void Flush()
    {
        if (m_used == 0)
            return;
        if (m_memory)
            m_memory->append(reinterpret_cast<const char*>(m_buffer.data()), m_used);
        else if (!m_file->Write(m_buffer.data(), m_used))
            Fail("Stream write error");
        m_used = 0;
    }

private:
    AtomicFileWriter* m_file = nullptr;
    std::string* m_memory = nullptr;
    std::vector<unsigned char> m_buffer;
    std::size_t m_used = 0;
};

namespace {

using Writer = TableFormat::Writer;

void WriteByte(Writer& out, unsigned char b)
{
    *out.Reserve(1) = b;
}

void WriteInteger(Writer& out, std::int32_t v)
{
    if (v >= -128 && v <= 127) {
        unsigned char* p = out.Reserve(2);
        p[0] = kInt8;
        p[1] = static_cast<unsigned char>(v);
    } else if (v >= -32768 && v <= 32767) {
        unsigned char* p = out.Reserve(3);
        p[0] = kInt16;
        p[1] = static_cast<unsigned char>(v);
        p[2] = static_cast<unsigned char>(v >> 8);
    } else {
        unsigned char* p = out.Reserve(5);
        const std::uint32_t u = static_cast<std::uint32_t>(v);
        p[0] = kInt32;
        for (int i = 0; i < 4; ++i)
            p[1 + i] = static_cast<unsigned char>(u >> (8 * i));
    }
}

void WriteString(Writer& out, std::string_view s)
{
    if (s.size() <= 255) {
        unsigned char* p = out.Reserve(2);
        p[0] = kString;
        p[1] = static_cast<unsigned char>(s.size());
    } else {
        unsigned char* p = out.Reserve(5);
        const std::uint32_t n = static_cast<std::uint32_t>(s.size());
        p[0] = kLongString;
        for (int i = 0; i < 4; ++i)
            p[1 + i] = static_cast<unsigned char>(n >> (8 * i));
    }
    out.Put(s.data(), s.size());
}

void WriteBoolean(Writer& out, bool b)
{
    WriteByte(out, b ? kTrue : kFalse);
}

void WriteReal(Writer& out, double v)
{
    unsigned char* p = out.Reserve(11);
    p[0] = kReal;
    const Extended80 e = DoubleToExtended(v);
    std::memcpy(p + 1, e.data(), e.size());
}

} // namespace

void TableFormat::Write(const MemTable& table, Writer& out) const
{
    out.Put(kSignature, 4);
    WriteInteger(out, kFormatNumber);

    std::vector<int> fields;
    for (int f = 0; f < table.FieldCount(); ++f)
        if (Written(table.m_fields[static_cast<std::size_t>(f)], m_options))
            fields.push_back(f);

    WriteByte(out, kBeginList);
    if (m_options & sfSaveDef) {
        for (int f : fields) {
            const FieldDef& def = table.m_fields[static_cast<std::size_t>(f)];
            WriteString(out, def.name);
            WriteString(out, FieldTypeName(def.type));
            WriteInteger(out, def.size);
            WriteString(out, def.DisplayName());
            WriteString(out, def.editMask);
            WriteInteger(out, def.EffectiveDisplayWidth());
            WriteBoolean(out, def.required);
            WriteBoolean(out, def.readOnly);
            WriteString(out, (m_options & sfSaveFieldKind) ? FieldKindName(def.kind) : std::string_view("Data"));
            WriteString(out, def.defaultExpression);
        }
    }
    WriteByte(out, kEndOfList);

    WriteByte(out, kBeginList);
    if (m_options & sfSaveIndexDef) {
        for (const IndexDef& def : table.m_indexDefs) {
            WriteString(out, def.name);
            WriteString(out, def.fields);
            WriteString(out, def.displayName);
            WriteBoolean(out, def.descending);
            WriteBoolean(out, def.caseInsensitive);
            WriteBoolean(out, def.nonMaintained);
            WriteBoolean(out, def.unique);
        }
    }
    WriteByte(out, kEndOfList);

    WriteByte(out, kBeginList);
    if (m_options & sfSaveData) {
        const RecordLayout& layout = *table.m_layout;
        const bool everything = !table.m_master || (m_options & sfSaveIgnoreMasterDetail);
        const std::size_t count = everything ? table.m_rows.size() : table.m_view.size();
        for (std::size_t i = 0; i < count; ++i) {
            const Record* r = everything ? table.m_rows[i] : table.m_view[i];
            const unsigned char* d = r->Data();
            unsigned char* head = out.Reserve(3);
            head[0] = kBeginList;
            head[1] = kInt8;
            head[2] = 0; // update status: unchanged
            for (int f : fields) {
                if (detail::IsNullIn(d, f)) {
                    WriteByte(out, kTrue);
                    continue;
                }
                WriteByte(out, kFalse);
                switch (layout.slots[static_cast<std::size_t>(f)].storage) {
                case Storage::Int32: WriteInteger(out, detail::Int32In(layout, d, f)); break;
                case Storage::Float64: WriteReal(out, detail::Float64In(layout, d, f)); break;
                case Storage::Bool: WriteBoolean(out, detail::BoolIn(layout, d, f)); break;
                case Storage::Text: WriteString(out, detail::TextIn(layout, d, f)); break;
                }
            }
            WriteByte(out, kEndOfList);
        }
    }
    WriteByte(out, kEndOfList);
    out.Flush();
}

void TableFormat::Save(const MemTable& table, const std::string& fileName) const
{
    struct stat st {};
    if (::stat(fileName.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        Fail("Cannot create file " + fileName);
    AtomicFileWriter file(fileName);
    if (!file.Open())
        Fail("Cannot create file " + fileName);
    Writer out(&file, m_bufferSize);
    Write(table, out);
    if (!file.Commit())
        Fail("Stream write error");
}

std::string TableFormat::SaveToBytes(const MemTable& table) const
{
    std::string bytes;
    Writer out(&bytes);
    Write(table, out);
    return bytes;
}

} // namespace kv
