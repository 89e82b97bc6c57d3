#include "modem/SendSms.h"

#include "codec/Ucs2.h"
#include "modem/Commands.h"

namespace kv {

bool SendSms(TModem& modem, const std::string& number, const std::string& text, const WaitFn& wait)
{
    modem.SmsSending = true;
    if (!EnqueueCommand(modem, SendSmsCommand(number))) {
        modem.SmsSending = false;
        return false;
    }
    if (wait)
        wait(1000);
    if (!EnqueueCommand(modem, text + kCtrlZ)) {
        modem.SmsSending = false; // otherwise the polls would stay off for good
        return false;
    }
    return true;
}

bool SendUcs2Sms(TModem& modem, const std::string& number, const std::string& text, TModem::SmsOutcome outcome)
{
    if (modem.SmsSending.exchange(true))
        return false;
    modem.SetSmsOutcome(std::move(outcome));
    if (!modem.PutCommands({SendSmsCommand(TextToUcs2Hex(number)), TextToUcs2Hex(text) + kCtrlZ})) {
        modem.TakeSmsOutcome();
        modem.SmsSending = false;
        return false;
    }
    return true;
}

} // namespace kv
