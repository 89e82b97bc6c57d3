#include "data/DurableJournal.h"

#include "data/AtomicFile.h"
#include "data/FilePlatform.h"
#include "data/RecordStore.h"
#include "data/TableFormat.h"
#include "data/Text.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace kv {

namespace fs = std::filesystem;

namespace {

constexpr char kMagic[4] = {'K', 'V', 'J', 'L'};
// Version 1: no sequence numbers, no tags; still replayed after an upgrade.
constexpr std::uint32_t kVersion1 = 1;
constexpr std::size_t kHeaderSize1 = 28;
constexpr std::uint32_t kVersion = 2;
constexpr std::size_t kHeaderSize = 36;
// An entry with a row, or one that only keeps a tag alive across a fold.
constexpr char kRowEntry = 'R';
constexpr char kTagEntry = 'T';
constexpr std::size_t kMaxTag = 255;
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

// Descriptors are owned by the journal; only these calls go through the seam.
ssize_t JournalFiles::Write(int fd, const void* data, std::size_t size) { return ::write(fd, data, size); }
int JournalFiles::DataSync(int fd) { return files::SyncData(fd); }
int JournalFiles::Truncate(int fd, off_t size) { return ::ftruncate(fd, size); }

namespace {

bool WriteAllVia(JournalFiles& files, int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = files.Write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string EncodeEntry(std::uint64_t seq, char kind, const std::string& tag, std::string_view row)
{
    std::string payload;
    PutU64(payload, seq);
    payload.push_back(kind);
    const std::size_t tagSize = std::min(tag.size(), kMaxTag);
    payload.push_back(static_cast<char>(tagSize));
    payload.append(tag, 0, tagSize);
    payload.append(row);
    std::string entry;
    PutU32(entry, static_cast<std::uint32_t>(payload.size()));
    PutU32(entry, Crc(payload.data(), payload.size()));
    return entry + payload;
}

// What the operator reads after "Ошибка записи журнала: ".
std::string ReasonOf(int error)
{
    switch (error) {
    case ENOSPC: return Str("нет места на диске"_cp);
#ifdef EDQUOT
    case EDQUOT: return Str("превышена дисковая квота"_cp);
#endif
    case EIO: return Str("ошибка ввода-вывода"_cp);
    case EROFS: return Str("диск только для чтения"_cp);
    case EACCES:
    case EPERM: return Str("нет прав на запись"_cp);
    default: return std::strerror(error);
    }
}

struct SegmentHeader {
    std::uint32_t version = 0;
    std::size_t size = 0;
    std::optional<Fingerprint> file; // none: it names no table file
    std::uint64_t baseSeq = 0;       // every row up to it is in that file
};

// Nothing for a damaged header.
std::optional<SegmentHeader> ReadHeader(std::string_view bytes)
{
    if (bytes.size() < kHeaderSize1 || std::memcmp(bytes.data(), kMagic, 4) != 0)
        return std::nullopt;
    SegmentHeader h;
    std::memcpy(&h.version, bytes.data() + 4, 4);
    if (h.version != kVersion1 && h.version != kVersion)
        return std::nullopt;
    h.size = h.version == kVersion1 ? kHeaderSize1 : kHeaderSize;
    if (bytes.size() < h.size)
        return std::nullopt;
    std::uint32_t has = 0, crc = 0;
    Fingerprint f;
    std::memcpy(&f.size, bytes.data() + 8, 8);
    std::memcpy(&f.crc, bytes.data() + 16, 4);
    std::memcpy(&has, bytes.data() + 20, 4);
    if (h.version == kVersion)
        std::memcpy(&h.baseSeq, bytes.data() + 24, 8);
    std::memcpy(&crc, bytes.data() + h.size - 4, 4);
    if (crc != Crc(bytes.data(), h.size - 4))
        return std::nullopt;
    if (has == 1)
        h.file = f;
    return h;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string ReadHead(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string head(kHeaderSize, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    return head;
}

} // namespace

DurableJournal::DurableJournal(MemTable& table, std::string fileName, const TableFormat& format, JournalFiles* files)
    : m_table(table), m_fileName(std::move(fileName)), m_format(format), m_files(files ? *files : m_posix)
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


bool DurableJournal::Replay(const std::string& path, std::uint64_t& highest, bool fromFile)
{
    const std::string bytes = ReadAll(path);
    const std::optional<SegmentHeader> header = ReadHeader(bytes);
    if (!header)
        return false;
    const bool sequenced = header->version == kVersion;
    // The table file holds every row up to the base of the segment that names it.
    if (sequenced && fromFile)
        highest = std::max(highest, header->baseSeq);
    m_lastSeq = std::max(m_lastSeq, header->baseSeq);
    std::size_t pos = header->size;
    // A torn or damaged entry ends its segment only: nothing was appended
    // behind it, and the next segment holds what was written again.
    while (bytes.size() >= pos + 8) {
        std::uint32_t length, crc;
        std::memcpy(&length, bytes.data() + pos, 4);
        std::memcpy(&crc, bytes.data() + pos + 4, 4);
        if (length > kMaxEntry || bytes.size() - pos - 8 < length)
            return false;
        const std::string_view payload(bytes.data() + pos + 8, length);
        if (Crc(payload.data(), payload.size()) != crc)
            return false;
        pos += 8 + length;

        Cursor c(payload);
        if (sequenced) {
            std::uint64_t seq = 0;
            char kind = 0;
            std::uint8_t tagSize = 0;
            std::string tag;
            if (!c.Take(&seq, 8) || !c.Take(&kind, 1) || !c.Take(&tagSize, 1) || !c.Text(tag, tagSize))
                return false;
            m_lastSeq = std::max(m_lastSeq, seq);
            if (!tag.empty())
                m_tags[tag] = std::max(m_tags[tag], seq);
            // A row written again after a failure, or one the file holds already.
            if (kind != kRowEntry || seq <= highest)
                continue;
            highest = seq;
        }
        std::uint16_t count = 0;
        if (!c.Take(&count, 2))
            return false;
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
            return false;
        }
        m_table.Post();
        ++m_replayed;
        if (m_replaySeqs)
            m_replaySeqs->push_back(sequenced ? highest : 0);
    }
    return pos == bytes.size();
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
    bool matched = false;
    std::uint32_t lastVersion = 0;
    for (std::size_t i = segments.size(); i-- > 0;) {
        const auto h = ReadHeader(ReadHead(segments[i].path));
        if (!h)
            continue;
        m_lastSeq = std::max(m_lastSeq, h->baseSeq);
        if (i + 1 == segments.size())
            lastVersion = h->version;
        if (!matched && loaded && file && h->file && h->file->size == file->size && h->file->crc == file->crc) {
            first = i;
            matched = true;
        }
    }
    std::uint64_t highest = 0;
    bool lastWhole = false;
    for (std::size_t i = first; i < segments.size(); ++i)
        lastWhole = Replay(segments[i].path, highest, matched && i == first);
    m_table.First();

    const std::uint64_t next = segments.empty() ? 1 : segments.back().number + 1;
    {
        std::lock_guard lock(m_lock);
        m_firstSeq = m_durableSeq = m_writtenSeq = m_lastSeq;
        m_segment = next - 1;
    }
    m_logging = true;
    m_syncThread = std::thread([this] { SyncLoop(); });

    // Nothing put back: the table file already holds the whole journal, so the
    // start needs no full save. A clean last close leaves a whole segment that
    // names the file: logging goes on in it. Otherwise a new segment names the
    // file as it is (the live tags carried into it), and the older ones are done with.
    if (loaded && file && m_replayed == 0) {
        std::error_code sizeError;
        if (!segments.empty() && matched && first == segments.size() - 1 && lastWhole && lastVersion == kVersion) {
            const auto size = fs::file_size(segments.back().path, sizeError);
            const int fd = sizeError ? -1 : files::Open(segments.back().path, O_WRONLY | O_APPEND);
            if (fd >= 0) {
                std::lock_guard lock(m_lock);
                m_fd = fd;
                m_segmentSize = size;
                return loaded;
            }
        }
        if (OpenSegment(next, file->size, file->crc)) {
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
        std::lock_guard lock(m_lock);
        if (!OpenSegmentLocked(m_segment + 1, 0, 0))
            m_logging = false;
    }
    return loaded;
}

std::size_t DurableJournal::ReadWithLog(MemTable& table, const std::string& fileName, const TableFormat& format)
{
    std::vector<std::uint64_t> seqs;
    return ReadWithLog(table, fileName, format, seqs);
}

std::size_t DurableJournal::ReadWithLog(MemTable& table, const std::string& fileName, const TableFormat& format,
                                        std::vector<std::uint64_t>& seqs)
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

        const std::size_t fileRows = table.TotalRecordCount();
        DurableJournal reader(table, fileName, format); // never opened: logs nothing
        const std::vector<Segment> segments = reader.Segments();
        // As Open: from the newest segment that names this file, or from the
        // oldest when none does.
        std::size_t first = 0;
        bool matched = false;
        std::uint64_t base = 0;
        for (std::size_t i = segments.size(); i-- > 0 && !matched;) {
            const auto h = ReadHeader(ReadHead(segments[i].path));
            if (h && h->file && h->file->size == file.size && h->file->crc == file.crc) {
                first = i;
                matched = true;
                base = h->version == kVersion ? h->baseSeq : 0;
            }
        }
        std::vector<std::uint64_t> replayed;
        reader.m_replaySeqs = &replayed;
        std::uint64_t highest = 0;
        for (std::size_t i = first; i < segments.size(); ++i)
            reader.Replay(segments[i].path, highest, matched && i == first);
        reader.m_replaySeqs = nullptr;
        table.First();
        // Replayed rows went in front, the last one first.
        seqs.assign(replayed.rbegin(), replayed.rend());
        for (std::size_t k = 0; k < fileRows; ++k)
            seqs.push_back(base > k ? base - k : 0);
        const auto now = FingerprintOf(fileName);
        if (attempt >= 4 || (now && now->size == file.size && now->crc == file.crc))
            return reader.m_replayed;
    }
}

bool DurableJournal::OpenSegment(std::uint64_t number, std::uint64_t fileSize, std::uint32_t fileCrc)
{
    std::lock_guard lock(m_lock);
    return OpenSegmentLocked(number, fileSize, fileCrc);
}

bool DurableJournal::OpenSegmentLocked(std::uint64_t number, std::uint64_t fileSize, std::uint32_t fileCrc)
{
    const std::string path = m_fileName + ".log." + std::to_string(number);
    const int fd = files::Open(path, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
    if (fd < 0) {
        m_error = "Cannot create file " + path + ": " + std::strerror(errno);
        FailLocked(errno);
        return false;
    }
    std::string bytes(kMagic, 4);
    PutU32(bytes, kVersion);
    PutU64(bytes, fileSize);
    PutU32(bytes, fileCrc);
    PutU32(bytes, fileSize || fileCrc ? 1 : 0);
    PutU64(bytes, m_lastSeq);
    PutU32(bytes, Crc(bytes.data(), bytes.size()));
    // The tags of rows on disk live on in the new segment; the rows not yet on
    // disk go into it whole (a start from its file skips those the file holds).
    for (const auto& [tag, seq] : m_tags)
        bytes += EncodeEntry(seq, kTagEntry, tag, {});
    for (const Pending& p : m_pending)
        bytes += p.entry;
    if (!WriteAllVia(m_files, fd, bytes) || m_files.DataSync(fd) != 0) {
        const int error = errno;
        m_error = "Cannot write file " + path + ": " + std::strerror(error);
        FailLocked(error);
        ::close(fd);
        ::unlink(path.c_str());
        return false;
    }
    SyncFolderOf(path);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
    m_segment = number;
    m_segmentSize = bytes.size();
    m_needSegment = false;
    ++m_generation;
    for (Pending& p : m_pending)
        p.written = true;
    m_writtenSeq = m_lastSeq;
    MarkDurableLocked(m_lastSeq);
    RecoveredLocked();
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
    std::uint64_t mine = 0;
    {
        std::lock_guard lock(m_lock);
        mine = m_segment + 1;
        if (!OpenSegmentLocked(mine, f->size, f->crc)) {
            fs::remove(foldPath, ec);
            throw ETableFileError("Cannot create file " + m_fileName + ".log." + std::to_string(mine));
        }
    }
    if (files::RenameOver(foldPath, m_fileName) != 0) {
        const std::string reason = std::strerror(errno);
        fs::remove(foldPath, ec);
        throw ETableFileError("Cannot create file " + m_fileName + ": " + reason);
    }
    SyncFolderOf(m_fileName);
    for (const Segment& s : Segments())
        if (s.number < mine)
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
    {
        std::lock_guard lock(m_lock);
        m_lastSeq += m_table.TotalRecordCount();
    }
    Fold();
}

void DurableJournal::RecordAdded(RecordHandle record, std::size_t)
{
    if (!m_logging || m_folding)
        return;
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

    std::uint64_t seq = 0;
    {
        std::lock_guard lock(m_lock);
        Pending p;
        seq = p.seq = ++m_lastSeq;
        p.tag = std::exchange(m_nextTag, {});
        p.entry = EncodeEntry(p.seq, kRowEntry, p.tag, payload);
        m_pending.push_back(std::move(p));
        m_postedSeq = m_lastSeq;
        ++m_sinceFold;
        FlushLocked();
        m_wake.notify_one();
    }
    if (m_observer)
        m_observer(seq, m_table, record);
}

void DurableJournal::FlushLocked()
{
    if (m_fd < 0 || m_needSegment)
        return;
    for (Pending& p : m_pending) {
        if (p.written)
            continue;
        if (!WriteAllVia(m_files, m_fd, p.entry)) {
            const int error = errno;
            m_error = "Cannot write the journal log: " + std::string(std::strerror(error));
            FailLocked(error);
            // Nothing may follow a torn entry: cut it off, or leave the segment.
            if (m_files.Truncate(m_fd, static_cast<off_t>(m_segmentSize)) != 0) {
                ::close(m_fd);
                m_fd = -1;
                m_needSegment = true;
                for (Pending& q : m_pending)
                    q.written = false;
            }
            m_wake.notify_one();
            return;
        }
        p.written = true;
        m_segmentSize += p.entry.size();
        m_writtenSeq = p.seq;
    }
}

void DurableJournal::FailLocked(int error)
{
    ++m_failEvents;
    if (!m_failing) {
        m_failing = true;
        ++m_failurePeriods;
        m_reason = ReasonOf(error);
    }
    m_synced.notify_all();
}

void DurableJournal::RecoveredLocked()
{
    if (m_needSegment || m_fd < 0 || m_writtenSeq != m_lastSeq)
        return;
    m_failing = false;
}

void DurableJournal::MarkDurableLocked(std::uint64_t seq)
{
    m_durableSeq = std::max(m_durableSeq, seq);
    while (!m_pending.empty() && m_pending.front().seq <= m_durableSeq) {
        if (!m_pending.front().tag.empty())
            m_tags[m_pending.front().tag] = m_pending.front().seq;
        m_pending.pop_front();
    }
    m_synced.notify_all();
}

void DurableJournal::SyncLoop()
{
    std::unique_lock lock(m_lock);
    for (;;) {
        bool failed = false;
        if (m_needSegment) {
            // After a failed sync the page cache may have dropped what was
            // written: everything pending goes into a new segment. Its header
            // names no table file, so a start replays through it.
            failed = !OpenSegmentLocked(m_segment + 1, 0, 0);
        } else {
            FlushLocked();
        }
        if (!failed && !m_needSegment && m_fd >= 0 && m_writtenSeq > m_durableSeq) {
            const std::uint64_t target = m_writtenSeq;
            const std::uint64_t generation = m_generation;
            // Synced on a duplicate so that a fold may swap the segment meanwhile.
            const int fd = ::dup(m_fd);
            lock.unlock();
            const bool ok = fd >= 0 && m_files.DataSync(fd) == 0;
            const int error = errno;
            if (fd >= 0)
                ::close(fd);
            lock.lock();
            if (ok) {
                MarkDurableLocked(target);
                RecoveredLocked();
            } else if (generation == m_generation) {
                m_error = "Cannot sync the journal log: " + std::string(std::strerror(error));
                FailLocked(error);
                ::close(m_fd);
                m_fd = -1;
                m_needSegment = true;
                for (Pending& p : m_pending)
                    p.written = false;
                failed = true;
            }
        }
        if (m_stop)
            return;
        const auto unwritten = [this] { return !m_pending.empty() && !m_pending.back().written; };
        if (failed || m_needSegment || unwritten()) {
            // Tried again a second later, so that a failing disk is not
            // hammered; sooner when an append got everything written.
            m_wake.wait_for(lock, kRetryEvery, [&] {
                return m_stop || (!m_needSegment && !unwritten() && m_writtenSeq > m_durableSeq);
            });
        } else {
            m_wake.wait(lock, [&] { return m_stop || m_needSegment || unwritten() || m_writtenSeq > m_durableSeq; });
        }
    }
}

void DurableJournal::SyncNow()
{
    std::unique_lock lock(m_lock);
    const std::uint64_t target = m_lastSeq;
    const std::uint64_t failures = m_failEvents;
    m_wake.notify_one();
    m_synced.wait(lock, [&] { return m_durableSeq >= target || m_failEvents != failures || !m_syncThread.joinable(); });
}

std::uint64_t DurableJournal::PostTagged(const std::string& tag, const std::function<void()>& post)
{
    {
        std::lock_guard lock(m_lock);
        m_nextTag = tag;
        m_postedSeq = 0;
    }
    struct Clear {
        DurableJournal& j;
        ~Clear()
        {
            std::lock_guard lock(j.m_lock);
            j.m_nextTag.clear();
        }
    } clear{*this};
    post();
    std::lock_guard lock(m_lock);
    return m_postedSeq;
}

std::uint64_t DurableJournal::LastSeq() const
{
    std::lock_guard lock(m_lock);
    return m_lastSeq;
}

bool DurableJournal::WaitDurable(std::uint64_t seq, std::chrono::milliseconds limit)
{
    if (seq == 0)
        return false;
    std::unique_lock lock(m_lock);
    // A disk failing already is tried again within a second: its next failure ends the wait.
    const std::uint64_t failures = m_failEvents;
    m_wake.notify_one();
    m_synced.wait_for(lock, limit, [&] { return m_durableSeq >= seq || m_failEvents != failures || m_stop; });
    return m_durableSeq >= seq;
}

bool DurableJournal::IsDurable(std::uint64_t seq) const
{
    std::lock_guard lock(m_lock);
    return seq != 0 && m_durableSeq >= seq;
}

std::uint64_t DurableJournal::DurableSeq() const
{
    std::lock_guard lock(m_lock);
    return m_durableSeq;
}

DurableJournal::TagState DurableJournal::StateOf(const std::string& tag) const
{
    std::lock_guard lock(m_lock);
    if (m_tags.count(tag))
        return TagState::Durable;
    for (const Pending& p : m_pending)
        if (p.tag == tag)
            return TagState::Pending;
    return TagState::Unknown;
}

void DurableJournal::ForgetTag(const std::string& tag)
{
    std::lock_guard lock(m_lock);
    m_tags.erase(tag);
}

std::map<std::uint64_t, std::string> DurableJournal::TaggedRows(std::string_view prefix) const
{
    std::map<std::uint64_t, std::string> rows;
    std::lock_guard lock(m_lock);
    for (auto it = m_tags.lower_bound(prefix); it != m_tags.end() && it->first.starts_with(prefix); ++it)
        rows.emplace(it->second, it->first);
    return rows;
}

DurableJournal::Health DurableJournal::State() const
{
    std::lock_guard lock(m_lock);
    return {!m_failing, m_reason, m_failurePeriods};
}

std::uint64_t DurableJournal::Appended() const
{
    std::lock_guard lock(m_lock);
    return m_lastSeq - m_firstSeq;
}

std::uint64_t DurableJournal::Synced() const
{
    std::lock_guard lock(m_lock);
    return m_durableSeq - m_firstSeq;
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
        FlushLocked();
        if (m_fd >= 0 && m_files.DataSync(m_fd) == 0)
            MarkDurableLocked(m_writtenSeq);
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    m_logging = false;
    m_synced.notify_all();
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
