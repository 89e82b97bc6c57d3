#pragma once
// Stored passwords: Argon2id in its standard string form ("$argon2id$v=19$
// m=65536,t=2,p=1$<salt>$<hash>", 97 bytes), with a fresh salt each time, so
// that it fits the accounts' password field of 100 and tells its own limits.
// No Qt: the demo's setup checks its accounts with it too.
#include <string>
#include <string_view>

namespace kv {

// Whether a stored value is a hash rather than a password an older station
// kept in clear.
bool IsPasswordHash(std::string_view stored);
// Throws std::runtime_error (station text) when the hash cannot be made
// (out of memory).
std::string HashPassword(std::string_view password);
// A hash is verified; a plain stored value matches byte for byte.
bool PasswordMatches(std::string_view stored, std::string_view typed);
// A plain value, or a hash made with other limits than today's.
bool NeedsRehash(std::string_view stored);

} // namespace kv
