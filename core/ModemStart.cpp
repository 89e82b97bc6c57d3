#include "core/ModemStart.h"

#include "codec/Ucs2.h"
#include "modem/Commands.h"

namespace kv {

void BeginModem1(TModem& modem, TComPort& port, const Pause& pause, const std::function<bool()>& startWorker,
                 bool& workerStarted)
{
    workerStarted = false;
    modem.ClearRx();
    modem.SmsSending = false;
    modem.SmsIndex = 1;
    modem.Running = true;
    port.Open();
    port.WriteText(std::string(kCmdLinkTest));
    pause(1000);
    // False only when a worker stopped a moment ago is still in its last
    // pass; it sees Running set again and carries on.
    if (startWorker)
        startWorker();
    workerStarted = true;
    // The echo, the text mode in UCS2, then the new-message indications.
    EnqueueCommand(modem, std::string(kCmdEchoOn));
    for (std::string_view line : kModem1Setup)
        EnqueueCommand(modem, std::string(line));
    pause(100);
    modem.ClearRx();
}

void BeginModem2(TModem& modem, TComPort& port, const Pause& pause, const std::function<bool()>& startWorker,
                 bool& workerStarted)
{
    workerStarted = false;
    modem.ClearRx();
    modem.SmsSending = false;
    modem.Running = true;
    port.Open();
    WriteTextModeSetup(port, pause);
    modem.ClearRx();
    if (startWorker)
        startWorker();
    workerStarted = true;
}

bool RequestBalance(TModem& modem, const std::string& ussd)
{
    modem.UssdPending = true;
    // A request the full ring refused gets no answer, and a pending flag nobody
    // clears would stop the polls for good.
    if (EnqueueCommand(modem, BalanceRequestCommand(TextToUcs2Hex(ussd))))
        return true;
    modem.UssdPending = false;
    return false;
}

} // namespace kv
