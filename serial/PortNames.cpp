// Port names in the order an operator expects them in a list.
#include "serial/ComPortPlatform.h"

#include <algorithm>
#include <cctype>

namespace kv::comport {

namespace {

struct NameKey {
    std::string stem;        // the name without its trailing digits
    std::string number;      // the trailing digits, leading zeros dropped
    const std::string* name; // ties: the whole name
};

NameKey KeyOf(const std::string& name)
{
    std::size_t digits = name.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1])))
        --digits;
    std::size_t first = digits;
    while (first + 1 < name.size() && name[first] == '0')
        ++first;
    return {name.substr(0, digits), name.substr(first), &name};
}

bool Before(const NameKey& a, const NameKey& b)
{
    if (a.stem != b.stem)
        return a.stem < b.stem;
    // A name without a number first, then by value: a longer number is larger.
    if (a.number.size() != b.number.size())
        return a.number.size() < b.number.size();
    if (a.number != b.number)
        return a.number < b.number;
    return *a.name < *b.name;
}

} // namespace

void SortPortNames(std::vector<std::string>& names)
{
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return Before(KeyOf(a), KeyOf(b)); });
    names.erase(std::unique(names.begin(), names.end()), names.end());
}

} // namespace kv::comport
