#pragma once
// A modem's start as "УСТАНОВИТЬ СВЯЗЬ" does it, for the modem window and the
// receiver alike: the port opened, the set-up written, the worker started.
#include "modem/Modem.h"
#include "serial/CPort.h"

#include <cstdint>
#include <functional>

namespace kv {

using Pause = std::function<void(std::uint32_t ms)>;
// `startWorker` starts the modem's worker (false when one still runs, which
// carries on). Throws what the port threw; `workerStarted` tells whether the
// worker had been started by then.
void BeginModem1(TModem& modem, TComPort& port, const Pause& pause, const std::function<bool()>& startWorker,
                 bool& workerStarted);
void BeginModem2(TModem& modem, TComPort& port, const Pause& pause, const std::function<bool()>& startWorker,
                 bool& workerStarted);
// Modem 1 asked for its balance by the USSD request `ussd` (station text);
// false when its queue refused the request (nothing is then awaited).
bool RequestBalance(TModem& modem, const std::string& ussd);

} // namespace kv
