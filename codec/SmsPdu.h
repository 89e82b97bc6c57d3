#pragma once
// SMS transfer PDUs: the SMS-DELIVER a modem gives in PDU mode (and the user
// data a text-mode modem shows as hex), and the SMS-SUBMIT the station sends.
// Our own codec of the transfer layer: addresses (international, national,
// alphanumeric in packed 7-bit), the service-centre time stamp, the data
// coding (GSM 7-bit default alphabet with its extension table, 8-bit, UCS2)
// and the user data header (concatenation with 8- and 16-bit references;
// other elements skipped by their length).
//
// Text comes out twice: as UTF-16 (exact) and as station text (code page
// 1251; a character the code page lacks becomes '?').
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kv::sms {

enum class Coding { Gsm7, Eight, Ucs2 };

// The concatenation element of a user data header.
struct Concat {
    unsigned reference = 0; // 0..255, or 0..65535 when wide
    bool wide = false;      // the 16-bit reference element (IEI 08)
    unsigned total = 0;     // parts in the set, 1..255
    unsigned part = 0;      // this part's number, 1..total
};

struct UserData {
    std::optional<Concat> concat; // only when the header holds a valid one
    std::u16string units;
    std::string text; // code page 1251
};

struct Deliver {
    std::string smsc;        // the service centre's number ("+79168999100"), may be empty
    std::string sender;      // "+79161234567", national digits, or a name when alphanumeric
    bool alphanumericSender = false;
    int senderType = 0x81;   // the type-of-address octet (0x91 international, 0xD0 alphanumeric)
    int firstOctet = 0;      // TP-MTI, TP-MMS, TP-SRI, TP-UDHI, TP-RP bits
    int protocolId = 0;
    int dcs = 0;
    Coding coding = Coding::Gsm7;
    // "yy/MM/dd,hh:mm:ss+zz" as a text-mode modem writes it (zz in quarter
    // hours, signed).
    std::string timestamp;
    UserData data;
};

// An SMS-SUBMIT as the station hands it to a modem (what a modem or a test
// sees after "AT+CMGS=<n>" in PDU mode).
struct Submit {
    std::string smsc;        // empty for "00", the SIM's own service centre
    std::string number;      // "+79161234567" or national digits
    int numberType = 0x81;
    int firstOctet = 0;      // TP-MTI, TP-RD, TP-VPF, TP-SRR, TP-UDHI, TP-RP bits
    int messageReference = 0;
    int protocolId = 0;
    int dcs = 0;
    Coding coding = Coding::Gsm7;
    UserData data;
};

// The data coding scheme's alphabet: the general groups (00xx), the message
// waiting groups (1100..1110) and the data coding/message class group (1111).
// Nothing for a compressed text or a reserved group.
std::optional<Coding> CodingOf(int dcs);

// A whole PDU as a modem lists it in PDU mode: the service-centre address
// first, then an SMS-DELIVER. Nothing, with the reason in `why` when given,
// for anything malformed or truncated, or a PDU of another type.
std::optional<Deliver> DecodeDeliverPdu(std::string_view hex, std::string* why = nullptr);

// The same for an SMS-SUBMIT with its service-centre address (any validity
// period format is stepped over).
std::optional<Submit> DecodeSubmitPdu(std::string_view hex, std::string* why = nullptr);

// The user data alone: octets (the header in front when `headerPresent`),
// `length` as TP-UDL counts it (septets for 7-bit, octets otherwise; -1 to
// take all the octets, or all whole septets). For the text mode, where a modem
// shows the user data as hex of its octets.
std::optional<UserData> DecodeUserData(std::span<const std::uint8_t> octets, bool headerPresent, Coding coding,
                                       int length = -1);

// Septet `i` of a stream packed from bit 0 of `octets`; the caller checks it
// lies wholly inside.
std::uint8_t SeptetAt(std::span<const std::uint8_t> octets, std::size_t i);

// Hex text to octets; nothing for an odd length or a non-hex digit.
std::optional<std::vector<std::uint8_t>> HexToOctets(std::string_view hex);

// Station text (code page 1251) to UTF-16 and back ('?' for what 1251 lacks).
std::u16string StationTextToUtf16(std::string_view text);
std::string Utf16ToStationText(std::u16string_view units);

// Whether the GSM 7-bit alphabet (with its extension table) holds every character.
bool FitsGsm7(std::u16string_view units);

// The text split into the parts of a concatenated message: 160 septets (an
// extension character counts two) or 70 UCS2 units whole; 153 septets or 67
// units per part when split. A character (or a surrogate pair, or an
// escape with its character) is never cut in two. 8-bit: 140 octets whole,
// 134 per part. The 16-bit reference takes one octet more from every part:
// 152 septets, 66 units or 133 octets.
std::vector<std::u16string> SplitForSms(std::u16string_view units, Coding coding, bool wideReference = false);

// A PDU ready for "AT+CMGS=<tpduLength>": the hex starts with "00" (the SIM's
// own service centre); tpduLength counts the octets after it.
struct OutgoingPdu {
    std::string hex;
    int tpduLength = 0;
};

// One SMS-SUBMIT per part (the concatenation header with `reference` when
// there are several). `number` with '+' is international; digits alone
// national. 7-bit when the text fits the alphabet, UCS2 otherwise.
std::vector<OutgoingPdu> EncodeSubmit(std::string_view number, std::u16string_view units, unsigned reference,
                                      bool wideReference = false);

// TP-UDL and the user data octets, the concatenation header in front when
// given (7-bit text after its fill bits): what a text-mode modem shows as hex.
struct EncodedUserData {
    int length = 0;
    std::vector<std::uint8_t> octets;
};
EncodedUserData EncodeUserData(Coding coding, std::u16string_view units, std::optional<Concat> concat = std::nullopt);

// The octets of the TPDU in a PDU's hex (after its service-centre address):
// what "+CMGR:" and "+CMGL:" give as the length. -1 when the hex is malformed.
int TpduLength(std::string_view hex);

// An SMS-DELIVER with its service-centre address, as a modem would store it:
// for the simulator and the tests. `sender` is a number ("+7...", digits) or,
// when it holds a letter, an alphanumeric name. `timestamp` as in Deliver.
std::string EncodeDeliverPdu(std::string_view smsc, std::string_view sender, std::string_view timestamp,
                             Coding coding, std::u16string_view units, std::optional<Concat> concat = std::nullopt);

} // namespace kv::sms
