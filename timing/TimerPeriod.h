#pragma once
// The system's timer granularity for TMMTimer. Windows wakes sleeping threads
// on a 15.6 ms tick unless a finer period is asked for, and that request is
// system-wide, so it is held only while a timer that needs it is armed.
#include <cstdint>

namespace kv::timerperiod {

// The finest and coarsest periods the system offers, in ms; false when it has
// no usable timer.
bool Range(std::uint32_t& finest, std::uint32_t& coarsest);
// Asks for a period of `ms` (already within Range); each Begin is ended by an
// End with the same value.
void Begin(std::uint32_t ms);
void End(std::uint32_t ms);

} // namespace kv::timerperiod
