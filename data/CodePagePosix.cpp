#include "data/CodePage.h"

#include <iconv.h>

namespace kv {

bool Cp1251CharToUtf8(unsigned char byte, std::string& utf8)
{
    iconv_t cd = iconv_open("UTF-8", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    char in[1] = {static_cast<char>(byte)};
    char buffer[8];
    char* inPtr = in;
    char* outPtr = buffer;
    std::size_t inLeft = 1;
    std::size_t outLeft = sizeof buffer;
    const bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) && inLeft == 0;
    iconv_close(cd);
    if (ok)
        utf8.assign(buffer, static_cast<std::size_t>(outPtr - buffer));
    return ok;
}

} // namespace kv
