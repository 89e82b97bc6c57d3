#pragma once
// Modem families: the ways real modems answer the same 27.005/27.007 commands.
// A family is one row of data; the simulated modem consults its row wherever
// families differ, so a new quirk is a new field or a new row, not a branch in
// the command code.
#include <span>
#include <string>
#include <string_view>

namespace kv::modemsim {

// Message memory: the SIM card, or the modem's own.
enum class Medium { Sim, Phone };

struct StorageName {
    std::string_view name;
    Medium medium;
};

// When an unsolicited result code reaches the line.
enum class UrcTiming {
    // At once, even between a command's echo and its reply.
    AnyTime,
    // A moment late: a command that arrives meanwhile gets it in front of its echo.
    BeforeEcho,
    // Held while a command is in flight, until that command's final result.
    AfterFinal,
};

// What AT+CMGR answers for an index inside the memory that holds nothing.
enum class EmptyRead { BareOk, ZeroHeader, Cms500, Cms321, PlainError };

// The alpha field of +CMGR/+CMGL when there is no phonebook name.
enum class EmptyAlpha { Quoted, Nothing, Omitted };

// Which request strings AT+CUSD takes under the UCS2 character set.
enum class UssdRequest { Ucs2Hex, Plain, Either };

struct Family {
    std::string_view name;

    // Storage: every name the family knows, the three memories at power-on
    // (read and delete, write and send, receive), and the size of each medium.
    std::span<const StorageName> storages;
    std::string_view mem1, mem2, mem3;
    int simSize;
    int phoneSize;

    EmptyRead emptyRead;
    // A read of a freshly announced index within this long of the indication
    // answers +CMS ERROR: 321 once (0: never).
    int earlyReadMs;

    // Field lists: a blank after each comma (+CMGR, +CMGL, +CPMS, +CLCC, +CMTI).
    bool blanks;
    EmptyAlpha emptyAlpha;
    // Under UCS2 the originating number comes as UCS2 hex (else as it is).
    bool numberHex;
    // Time stamps: time zone without its leading zero; four-digit year with
    // unpadded month and day and no zone ("2009/8/18,19:11:45").
    bool zoneUnpadded;
    bool longYear;
    // AT+CMGL under UCS2 takes only the UCS2 hex of the status string.
    bool listStatusHex;

    // AT+CNMI=? answer (the values AT+CNMI= accepts).
    std::string_view cnmiTest;
    UrcTiming urcTiming;

    // Framing.
    bool doubleEcho;
    std::string_view lineEnd; // "\r\n", or "\r\r\n"
    int bodyPadding;          // blanks after a message text

    // +CLCC: an alpha field (the phonebook name or ""), type 161 for a number
    // without "+", the number as UCS2 hex under UCS2.
    bool clccAlpha;
    bool clccType161;
    bool clccNumberHex;

    // USSD answers.
    bool ussdBeforeOk;    // +CUSD comes before the request's OK
    bool ussdBlanks;      // "+CUSD: 0, "...", 72"
    int ussdDcs;
    bool ussdEndFirst;    // "+CUSD: 2" (an earlier session closed) before the answer
    bool ussdBareLf;      // a line break of the text is a bare LF between the hex of its lines
    UssdRequest ussdRequest;

    // Dialling: OK only when the call is set up (else at once); NO ANSWER known
    // (else NO CARRIER for a call nobody picks up).
    bool dialOkWhenUp;
    bool noAnswer;

    // Harmless unsolicited codes the family sends now and then.
    std::span<const std::string_view> noise;

    // Text mode shows a part of a concatenated message as its bare text, the
    // user data header dropped (and <fo> 4), so nothing links the parts;
    // else the user data as hex, the header included.
    bool dropsPartHeader;
};

// Every family; the first is the default.
std::span<const Family> Families();
const Family& DefaultFamily();
const Family* FindFamily(std::string_view name);
// "sim800, huawei, ..." for help texts.
std::string FamilyNames();

} // namespace kv::modemsim
