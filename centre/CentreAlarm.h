#pragma once
// One alarm of the centre's shared queue, as the desks see it. Texts are
// station text (code page 1251); the database holds them as UTF-8.
#include <string>

namespace kv::centre {

struct CentreAlarm {
    long long id = 0;
    std::string station; // the receiver that journalled its row
    long long seq = 0;   // the row's number in that receiver's main or ring journal
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

} // namespace kv::centre
