#include "data/DurableJournal.h"

#include "data/AtomicFile.h"
#include "data/RecordStore.h"
#include "data/TableFormat.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace kv {

namespace fs = std::filesystem;

namespace {

constexpr char kMagic[4] = {'K', 'V', 'J', 'L'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderSize = 28;
// A logged row is a few hundred bytes; anything claiming more is damage.
constexpr std::uint32_t kMaxEntry = 1u << 20;

enum ValueKind : std::uint8_t { kText = 's', kReal = 'd', kInt = 'i', kBool = 'b' };

std::uint32_t Crc(const void* data, std::size_t size, std::uint32_t crc = 0)
{
    const auto* p = static_cast<const Bytef*>(data);
    while (size > 0) {
        const uInt chunk = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
        crc = static_cast<std::uint32_t>(crc32(crc, p, chunk));
        p += chunk;
        size -= chunk;
    }
    return crc;
}

void PutU16(std::string& out, std::uint16_t v) { out.append(reinterpret_cast<const char*>(&v), 2); }
void PutU32(std::string& out, std::uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); }
void PutU64(std::string& out, std::uint64_t v) { out.append(reinterpret_cast<const char*>(&v), 8); }

class Cursor {
public:
    explicit Cursor(std::string_view bytes) : m_bytes(bytes) {}
    bool Take(void* out, std::size_t n)
    {
        if (m_bytes.size() - m_pos < n)
            return false;
        std::memcpy(out, m_bytes.data() + m_pos, n);
        m_pos += n;
        return true;
    }
    bool Text(std::string& out, std::size_t n)
    {
        if (m_bytes.size() - m_pos < n)
            return false;
        out.assign(m_bytes.data() + m_pos, n);
        m_pos += n;
        return true;
    }
    bool Done() const { return m_pos == m_bytes.size(); }

private:
    std::string_view m_bytes;
    std::size_t m_pos = 0;
};

// The log stores each value as the table holds it.
ValueKind KindOf(FieldType type)
{
    switch (detail::StorageOf(type)) {
    case detail::Storage::Float64: return kReal;
    case detail::Storage::Int32: return kInt;
    case detail::Storage::Bool: return kBool;
    case detail::Storage::Text: break;
    }
    return kText;
}

struct Fingerprint {
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
};

std::optional<Fingerprint> FingerprintOf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    Fingerprint f;
    std::vector<char> buffer(1 << 20);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const std::size_t got = static_cast<std::size_t>(in.gcount());
        f.crc = Crc(buffer.data(), got, f.crc);
        f.size += got;
    }
    return f;
}

} // namespace

DurableJournal::DurableJournal(MemTable& table, std::string fileName, const TableFormat& format)
    : m_table(table), m_fileName(std::move(fileName)), m_format(format)
{
    m_table.AddRecordListener(this);
}

DurableJournal::~DurableJournal()
{
    Close();
    m_table.RemoveRecordListener(this);
}

std::vector<DurableJournal::Segment> DurableJournal::Segments() const
{
    std::vector<Segment> found;
    const std::string prefix = fs::path(m_fileName).filename().string() + ".log.";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(FolderOf(m_fileName), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string digits = name.substr(prefix.size());
        if (digits.size() > 18 || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        found.push_back({std::stoull(digits), entry.path().string()});
    }
    std::sort(found.begin(), found.end(), [](const Segment& a, const Segment& b) { return a.number < b.number; });
    return found;
}

namespace {
// The fold fingerprint a segment's header carries; nothing for a damaged header.
std::optional<Fingerprint> SegmentFingerprint(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    char header[kHeaderSize];
    if (!in.read(header, kHeaderSize))
        return std::nullopt;
    std::uint32_t version, has, crc;
    Fingerprint f;
    std::memcpy(&version, header + 4, 4);
    std::memcpy(&f.size, header + 8, 8);
    std::memcpy(&f.crc, header + 16, 4);
    std::memcpy(&has, header + 20, 4);
    std::memcpy(&crc, header + 24, 4);
    if (std::memcmp(header, kMagic, 4) != 0 || version != kVersion || crc != Crc(header, 24) || has != 1)
        return std::nullopt;
    return f;
}
} // namespace

void DurableJournal::Replay(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t pos = kHeaderSize;
    // Entries are read up to the first one that is incomplete or damaged: the
    // tail a crash left in the middle of a write.
    while (bytes.size() >= pos + 8) {
        std::uint32_t length, crc;
        std::memcpy(&length, bytes.data() + pos, 4);
        std::memcpy(&crc, bytes.data() + pos + 4, 4);
        if (length > kMaxEntry || bytes.size() - pos - 8 < length)
            break;
        const std::string_view payload(bytes.data() + pos + 8, length);
        if (Crc(payload.data(), payload.size()) != crc)
            break;
        pos += 8 + length;

        Cursor c(payload);
        std::uint16_t count = 0;
        if (!c.Take(&count, 2))
            break;
        m_table.First();
        m_table.Insert();
        bool ok = true;
        for (std::uint16_t i = 0; i < count && ok; ++i) {
            std::uint8_t nameLength = 0, kind = 0, isNull = 0;
            std::string name;
            ok = c.Take(&nameLength, 1) && c.Text(name, nameLength) && c.Take(&kind, 1) && c.Take(&isNull, 1);
            if (!ok || isNull)
                continue;
            const int field = m_table.FindField(name);
            std::string text;
            double real = 0;
            std::int32_t integer = 0;
            std::uint8_t boolean = 0;
            std::uint32_t textLength = 0;
            switch (kind) {
            case kText: ok = c.Take(&textLength, 4) && c.Text(text, textLength); break;
            case kReal: ok = c.Take(&real, 8); break;
            case kInt: ok = c.Take(&integer, 4); break;
            case kBool: ok = c.Take(&boolean, 1); break;
            default: ok = false;
            }
            if (!ok || field < 0)
                continue;
            Field f = m_table.FieldAt(field);
            const FieldType type = m_table.Fields()[static_cast<std::size_t>(field)].type;
            switch (kind) {
            case kText: f.SetAsString(text); break;
            case kReal:
                if (KindOf(type) == kReal)
                    f.SetAsFloat(real);
                break;
            case kInt: f.SetAsInteger(integer); break;
            case kBool: f.SetAsBoolean(boolean != 0); break;
            }
        }
        if (!ok) {
            m_table.Cancel();
            break;
        }
        m_table.Post();
        ++m_replayed;
    }
}

bool DurableJournal::Open(std::string_view failureMessage, const JournalNotify& notify, double now)
{
    const std::vector<Segment> segments = Segments();
    std::error_code ec;
    fs::remove(m_fileName + ".fold", ec); // a fold the last run did not finish
    const std::optional<Fingerprint> file = FingerprintOf(m_fileName);

    m_logging = false;
    const bool loaded = OpenJournal(m_table, m_fileName, m_format, failureMessage, notify, now);

    std::size_t first = 0;
    if (loaded && file) {
        for (std::size_t i = segments.size(); i-- > 0;) {
            const auto f = SegmentFingerprint(segments[i].path);
            if (f && f->size == file->size && f->crc == file->crc) {
                first = i;
                break;
            }
        }
    }
    for (std::size_t i = first; i < segments.size(); ++i)
        Replay(segments[i].path);
    m_table.First();

    m_segment = segments.empty() ? 0 : segments.back().number;
    m_logging = true;
    m_syncThread = std::thread([this] { SyncLoop(); });

    // Nothing put back: the table file already holds the whole journal, so the
    // start needs no full save. A clean last close leaves one empty segment
    // that names the file: logging goes on in it. Otherwise a new segment
    // names the file as it is, and the older ones are done with.
    if (loaded && file && m_replayed == 0) {
        std::error_code sizeError;
        if (!segments.empty() && first == segments.size() - 1 &&
            fs::file_size(segments.back().path, sizeError) == kHeaderSize && !sizeError) {
            const int fd = ::open(segments.back().path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
            if (fd >= 0) {
                std::lock_guard lock(m_lock);
                m_fd = fd;
                return loaded;
            }
        }
        if (OpenSegment(m_segment + 1, file->size, file->crc)) {
            for (const Segment& s : segments)
                fs::remove(s.path, sizeError);
            return loaded;
        }
    }
    try {
        Fold();
    } catch (const std::exception& e) {
        // The table file could not be written: log on in a segment whose
        // header matches no file, so the next start replays from the last
        // segment that does and nothing logged before is dropped.
        SetError(e.what());
        if (!OpenSegment(m_segment + 1, 0, 0))
            m_logging = false;
    }
    return loaded;
}

std::size_t DurableJournal::ReadWithLog(MemTable& table, const std::string& fileName, const TableFormat& format)
{
    // A fold of the running station may replace the file and remove the older
    // segments while they are read: read again until the file stood still.
    for (int attempt = 0;; ++attempt) {
        std::ifstream in(fileName, std::ios::binary);
        if (!in || fs::is_directory(fileName))
            throw ETableFileError("Cannot open file " + fileName);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const Fingerprint file{bytes.size(), Crc(bytes.data(), bytes.size())};
        format.LoadFromBytes(table, bytes);

        DurableJournal reader(table, fileName, format); // never opened: logs nothing
        const std::vector<Segment> segments = reader.Segments();
        std::size_t first = 0;
        for (std::size_t i = segments.size(); i-- > 0;) {
            const auto f = SegmentFingerprint(segments[i].path);
            if (f && f->size == file.size && f->crc == file.crc) {
                first = i;
                break;
            }
        }
        for (std::size_t i = first; i < segments.size(); ++i)
            reader.Replay(segments[i].path);
        table.First();
        const auto now = FingerprintOf(fileName);
        if (attempt >= 4 || (now && now->size == file.size && now->crc == file.crc))
            return reader.m_replayed;
    }
}

bool DurableJournal::OpenSegment(std::uint64_t number, std::uint64_t fileSize, std::uint32_t fileCrc)
{
    const std::string path = m_fileName + ".log." + std::to_string(number);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        SetError("Cannot create file " + path + ": " + std::strerror(errno));
        return false;
    }
    std::string header(kMagic, 4);
    PutU32(header, kVersion);
    PutU64(header, fileSize);
    PutU32(header, fileCrc);
    PutU32(header, fileSize || fileCrc ? 1 : 0);
    PutU32(header, Crc(header.data(), header.size()));
    if (!WriteAll(fd, header.data(), header.size()) || ::fdatasync(fd) != 0) {
        SetError("Cannot write file " + path + ": " + std::strerror(errno));
        ::close(fd);
        ::unlink(path.c_str());
        return false;
    }
    SyncFolderOf(path);
    int old = -1;
    {
        std::lock_guard lock(m_lock);
        old = m_fd;
        m_fd = fd;
        m_segment = number;
    }
    if (old >= 0) {
        (void)::fdatasync(old);
        ::close(old);
        std::lock_guard lock(m_lock);
        m_durable = m_written;
    }
    m_synced.notify_all();
    return true;
}

void DurableJournal::Fold()
{
    if (m_folding)
        return;
    m_folding = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{m_folding};

    const std::string foldPath = m_fileName + ".fold";
    m_format.Save(m_table, foldPath);
    const std::optional<Fingerprint> f = FingerprintOf(foldPath);
    std::error_code ec;
    if (!f) {
        fs::remove(foldPath, ec);
        throw ETableFileError("Cannot open file " + foldPath);
    }
    // The new segment's header names the file about to replace the old one
    // before the rename: whatever the crash, the next start can tell.
    if (!OpenSegment(m_segment + 1, f->size, f->crc)) {
        fs::remove(foldPath, ec);
        throw ETableFileError("Cannot create file " + m_fileName + ".log." + std::to_string(m_segment + 1));
    }
    if (std::rename(foldPath.c_str(), m_fileName.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        fs::remove(foldPath, ec);
        throw ETableFileError("Cannot create file " + m_fileName + ": " + reason);
    }
    SyncFolderOf(m_fileName);
    for (const Segment& s : Segments())
        if (s.number < m_segment)
            fs::remove(s.path, ec);
    m_sinceFold = 0;
}

void DurableJournal::FoldIfDue()
{
    if (m_sinceFold < kFoldEvery || !m_logging)
        return;
    try {
        Fold();
    } catch (const std::exception& e) {
        SetError(e.what());
    }
}

void DurableJournal::Replace(const std::function<void()>& change)
{
    const bool logging = m_logging;
    m_logging = false;
    try {
        change();
    } catch (...) {
        m_logging = logging;
        throw;
    }
    m_logging = logging;
    Fold();
}

void DurableJournal::RecordAdded(RecordHandle record, std::size_t)
{
    if (!m_logging || m_folding) {
        std::lock_guard lock(m_lock);
        ++m_failures;
        return;
    }
    std::string payload;
    const auto& fields = m_table.Fields();
    PutU16(payload, static_cast<std::uint16_t>(fields.size()));
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const int f = static_cast<int>(i);
        const std::string& name = fields[i].name;
        payload.push_back(static_cast<char>(std::min<std::size_t>(name.size(), 255)));
        payload.append(name, 0, std::min<std::size_t>(name.size(), 255));
        const ValueKind kind = KindOf(fields[i].type);
        payload.push_back(static_cast<char>(kind));
        const bool isNull = m_table.IsNull(record, f);
        payload.push_back(isNull ? 1 : 0);
        if (isNull)
            continue;
        switch (kind) {
        case kText: {
            const std::string_view text = m_table.TextView(record, f);
            PutU32(payload, static_cast<std::uint32_t>(text.size()));
            payload.append(text);
            break;
        }
        case kReal: {
            const double v = m_table.Float(record, f);
            payload.append(reinterpret_cast<const char*>(&v), 8);
            break;
        }
        case kInt: PutU32(payload, static_cast<std::uint32_t>(m_table.Integer(record, f))); break;
        case kBool: payload.push_back(m_table.Boolean(record, f) ? 1 : 0); break;
        }
    }
    std::string entry;
    PutU32(entry, static_cast<std::uint32_t>(payload.size()));
    PutU32(entry, Crc(payload.data(), payload.size()));
    entry += payload;

    std::lock_guard lock(m_lock);
    if (m_fd < 0) {
        ++m_failures;
        return;
    }
    if (!WriteAll(m_fd, entry.data(), entry.size())) {
        m_error = "Cannot write the journal log: " + std::string(std::strerror(errno));
        ++m_failures;
        return;
    }
    ++m_written;
    ++m_sinceFold;
    m_wake.notify_one();
}

void DurableJournal::SyncLoop()
{
    std::unique_lock lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || m_written > m_durable; });
        if (m_written == m_durable && m_stop)
            return;
        const std::uint64_t target = m_written;
        // Synced on a duplicate so that a fold may swap the segment meanwhile.
        const int fd = m_fd >= 0 ? ::dup(m_fd) : -1;
        lock.unlock();
        const bool ok = fd < 0 || ::fdatasync(fd) == 0;
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        lock.lock();
        if (!ok) {
            m_error = "Cannot sync the journal log: " + std::string(std::strerror(error));
            ++m_failures;
        }
        m_durable = std::max(m_durable, target);
        m_synced.notify_all();
    }
}

void DurableJournal::SyncNow()
{
    std::unique_lock lock(m_lock);
    const std::uint64_t target = m_written;
    m_wake.notify_one();
    m_synced.wait(lock, [&] { return m_durable >= target || !m_syncThread.joinable(); });
}

DurableJournal::Mark DurableJournal::Position() const
{
    std::lock_guard lock(m_lock);
    return {m_written, m_failures};
}

bool DurableJournal::WaitSynced(const Mark& before, const Mark& after, std::chrono::milliseconds limit)
{
    if (after.appended <= before.appended || after.failures != before.failures)
        return false;
    std::unique_lock lock(m_lock);
    m_wake.notify_one();
    m_synced.wait_for(lock, limit, [&] { return m_durable >= after.appended; });
    return m_durable >= after.appended && m_failures == before.failures;
}

std::uint64_t DurableJournal::Appended() const
{
    std::lock_guard lock(m_lock);
    return m_written;
}

std::uint64_t DurableJournal::Synced() const
{
    std::lock_guard lock(m_lock);
    return m_durable;
}

void DurableJournal::Close()
{
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_syncThread.joinable())
        m_syncThread.join();
    std::lock_guard lock(m_lock);
    if (m_fd >= 0) {
        (void)::fdatasync(m_fd);
        ::close(m_fd);
        m_fd = -1;
    }
    m_logging = false;
}

void DurableJournal::SetError(const std::string& error)
{
    std::lock_guard lock(m_lock);
    m_error = error;
}

std::string DurableJournal::LogError() const
{
    std::lock_guard lock(m_lock);
    return m_error;
}

} // namespace kv
