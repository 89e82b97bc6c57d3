#include "modem/SmsReader.h"

#include "codec/Number.h"
#include "codec/Ucs2.h"

namespace kv {

namespace {

// Cuts the buffer's first characters up to and including the marker and the
// `extra` characters after it; nothing when the marker is absent.
void CutThrough(std::string& buffer, std::string_view marker, std::size_t extra)
{
    const std::size_t at = buffer.find(marker);
    if (at == std::string::npos)
        return;
    buffer.erase(0, std::min(buffer.size(), at + marker.size() + extra));
}

} // namespace

std::int64_t TakeMemoryCount(std::string& buffer)
{
    static constexpr std::string_view kMarker = "+CPMS: \"SM_P\",";
    if (buffer.find(kMarker) == std::string::npos) {
        const std::size_t last = buffer.rfind("+CPMS");
        if (last != std::string::npos)
            buffer.erase(0, last + 5);
        throw EConvertError("memory reply without the SM_P storage");
    }
    CutThrough(buffer, kMarker, 0);
    const std::size_t comma = buffer.find(',');
    const std::string countText = comma == std::string::npos ? std::string() : buffer.substr(0, comma);
    const auto count = TextToInt(countText);
    if (!count)
        throw EConvertError("'" + countText + "' is not a valid integer value");
    return *count;
}

ReadReply ParseReadReply(std::string buffer, std::uint16_t& smsIndex)
{
    ReadReply reply;
    if (buffer == "AT+CMGR=" + std::to_string(smsIndex) + "\r\r\nOK\r\n") {
        smsIndex = static_cast<std::uint16_t>(smsIndex + 1);
        if (smsIndex > 10)
            smsIndex = 1;
        return reply;
    }
    reply.found = true;
    // The marker, then the comma and the opening quote of the number.
    CutThrough(buffer, "\"REC UNREAD\"", 2);
    CutThrough(buffer, "\"REC READ\"", 2);
    const std::size_t quote = buffer.find('"');
    reply.numberHex = quote == std::string::npos ? std::string() : buffer.substr(0, quote);
    CutThrough(buffer, "\n", 0);
    const std::size_t cr = buffer.find('\r');
    reply.bodyHex = cr == std::string::npos ? std::string() : buffer.substr(0, cr);
    return reply;
}

} // namespace kv
