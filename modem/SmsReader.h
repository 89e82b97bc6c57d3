#pragma once
// The fields of modem 1's SMS replies: the memory state of "+CPMS", the stored
// messages of "+CMGR" and "+CMGL" (and "+CMT", a message given straight to the
// station), and the sender's number in whatever form the modem wrote it.
#include "modem/LineReader.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// "+CPMS: "SM_P",2,40,..." (the query form): where messages are read and
// deleted (mem1) with its count and size, and where received ones are stored
// (mem3, the same as mem1 when the modem names one storage only).
struct MemoryState {
    std::string readStorage;
    int used = 0;
    int total = 0;
    std::string receiveStorage;
    int receiveUsed = 0;
    int receiveTotal = 0;
};
// Nothing when the line holds no count that is a number.
std::optional<MemoryState> ParseMemoryState(std::string_view line);

struct StoredMessage {
    int index = -1;          // the modem's own index, from a list; -1 from a read
    std::string status;      // "REC UNREAD", "REC READ", ... (decoded when sent as UCS2 hex)
    bool empty = false;      // "+CMGR: 0,,0": nothing stored at that index
    bool pdu = false;        // a numeric status: the modem is in PDU mode, the body is the PDU
    std::string numberField; // the sender as the modem wrote it
    std::optional<int> numberType;
    std::string timestamp;
    // From a read or a delivery under "AT+CSDH=1": the TPDU's first octet and data coding.
    std::optional<int> firstOctet;
    std::optional<int> dcs;
    std::string body; // the line after the header, as it came
};

// A "+CMGR:", "+CMGL:" or "+CMT:" line with its body.
std::optional<StoredMessage> ParseStoredMessage(const ModemLine& line);
// "REC UNREAD" and "REC READ": a message the SIM received.
bool IsReceivedStatus(std::string_view status);

// The messages of a whole reply to `command` ("AT+CMGR=3\r", "AT+CMGL=...\r"),
// its own lines only, through the line reader as the worker reads it: for
// tests and the fuzzer.
std::vector<StoredMessage> ParseStoredMessages(std::string reply, std::string_view command, bool ucs2 = false);

// A number field: UCS2 hex of a number or a name, or a plain number
// ("+79111111111", digits, '*', '#'); type 145 (international) without its '+'
// gets one. Nothing for a field that is neither.
std::optional<std::string> DecodeNumberField(std::string_view field, std::optional<int> type);

} // namespace kv
