#pragma once
// The command lines the station sends to its modems, byte for byte.
#include "serial/SerialIo.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kv {

inline constexpr std::string_view kCmdSignalPoll = "AT+CSQ\r";
inline constexpr std::string_view kCmdMemoryPoll = "AT+CPMS?\r";
inline constexpr std::string_view kCmdListCalls = "AT+CLCC\r";
inline constexpr std::string_view kCmdAnswer = "ATA\r";
inline constexpr std::string_view kCmdHangUp = "ATH\r";
inline constexpr std::string_view kCmdLinkTest = "AT\r";
inline constexpr std::string_view kCmdEchoOn = "ATE1\r";
// SMS text mode with the UCS2 character set: SMS-SUBMIT, validity 24 h, UCS2 coding.
inline constexpr std::string_view kCmdTextMode = "AT+CMGF=1\r";
inline constexpr std::string_view kCmdCharsetUcs2 = "AT+CSCS=\"UCS2\"\r";
inline constexpr std::string_view kCmdTextParams = "AT+CSMP=17,167,0,25\r";
// The plain character set for a device command's text, and SMS-SUBMIT
// parameters with a validity of 7 days and the GSM default alphabet.
inline constexpr std::string_view kCmdCharsetIra = "AT+CSCS=\"IRA\"\r";
inline constexpr std::string_view kCmdTextParamsIra = "AT+CSMP=17,173,0,0\r";
// New-message indications: what the modem offers, then the setting chosen from it.
inline constexpr std::string_view kCmdIndicationsTest = "AT+CNMI=?\r";
inline constexpr char kCtrlZ = '\x1A';
// Aborts an SMS text at its prompt.
inline constexpr char kEsc = '\x1B';

// Modem 1's set-up after the echo: SMS text mode in UCS2, then the new-message
// indications (at the initialisation and again at every link restore).
inline constexpr std::string_view kModem1Setup[] = {kCmdTextMode, kCmdCharsetUcs2, kCmdTextParams,
                                                   kCmdIndicationsTest};

// "ATD" + number + ";\r": a voice call.
inline std::string DialCommand(std::string_view number) { return "ATD" + std::string(number) + ";\r"; }
// The USSD request of a balance enquiry; `hexCode` is the request code already in UCS2 hex.
// Data coding 15: GSM default alphabet, language unspecified.
inline std::string BalanceRequestCommand(std::string_view hexCode)
{
    return "AT+CUSD=1,\"" + std::string(hexCode) + "\",15\r";
}
inline std::string ReadSmsCommand(unsigned index) { return "AT+CMGR=" + std::to_string(index) + "\r"; }
// This message only: no delete flag, which would sweep others away with it.
inline std::string DeleteSmsCommand(unsigned index) { return "AT+CMGD=" + std::to_string(index) + "\r"; }
// Every stored message with its own index; under UCS2 some modems want the
// status string as UCS2 hex.
inline std::string ListSmsCommand(bool hexStatus)
{
    return hexStatus ? "AT+CMGL=\"0041004C004C\"\r" : "AT+CMGL=\"ALL\"\r";
}
// Reads and deletes from `storage` (mem1 only; the others stay as they are).
inline std::string SelectStorageCommand(std::string_view storage)
{
    return "AT+CPMS=\"" + std::string(storage) + "\"\r";
}
inline std::string SendSmsCommand(std::string_view number) { return "AT+CMGS=\"" + std::string(number) + "\"\r"; }
// The send command of one PDU in PDU mode: its TPDU's length in octets.
inline std::string PduSendCommand(int tpduLength) { return "AT+CMGS=" + std::to_string(tpduLength) + "\r"; }

// Sets a modem up for SMS text in UCS2 by writing straight to its port, with
// the pauses a modem needs between these lines: modem 2 at its start, and
// again when it is back after being unplugged.
inline void WriteTextModeSetup(ISerialIo& port, const std::function<void(std::uint32_t ms)>& pause)
{
    port.WriteText(std::string(kCmdEchoOn));
    port.WriteText(std::string(kCmdTextMode));
    pause(100);
    port.WriteText(std::string(kCmdCharsetUcs2));
    pause(100);
    port.WriteText(std::string(kCmdTextParams));
    pause(1000);
}

} // namespace kv
