#include "tools/jrn/JournalText.h"

#include <iostream>

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    return kv::jrn::Run(argc, argv, std::cout, std::cerr);
}
