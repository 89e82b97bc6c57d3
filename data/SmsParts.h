#pragma once
// The parts of long messages read from the SIM while their set is not yet
// whole, and the sets already journalled. A part is kept here, on disk, before
// its SIM slot is freed, so that a SIM of ten slots never fills with waiting
// parts and a part read before a crash is joined after it.
//
// The file ("smsparts.bin" beside the tables) is rewritten whole on each
// change (a temporary file, synced, renamed over the old one). It is a list of
// lines, each with its own check sum: a damaged line costs that line only.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

inline constexpr char kSmsPartsFile[] = "smsparts.bin";

// Parts of one sender's message: senders reuse references, so a set is named
// by sender, reference and total together.
struct SmsSetId {
    std::string sender; // station text
    unsigned reference = 0;
    unsigned total = 0;
    friend auto operator<=>(const SmsSetId&, const SmsSetId&) = default;
};

struct SmsPart {
    unsigned part = 0;      // 1..total
    std::string timestamp;  // the service centre's, as read
    std::string text;       // station text
    double receivedAt = 0;  // local date-time, days
};

class SmsPartStore {
public:
    // No file name: kept in memory only.
    explicit SmsPartStore(std::string path = {}) : m_path(std::move(path)) {}

    // Reads the file. A missing file is an empty store; a damaged line is
    // left out (Damaged() then tells, and the file is kept aside as
    // "<file>.damaged" before the next save overwrites it).
    void Load();
    bool Damaged() const { return m_damaged; }

    enum class Added { New, Duplicate, SetJournalled, OtherSend };
    // What the part is to the store: new (kept; when the file could not be
    // written, Saved() says false and the part is not kept), one it already
    // has, or one of a set already journalled whose part numbers it was not
    // among. A device that restarts may count its references anew: a part
    // sent long before or after the parts waiting under the same name is of
    // another message (OtherSend, not kept: the set waiting goes first), and
    // one long after a journalled set starts a new set.
    Added Add(const SmsSetId& id, const SmsPart& part);
    // Whether the last change reached the disk.
    bool Saved() const { return m_saved; }

    const std::map<SmsSetId, std::map<unsigned, SmsPart>>& Waiting() const { return m_waiting; }
    bool Complete(const SmsSetId& id) const;

    // The set's text went into the journal with these parts: they go, and the
    // set is remembered for a day so that a late part is told from a duplicate.
    // False when the file could not be written.
    bool MarkJournalled(const SmsSetId& id, double now);
    // Forgets journalled sets older than a day.
    void Expire(double now);

    // The set's journal tag: the same parts give the same tag after a restart.
    static std::string TagOf(const SmsSetId& id, const std::map<unsigned, SmsPart>& parts);

private:
    bool Save();

    std::string m_path;
    std::map<SmsSetId, std::map<unsigned, SmsPart>> m_waiting;
    struct Done {
        std::set<unsigned> parts;
        double at = 0;
        std::string timestamp; // its first part's
    };
    std::map<SmsSetId, Done> m_done;
    bool m_damaged = false;
    bool m_saved = true;
};

// Whether two service-centre time stamps ("yy/MM/dd,hh:mm:ss+zz") are of one
// sending: an hour apart at most. A stamp that does not read counts as the same.
bool SameSending(std::string_view a, std::string_view b);

// The joined text of the parts in part order; a set that lacks parts ends in
// the note naming those it has: " (неполное сообщение: части 1, 3 из 3)".
std::string JoinParts(const std::map<unsigned, SmsPart>& parts, unsigned total);
// The note alone, for the parts given.
std::string IncompleteNote(const std::set<unsigned>& parts, unsigned total);

} // namespace kv
