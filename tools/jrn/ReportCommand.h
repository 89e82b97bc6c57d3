#pragma once
// korvalen-jrn report: the shift report from the journal files, without the station.
#include <iosfwd>

namespace kv::jrn {

// argv[1] is "report". Returns the exit code: 0 done (an empty period too,
// told on `err`), 1 a journal or an output file failed, 2 wrong usage, a bad
// date, an empty or future period.
int RunReport(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

} // namespace kv::jrn
