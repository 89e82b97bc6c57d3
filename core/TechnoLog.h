#pragma once
// The technological journal's file: every line the journal receives, kept
// after the station closes. UTF-8, one line per entry:
//     2026-12-07 22:01:18.123 green GSM-модем на связи.
// Rotated at a size limit: "techno.log" becomes "techno.log.1", the older
// files move up by one, and the oldest beyond `keep` is removed.
#include "data/Rgb.h"

#include <cstdint>
#include <string>

namespace kv {

class TTechnoLog {
public:
    static constexpr std::uint64_t kLimit = 10u * 1024 * 1024;
    static constexpr int kKeep = 5;

    explicit TTechnoLog(std::string path, std::uint64_t limit = kLimit, int keep = kKeep);
    ~TTechnoLog();
    TTechnoLog(const TTechnoLog&) = delete;
    TTechnoLog& operator=(const TTechnoLog&) = delete;

    enum class Outcome { Written, Failed, StillFailing };
    // `text` is station text. Failed for the first line that could not be
    // written after one that could (or the very first); StillFailing while
    // the file stays unwritable: the caller reports a failure once. Every line
    // tries again, so a disk with room again is written at once.
    Outcome Append(double when, const std::string& text, Rgb colour);
    // errno of the last failure.
    int LastError() const { return m_error; }
    const std::string& Path() const { return m_path; }

    // The line as written, without its line end.
    static std::string LineText(double when, const std::string& text, Rgb colour);
    static const char* ColourName(Rgb colour);

private:
    bool OpenFile();
    bool Rotate();
    bool Write(const std::string& line);

    std::string m_path;
    std::uint64_t m_limit;
    int m_keep;
    int m_fd = -1;
    std::uint64_t m_size = 0;
    bool m_failing = false;
    int m_error = 0;
};

// Station text for the operator: why the file cannot be written.
std::string TechnoLogFailureText(const TTechnoLog& log);

} // namespace kv
