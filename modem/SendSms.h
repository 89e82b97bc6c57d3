#pragma once
// SMS through modem 1. Only queues lines; the modem-1 worker sends them and
// reports the outcome. Each send is one unit in the command ring: nothing of
// anyone else's comes between its lines, and its text goes only after the
// modem's "> " prompt for that send (a send whose command is refused never
// writes its text).
//
// A text longer than one SMS goes whole, as a concatenated message sent in PDU
// mode (a new reference per message), where the modem takes PDU mode; a modem
// that refuses it gets the one-SMS form. The journal row says which.
#include "modem/Modem.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace kv {

// What one text-mode SMS holds: 7-bit characters, or UCS2 units.
inline constexpr std::size_t kGsm7Limit = 160;
inline constexpr std::size_t kUcs2Limit = 70;
// The most parts a long text goes in; a longer one is cut after a word.
inline constexpr std::size_t kMaxSmsParts = 6;

// The text within `limit` characters (code page 1251, one byte each), cut
// after a whole word when it is longer; a single longer word is cut.
std::string CutAtWord(std::string_view text, std::size_t limit);

// A device command: the plain character set for its text, the send command,
// the text closed by Ctrl-Z, and UCS2 again. Sets SmsSending. The worker
// journals the outcome under the device's number with the command's name
// (`commandName`, or the text when empty) and shows it on that device's card.
// False, with nothing queued, when the ring has no room.
bool SendSms(TModem& modem, const std::string& number, const std::string& text,
             const std::string& commandName = {});

// One SMS whose number and text travel as UCS2 hex, so that Cyrillic arrives;
// modem 1 stays in its UCS2 set. `outcome` (may be empty) is told once, on the
// worker thread, whether the modem confirmed the message (all its parts). A
// send queued while another is under way waits behind it. `oneSmsText` is the
// text's own one-SMS form for a modem without PDU mode (empty: the text cut
// after a word). False, with nothing queued, when the ring has no room.
bool SendUcs2Sms(TModem& modem, const std::string& number, const std::string& text, TModem::SmsOutcome outcome,
                 const std::string& oneSmsText = {});

} // namespace kv
