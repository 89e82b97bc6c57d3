#pragma once
// SMS through modem 1. Only queues lines; the modem-1 worker sends them and
// reports the outcome. Each send is one unit in the command ring: nothing of
// anyone else's comes between its lines, and its text goes only after the
// modem's "> " prompt for that send (a send whose command is refused never
// writes its text).
#include "modem/Modem.h"

#include <string>

namespace kv {

// A device command: the plain character set for its text, the send command,
// the text closed by Ctrl-Z, and UCS2 again. Sets SmsSending. The worker
// journals the outcome under the device's number with the command's name
// (`commandName`, or the text when empty) and shows it on that device's card.
// False, with nothing queued, when the ring has no room.
bool SendSms(TModem& modem, const std::string& number, const std::string& text,
             const std::string& commandName = {});

// One SMS whose number and text travel as UCS2 hex, so that Cyrillic arrives;
// modem 1 stays in its UCS2 set. `outcome` (may be empty) is told once, on the
// worker thread, whether the modem confirmed the message. A send queued while
// another is under way waits behind it. False, with nothing queued, when the
// ring has no room.
bool SendUcs2Sms(TModem& modem, const std::string& number, const std::string& text, TModem::SmsOutcome outcome);

} // namespace kv
