#include "modem/SendSms.h"

#include "codec/SmsPdu.h"
#include "codec/Ucs2.h"
#include "modem/Commands.h"
#include "modem/SmsInbox.h"

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

// A text longer than one SMS: its PDU parts in PDU mode and back, then the
// one-SMS unit the worker sends instead when the modem refuses PDU mode (and
// skips when the parts went). Both are queued so that the choice is made by
// the worker, which learns what the modem takes.
bool QueueLong(TModem& modem, TModem::SmsSend send, const std::vector<sms::OutgoingPdu>& pdus,
               const std::vector<std::string>& oneSms, std::string_view fallbackCommand)
{
    std::vector<std::string> lines = {std::string(kCmdPduMode)};
    for (const sms::OutgoingPdu& pdu : pdus) {
        lines.push_back(PduSendCommand(pdu.tpduLength));
        lines.push_back(pdu.hex + kCtrlZ);
    }
    lines.push_back(std::string(kCmdTextMode));
    lines.insert(lines.end(), oneSms.begin(), oneSms.end());
    send.parts = static_cast<int>(pdus.size());
    send.fallbackCommand = std::string(fallbackCommand);
    return QueueSend(modem, std::move(send), lines);
}

std::vector<sms::OutgoingPdu> PartsOf(TModem& modem, const std::string& number, std::u16string units)
{
    // Beyond kMaxSmsParts the text is cut after a word to fit: a huge text
    // would hold the ring and the modem for minutes.
    const bool gsm7 = sms::FitsGsm7(units);
    for (std::size_t room = kMaxSmsParts * (gsm7 ? 153 : 67);; room -= 8) {
        const std::vector<std::u16string> split = sms::SplitForSms(units, gsm7 ? sms::Coding::Gsm7 : sms::Coding::Ucs2);
        if (split.size() <= kMaxSmsParts)
            break;
        units = sms::StationTextToUtf16(CutAtWord(sms::Utf16ToStationText(units), room));
    }
    return sms::EncodeSubmit(number, units, modem.NextSmsReference.fetch_add(1) % 256);
}

} // namespace

std::string CutAtWord(std::string_view text, std::size_t limit)
{
    if (text.size() <= limit)
        return std::string(text);
    std::string_view kept = text.substr(0, limit + 1);
    const std::size_t blank = kept.find_last_of(" \t\r\n");
    // One word longer than a message is cut where the message ends.
    kept = blank == std::string_view::npos || blank == 0 ? text.substr(0, limit) : kept.substr(0, blank);
    while (!kept.empty() && (kept.back() == ' ' || kept.back() == '\t' || kept.back() == '\r' || kept.back() == '\n'))
        kept.remove_suffix(1);
    return std::string(kept);
}

bool SendSms(TModem& modem, const std::string& number, const std::string& text, const std::string& commandName)
{
    const auto unitFor = [&](const std::string& body) {
        return std::vector<std::string>{std::string(kCmdCharsetIra), std::string(kCmdTextParamsIra),
                                        SendSmsCommand(number),       body + kCtrlZ,
                                        std::string(kCmdCharsetUcs2), std::string(kCmdTextParams)};
    };
    TModem::SmsSend send{number, text, true, {}, commandName};
    const std::u16string units = sms::StationTextToUtf16(text);
    const bool gsm7 = sms::FitsGsm7(units);
    if (sms::SplitForSms(units, gsm7 ? sms::Coding::Gsm7 : sms::Coding::Ucs2).size() <= 1)
        return QueueSend(modem, std::move(send), unitFor(text));
    const std::string cut = CutAtWord(text, gsm7 ? kGsm7Limit : kUcs2Limit);
    return QueueLong(modem, std::move(send), PartsOf(modem, number, units), unitFor(cut), SendSmsCommand(number));
}

bool SendUcs2Sms(TModem& modem, const std::string& number, const std::string& text, TModem::SmsOutcome outcome,
                 const std::string& oneSmsText)
{
    const auto unitFor = [&](const std::string& body) {
        return std::vector<std::string>{SendSmsCommand(TextToUcs2Hex(number)), TextToUcs2Hex(body) + kCtrlZ};
    };
    TModem::SmsSend send{number, text, false, std::move(outcome)};
    const std::u16string units = sms::StationTextToUtf16(text);
    if (sms::SplitForSms(units, sms::Coding::Ucs2).size() <= 1)
        return QueueSend(modem, std::move(send), unitFor(text));
    const std::string cut = oneSmsText.empty() ? CutAtWord(text, kUcs2Limit) : oneSmsText;
    return QueueLong(modem, std::move(send), PartsOf(modem, number, units), unitFor(cut),
                     SendSmsCommand(TextToUcs2Hex(number)));
}

} // namespace kv
