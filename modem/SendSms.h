#pragma once
// One SMS to a number through modem 1. Only queues lines; the modem-1 worker
// sends them and reports the outcome.
#include "modem/Modem.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kv {

// Waits the given milliseconds (WaitMs in the station: the UI keeps serving meanwhile).
using WaitFn = std::function<void(std::uint32_t)>;

// Sets SmsSending, queues the send command, waits one second for the modem's
// prompt to come and go, then queues the text closed by Ctrl-Z. Number and text
// go as they are: the caller has chosen the modem's character set. False when
// the queue refused the lines (full ring); SmsSending is then cleared again.
bool SendSms(TModem& modem, const std::string& number, const std::string& text, const WaitFn& wait);

// One SMS whose number and text travel as UCS2 hex, so that Cyrillic arrives;
// modem 1 stays in its UCS2 set. The command line and the text are queued
// together. `outcome` (may be empty) is told on the worker thread whether the
// modem confirmed the message. False, with nothing queued, when the ring has
// no room or another send is under way.
bool SendUcs2Sms(TModem& modem, const std::string& number, const std::string& text, TModem::SmsOutcome outcome);

} // namespace kv
