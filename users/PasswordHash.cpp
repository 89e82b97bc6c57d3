#include "users/PasswordHash.h"

#include "data/Text.h"

#include <sodium.h>

#include <stdexcept>

namespace kv {

using namespace literals;

namespace {

// Interactive limits: about a tenth of a second and 64 MiB per login on the
// station's PC; an attacker with the file pays the same for every guess.
constexpr unsigned long long kOps = crypto_pwhash_OPSLIMIT_INTERACTIVE;
constexpr std::size_t kMemory = crypto_pwhash_MEMLIMIT_INTERACTIVE;

void Initialise()
{
    static const bool ready = sodium_init() >= 0;
    if (!ready)
        throw std::runtime_error(std::string("Не удалось подготовить проверку паролей"_cp));
}

} // namespace

bool IsPasswordHash(std::string_view stored)
{
    return stored.rfind(crypto_pwhash_argon2id_STRPREFIX, 0) == 0 && stored.size() < crypto_pwhash_STRBYTES;
}

std::string HashPassword(std::string_view password)
{
    Initialise();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(out, password.data(), password.size(), kOps, kMemory, crypto_pwhash_ALG_ARGON2ID13) != 0)
        throw std::runtime_error(std::string("Недостаточно памяти для защиты пароля"_cp));
    return out;
}

bool PasswordMatches(std::string_view stored, std::string_view typed)
{
    if (!IsPasswordHash(stored))
        return stored == typed;
    Initialise();
    const std::string hash(stored);
    return crypto_pwhash_str_verify(hash.c_str(), typed.data(), typed.size()) == 0;
}

bool NeedsRehash(std::string_view stored)
{
    if (!IsPasswordHash(stored))
        return true;
    Initialise();
    const std::string hash(stored);
    return crypto_pwhash_str_needs_rehash(hash.c_str(), kOps, kMemory) != 0;
}

} // namespace kv
