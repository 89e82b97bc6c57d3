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
// The read-reply parser. First byte: SmsIndex (1 + byte % 10); the rest: the
// receive buffer.
int FuzzReadReply(const std::uint8_t* data, std::size_t size);
// Modem 1's reply dispatch. First byte: bit 0 SmsSending, bit 1 UssdPending,
// bit 2 LinkLost, bits 3-7 SmsIndex (1 + value % 10). The rest: the modem's
// bytes, a zero byte between pieces that arrive one after the other (the port
// drops zero bytes, so the buffer never holds one).
int FuzzReplyDispatch(const std::uint8_t* data, std::size_t size);

// A property that failed. By default the message goes to stderr and the
// process aborts (a crash for libFuzzer); the regression test installs a
// handler that throws instead. A handler that returns still aborts.
using FailureHandler = void (*)(const std::string& message);
void SetFailureHandler(FailureHandler handler);

} // namespace kv::fuzz
