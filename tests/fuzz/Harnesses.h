#pragma once
// Fuzz harnesses. Each takes arbitrary bytes, drives one part of the station
// with them and checks what must hold whatever the bytes are. The libFuzzer
// programs call them, and so does the regression test that replays every
// committed corpus file and crash input in the normal build.
#include <cstddef>
#include <cstdint>
#include <string>

namespace kv::fuzz {

// The table file loader on the bytes of a file; what it loaded is saved and
// reloaded. Also bounds the memory a load holds by the file's size.
int FuzzTableLoader(const std::uint8_t* data, std::size_t size);
// The UCS2 codec: the bytes as hex text to decode, and as station text to
// encode and decode again.
int FuzzUcs2(const std::uint8_t* data, std::size_t size);
// The stored-message parser through the line reader. First byte: the command
// the reply answers ("AT+CMGR=<1 + byte>" below 40, the list from 40 on); the
// rest: the reply.
int FuzzReadReply(const std::uint8_t* data, std::size_t size);
// Modem 1's reply dispatch. First byte: bit 0 SmsSending, bit 1 UssdPending,
// bit 2 LinkLost, bit 3 the plain character set on. Second byte: the command in
// flight, an index into DispatchCommands (past its end: none). The rest: the
// modem's bytes, a zero byte between pieces that arrive one after the other
// (the port drops zero bytes, so the buffer never holds one).
int FuzzReplyDispatch(const std::uint8_t* data, std::size_t size);
// The SMS transfer codec. First byte: bit 0 the rest is hex text as it stands
// (else its octets are written as hex), bits 1-2 the coding of the user data
// alone (7-bit, 8-bit, UCS2, mod 3), bit 3 a header in it. Second byte: its
// length (0xFF: all of it). The rest: a delivery or a send, and that user data.
int FuzzSmsPdu(const std::uint8_t* data, std::size_t size);
// The last-contact file's reader on the bytes of a file: what it read, written
// back, reads again the same and without a damaged line.
int FuzzLastContacts(const std::uint8_t* data, std::size_t size);

// The commands the dispatch fuzzer puts in flight: one of each kind the worker sends.
inline constexpr const char* kDispatchCommands[] = {
    "AT+CSQ\r",          "AT+CPMS?\r",          "AT+CMGL=\"ALL\"\r", "AT+CMGR=3\r",
    "AT+CMGD=3\r",       "AT+CMGS=\"+79111111111\"\r",                "*8411#_on#\x1A",
    "AT+CLCC\r",         "ATD+79111111111;\r",  "ATA\r",               "AT+CUSD=1,\"002A0031003000300023\",15\r",
    "AT+CNMI=?\r",       "AT+CNMI=2,1,0,0,0\r", "AT\r",                "AT+CSCS=\"UCS2\"\r",
    "AT+CPMS=\"SM\"\r",  "ATE1\r",
};

// A property that failed. By default the message goes to stderr and the
// process aborts (a crash for libFuzzer); the regression test installs a
// handler that throws instead. A handler that returns still aborts.
using FailureHandler = void (*)(const std::string& message);
void SetFailureHandler(FailureHandler handler);

} // namespace kv::fuzz
