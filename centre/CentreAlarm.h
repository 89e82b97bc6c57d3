#pragma once
// One alarm of the centre's shared queue, as the desks see it. Texts are
// station text (code page 1251); the database holds them as UTF-8.
#include <functional>
#include <string>
#include <string_view>

namespace kv::centre {

struct CentreAlarm {
    long long id = 0;
    std::string station; // the receiver that journalled its row
    std::string journal = "main"; // "main" or "ring"
    long long seq = 0;   // the row's number in that journal
    std::string shortName;
    std::string tel;
    std::string kind;  // the kind's key of "[Priorities]": "Intrusion", "Fire", ...
    std::string event; // the row's text
    double openedAt = 0; // station date-time of the row
    std::string state;   // "open", "taken" or "closed"
    std::string takenBy; // the operator holding it, while taken
    double leaseUntil = 0; // seconds since the epoch; 0 when not taken
    bool escalated = false;
};

// The "Обработка" row a close wrote to the centre, as the desk journals it too.
struct ClosedRow {
    long long deskSeq = 0; // its number among this desk's rows in the centre
    double at = 0;         // station date-time of the centre's row
    std::string tel, event;
};

// A journal's tag on the desk's own copy of that row: the forwarder sends it
// as that row, not as one more.
inline constexpr std::string_view kDeskRowTag = "centre-desk-row ";
inline std::string DeskRowTag(long long deskSeq) { return std::string(kDeskRowTag) + std::to_string(deskSeq); }

// What a desk does to an alarm of the queue. Each call returns at once; the
// answer comes later on the thread that the implementation posts to (the UI's).
class IAlarmHandling {
public:
    virtual ~IAlarmHandling() = default;
    // Taken by `op`, or why not: who holds it ("" when it is closed or the
    // database cannot be reached, `error` saying so).
    using TakeDone = std::function<void(bool taken, const std::string& holder, const std::string& error)>;
    virtual void Take(long long id, const std::string& op, TakeDone done) = 0;
    // While the handling dialog is open: the lease goes on.
    virtual void Renew(long long id, const std::string& op) = 0;
    // The dialog was cancelled: back to the queue.
    virtual void Release(long long id, const std::string& op) = 0;
    // The result and the "Обработка" row (`row`, when closed); `closed` false
    // when the alarm was no longer ours or the database failed (`error`).
    using CloseDone = std::function<void(bool closed, const std::string& error, const ClosedRow& row)>;
    virtual void Close(long long id, const std::string& op, const std::string& result, const std::string& comment,
                       const std::string& handledEvent, CloseDone done) = 0;
};

} // namespace kv::centre
