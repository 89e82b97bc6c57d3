#pragma once
// Cutting the SIM memory count and a stored message out of modem 1's replies.
#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

// The number of stored messages: the first number after "+CPMS: \"SM_P\",".
// Cuts the buffer through that marker first (through the last "+CPMS" when the
// storage is another one), so a reply that cannot be read is not read again and again.
// Throws EConvertError when the storage marker is missing or the count is not a number.
std::int64_t TakeMemoryCount(std::string& buffer);

struct ReadReply {
    bool found = false;
    std::string numberHex;
    std::string bodyHex;
};

// A read reply for index `smsIndex`. The exact empty-index reply advances the
// index (10 wraps to 1) and finds nothing; anything else is taken as a message,
// cut from its status field ("REC UNREAD" or "REC READ"), and leaves the index.
ReadReply ParseReadReply(std::string buffer, std::uint16_t& smsIndex);

} // namespace kv
