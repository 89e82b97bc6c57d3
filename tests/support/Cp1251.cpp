#include "tests/support/Cp1251.h"

#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace kv::test {

std::string Iconv(std::string_view text, const char* from, const char* to)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    std::string out(text.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* dst = out.data();
    std::size_t outLeft = out.size();
    const std::size_t rc = iconv(cd, &in, &inLeft, &dst, &outLeft);
    const int err = errno;
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1))
        throw std::runtime_error("iconv failed (" + std::to_string(err) + ") at byte "
                                 + std::to_string(text.size() - inLeft));
    out.resize(out.size() - outLeft);
    return out;
}

std::string Utf8ToCp1251(std::string_view utf8) { return Iconv(utf8, "UTF-8", "CP1251"); }
std::string Cp1251ToUtf8(std::string_view cp1251) { return Iconv(cp1251, "CP1251", "UTF-8"); }

} // namespace kv::test
