#include "modem/SendSms.h"

#include "codec/Ucs2.h"
#include "modem/Commands.h"

namespace kv {

namespace {

bool QueueSend(TModem& modem, TModem::SmsSend send, const std::vector<std::string>& lines)
{
    // Set before the lines can be taken: the worker clears it when the send is over.
    const bool sending = modem.SmsSending.exchange(true);
    modem.PushSend(std::move(send));
    if (!modem.PutCommands(lines)) {
        modem.DropLastSend();
        modem.SmsSending = sending;
        return false;
    }
    return true;
}

} // namespace

bool SendSms(TModem& modem, const std::string& number, const std::string& text, const std::string& commandName)
{
    const std::vector<std::string> unit = {std::string(kCmdCharsetIra), std::string(kCmdTextParamsIra),
                                           SendSmsCommand(number),       text + kCtrlZ,
                                           std::string(kCmdCharsetUcs2), std::string(kCmdTextParams)};
    return QueueSend(modem, {number, text, true, {}, commandName}, unit);
}

bool SendUcs2Sms(TModem& modem, const std::string& number, const std::string& text, TModem::SmsOutcome outcome)
{
    return QueueSend(modem, {number, text, false, std::move(outcome)},
                     {SendSmsCommand(TextToUcs2Hex(number)), TextToUcs2Hex(text) + kCtrlZ});
}

} // namespace kv
