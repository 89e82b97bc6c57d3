#pragma once
// The centre's tables, created and upgraded by whichever station connects
// first. Each numbered step runs in a transaction of its own and is recorded
// in schema_migrations; stations starting together queue on an advisory lock,
// so each step is applied once.
#include "centre/Pg.h"

namespace kv::centre {

// The number of the newest step this build knows.
int LatestSchemaVersion();

// Applies the steps the database lacks, in order; returns how many. A
// database already past this build is left as it is. Throws pg::Error.
int Migrate(pg::Connection& db);

} // namespace kv::centre
