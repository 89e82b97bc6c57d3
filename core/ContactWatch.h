#pragma once
// Each device's last sign of life (an SMS the station matched to it, an alarm
// call from it, an answered ring-round call) and the supervision of silence: a
// device not heard for longer than its supervision time is silent, once, until
// it is heard again. The supervision time is twice the device's ring-round
// interval while the ring-round calls it, else the station's `SilentHours`
// (none when that is 0), and never under kMinSupervisionMs. Silence is measured on the monotonic clock and never
// from before the watch began (a start, a change of the register or of the
// rule): a station started after a night off does not call every device silent
// at once.
//
// The last contacts are kept in "lastcontact.ini" (data/LastContacts.h),
// written whole through a temporary file at most every kSaveEveryMs, so that
// the reports themselves never wait for it and a restart loses at most that
// much of it.
//
// UI thread only; no widgets. All texts are code page 1251 bytes.
#include "data/LastContacts.h"
#include "timing/Clock.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// "сообщение", "вызов", "обзвон".
std::string_view ContactWords(ContactKind kind);
// "09.12.2026 22:40:11, обзвон"; empty when never heard.
std::string LastContactText(const LastContact& contact);
// "2 ч 30 мин", "40 мин"; "выключен" for 0.
std::string SupervisionText(std::uint64_t ms);

// "[Supervision] SilentHours" of "config.ini" (the modem window's field):
// hours without a sign of life after which a device the ring-round does not
// call is silent; 0 (missing, empty) is off. What is no number of hours is
// off too, and told in `problem`.
double ParseSilentHours(const std::string& text, std::string& problem);

class ContactWatch {
public:
    static constexpr std::uint64_t kSaveEveryMs = 5000;
    // No device is called silent sooner: one ring-round call alone may take
    // 25 s and others may be due before it, so a shorter time would report
    // live devices of short intervals.
    static constexpr std::uint64_t kMinSupervisionMs = 5 * 60000;

    struct Device {
        std::string tel;
        std::string shortName;
        bool ringRound = false;
        double intervalMinutes = 0;
    };

    explicit ContactWatch(IClock& clock);
    // Tests put a virtual clock here; what was heard keeps its age.
    void SetClock(IClock& clock);

    // The register as the board was built from it; the first device of a number counts.
    void SetDevices(const std::vector<Device>& devices);
    // Whether modem 1 (the reports) and the ring-round worker run: a device
    // is supervised by its ring-round only while that runs, by the station's
    // time only while reports can come.
    void SetRunning(bool reports, bool ringRound);
    // The station's time for the devices the ring-round does not call; 0: none.
    void SetSilentHours(double hours);

    // A sign of life of that number; ignored for a number of no device.
    // Returns true when the device had been silent.
    bool Heard(const std::string& tel, ContactKind kind);
    // The devices that have just gone silent (each once).
    std::vector<std::string> Check();

    std::optional<LastContact> Of(const std::string& tel) const;
    bool Silent(const std::string& tel) const;
    // The short names of the silent devices, for the board.
    std::vector<std::string> SilentNames() const;
    // 0: not supervised.
    std::uint64_t SupervisionMs(const std::string& tel) const;
    const std::vector<Device>& Devices() const { return m_devices; }

    // Reads the file. A damaged one is set aside as "<file>.damaged" and told
    // through `problem`; what could be read of it is kept.
    void Load(const std::string& fileName, const std::function<void(const std::string&)>& problem);
    // The clean close: the open rows are journalled as left unhandled and
    // gone, so the next run supervises every device afresh. (After a crash
    // the rows come back with the record, and the silences stay with them.)
    void ForgetSilences();
    // Writes when something changed and kSaveEveryMs have passed since the last write.
    void SaveIfDue();
    // Writes now when something changed (the station's close). False when it could not.
    bool Flush();
    bool Dirty() const { return m_dirty; }
    // Told once per failing streak: the file could not be written.
    std::function<void(const std::string&)> OnSaveFailed;

private:
    struct Watch {
        bool ruled = false;
        std::uint64_t sinceMs = 0;      // the rule in force since
        std::uint64_t supervisionMs = 0;
        std::optional<std::uint64_t> heardMs; // heard in this run
    };
    std::uint64_t Rule(const Device& device) const;
    void ApplyRules();
    std::uint64_t NowMs() const;

    IClock* m_clock;
    std::uint64_t m_clockBase = 0;
    std::uint64_t m_clockStart = 0;
    std::vector<Device> m_devices;
    std::map<std::string, Watch> m_watch;
    LastContacts m_contacts;
    bool m_reportsRunning = false;
    bool m_ringRoundRunning = false;
    double m_silentHours = 0;
    std::string m_fileName;
    bool m_dirty = false;
    std::optional<std::uint64_t> m_savedMs;
    bool m_saveFailed = false;
};

} // namespace kv
