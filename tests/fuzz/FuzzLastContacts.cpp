// libFuzzer entry: see tests/fuzz/Harnesses.h for what the bytes mean.
#include "tests/fuzz/Harnesses.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return kv::fuzz::FuzzLastContacts(data, size);
}
