#include "core/TechnoLog.h"

#include "data/AtomicFile.h"
#include "data/FilePlatform.h"

#include "data/Text.h"
#include "timing/DateTime.h"
#include "data/TextExport.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv {

using namespace literals;

TTechnoLog::TTechnoLog(std::string path, std::uint64_t limit, int keep)
    : m_path(std::move(path)), m_limit(limit), m_keep(keep)
{
}

TTechnoLog::~TTechnoLog()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

const char* TTechnoLog::ColourName(Rgb colour)
{
    if (colour == kRed) return "red";
    if (colour == kGreen) return "green";
    if (colour == kBlue) return "blue";
    if (colour == kNavy) return "navy";
    if (colour == kOrange) return "orange";
    return nullptr;
}

std::string TTechnoLog::LineText(double when, const std::string& text, Rgb colour)
{
    const DateTimeParts p = DecodeDateTime(when);
    char head[64];
    std::snprintf(head, sizeof head, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", p.year, p.month, p.day, p.hour,
                  p.minute, p.second, p.msec);
    std::string line = head;
    if (const char* name = ColourName(colour)) {
        line += name;
    } else {
        char hex[8];
        std::snprintf(hex, sizeof hex, "#%02x%02x%02x", colour.r, colour.g, colour.b);
        line += hex;
    }
    line += ' ';
    // Modem replies carry their own line ends: written as \r and \n, so that
    // an entry stays one line and the bytes can still be read off it.
    for (const char c : Cp1251ToUtf8(text)) {
        if (c == '\r')
            line += "\\r";
        else if (c == '\n')
            line += "\\n";
        else if (static_cast<unsigned char>(c) < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02x", static_cast<unsigned char>(c));
            line += esc;
        } else
            line += c;
    }
    return line;
}

bool TTechnoLog::OpenFile()
{
    m_fd = files::Open(m_path, O_WRONLY | O_APPEND | O_CREAT, kPrivateFileMode);
    if (m_fd < 0) {
        m_error = errno;
        return false;
    }
    struct stat st{};
    const bool known = ::fstat(m_fd, &st) == 0;
    m_size = known ? static_cast<std::uint64_t>(st.st_size) : 0;
    // Every SMS and number passes through it: an older station's 0644 file is narrowed.
    if (known && S_ISREG(st.st_mode) && (st.st_mode & 07777) != kPrivateFileMode)
        files::NarrowMode(m_fd, kPrivateFileMode);
    return true;
}

bool TTechnoLog::Rotate()
{
    ::close(m_fd);
    m_fd = -1;
    const auto numbered = [this](int n) { return m_path + "." + std::to_string(n); };
    ::unlink(numbered(m_keep).c_str());
    for (int n = m_keep - 1; n >= 1; --n)
        ::rename(numbered(n).c_str(), numbered(n + 1).c_str());
    if (m_keep < 1 ? ::unlink(m_path.c_str()) != 0 : ::rename(m_path.c_str(), numbered(1).c_str()) != 0) {
        m_error = errno;
        return false;
    }
    return OpenFile();
}

bool TTechnoLog::Write(const std::string& line)
{
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(m_fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_error = n < 0 ? errno : ENOSPC;
            // Half a line would run into the next one: the file keeps whole
            // lines (as far as the disk lets it).
            [[maybe_unused]] const int cut = done > 0 ? ::ftruncate(m_fd, static_cast<off_t>(m_size)) : 0;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    m_size += line.size();
    return true;
}

TTechnoLog::Outcome TTechnoLog::Append(double when, const std::string& text, Rgb colour)
{
    const std::string line = LineText(when, text, colour) + "\n";
    bool ok = m_fd >= 0 || OpenFile();
    if (ok && m_size > 0 && m_size + line.size() > m_limit)
        ok = Rotate();
    ok = ok && Write(line);
    if (ok) {
        m_failing = false;
        return Outcome::Written;
    }
    // A descriptor on a file that failed is given up, so that the next line
    // opens the file again (a folder made writable, a file removed).
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    const bool first = !m_failing;
    m_failing = true;
    return first ? Outcome::Failed : Outcome::StillFailing;
}

std::string TechnoLogFailureText(const TTechnoLog& log)
{
    std::string why;
    switch (log.LastError()) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        why = "нет места на диске"_cp; break;
    case EROFS: why = "диск только для чтения"_cp; break;
    case EACCES:
    case EPERM: why = "нет прав на запись"_cp; break;
    case EISDIR: why = "под этим именем папка"_cp; break;
    case ENOENT:
    case ENOTDIR: why = "нет папки"_cp; break;
    case EIO: why = "ошибка ввода-вывода"_cp; break;
    default: why = std::string("ошибка "_cp) + std::to_string(log.LastError()); break;
    }
    return std::string("Технологический журнал не записывается в файл "_cp) + log.Path() + ": " + why;
}

} // namespace kv
