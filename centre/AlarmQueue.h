#pragma once
// The centre's alarms as the desks share them. An operator takes an alarm
// before handling it: one desk wins, the others are told who holds it. The
// hold is a lease that the desk renews while its dialog is open, so a desk
// that dies gives the alarm back to the queue by itself. Closing writes the
// result and the desk's "Обработка" row in one transaction.
//
// Texts in and out are station text (code page 1251); the database holds
// UTF-8. A database role that may only read (a viewer's) makes every change
// here fail with pg::Error, SQL state "42501".
#include "centre/CentreAlarm.h"
#include "centre/Pg.h"

#include <chrono>
#include <string>
#include <vector>

namespace kv::centre {

// holder: who holds the alarm when we lost it; empty when it is closed or gone.
struct TakeResult {
    bool taken = false;
    std::string holder;
};

class AlarmQueue {
public:
    static constexpr std::chrono::seconds kLease{120};

    // `desk`: this station's name in the centre ([Database] Station), station text.
    AlarmQueue(pg::Connection& db, std::string desk);

    // Ours when open, when its lease ran out, or when we hold it already
    // (the same operator opening it again); the lease starts anew.
    TakeResult Take(long long id, const std::string& op, std::chrono::seconds lease = kLease);
    // False when it is no longer ours.
    bool Renew(long long id, const std::string& op, std::chrono::seconds lease = kLease);
    // Back to the queue (the dialog cancelled).
    void Release(long long id, const std::string& op);
    // Closed with the result and comment, and a desk row "Обработка" with the
    // alarm's number and short name and `handledEvent` as its text. False,
    // with nothing written, when we no longer hold it. `row`: what was written.
    bool Close(long long id, const std::string& op, const std::string& result, const std::string& comment,
               const std::string& handledEvent, ClosedRow* row = nullptr);
    // Every alarm not closed, the oldest first.
    std::vector<CentreAlarm> Waiting();
    // Escalation is sent by one receiver: the first by name among those whose
    // modem 1 is up and whose heartbeat is recent. When that is `receiver`,
    // up to `limit` alarms open longer than `after`, not closed and not yet
    // escalated, are marked escalated and returned for sending (marked first:
    // each goes at most once); else nothing. A stranger's alarm never goes.
    std::vector<CentreAlarm> ClaimEscalations(const std::string& receiver, std::chrono::seconds after,
                                              int limit = 20);

private:
    pg::Connection& m_db;
    std::string m_desk; // UTF-8
};

// The alarms not closed, oldest first, also from a database of an older
// step (a desk reads what there is).
std::vector<CentreAlarm> WaitingAlarms(pg::Connection& db);

// Whether this connection's role may change the alarms (a viewer's may not).
bool CanWrite(pg::Connection& db);

} // namespace kv::centre
