#pragma once
// "lastcontact.ini": each device's last sign of life by number, beside the
// tables in a file of its own (the tables stay as older stations read them).
// An INI file of code page 1251 bytes: a "[LastContact]" section and a line
// per device "<number>=<dd.mm.yyyy hh:mm:ss>;<kind>[;silent]", the number with
// "%XX" for the bytes an INI key cannot hold; a device never heard but
// reported silent is "<number>=;;silent".
#include <map>
#include <string>
#include <string_view>

namespace kv {

enum class ContactKind { Report, Call, RingRound };

struct LastContact {
    double at = 0; // station date-time; 0 while never heard
    ContactKind kind = ContactKind::Report;
    // Reported silent and not heard since: kept across a crash, so that a
    // silence opens one alarm row, not one per start.
    bool silent = false;
};
using LastContacts = std::map<std::string, LastContact>; // by device number

inline constexpr const char* kLastContactFile = "lastcontact.ini";

std::string LastContactsText(const LastContacts& contacts);
struct ParsedContacts {
    LastContacts contacts;
    bool ours = false; // the section head was found
    int damaged = 0;   // lines that could not be read
};
// Trusts nothing: a line that does not read is counted and skipped.
ParsedContacts ParseLastContacts(std::string_view text);

} // namespace kv
