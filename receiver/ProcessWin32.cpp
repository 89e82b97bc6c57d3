#include "receiver/Process.h"

#include <windows.h>

namespace kv {

void PrepareReceiverProcess()
{
    // The lines are UTF-8; a console in the OEM code page would garble them.
    ::SetConsoleOutputCP(CP_UTF8);
}

// The console's events are handled from CloseOnSignals on; nothing is held before.
void ReleaseStopSignals() {}

} // namespace kv
