#pragma once
// The fields of a 27.005/27.007 result line ("+CPMS: "SM",2,10,...") read the
// way modems really write them: blanks after commas or not, optional fields
// left empty or missing, strings quoted or not, ranges in parentheses.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

struct AtField {
    std::string text; // without its quotes
    bool quoted = false;
};

// What follows the first ':' of a result line, or the whole line without one.
std::string_view AtArguments(std::string_view line);

// Splits at commas outside quotes and parentheses; blanks around a field are
// dropped. A quote that never closes takes the rest of the line.
std::vector<AtField> SplitAtFields(std::string_view arguments);

// Field `i` as a decimal number; nothing when missing, empty or not a number.
std::optional<int> AtFieldInt(const std::vector<AtField>& fields, std::size_t i);
// Field `i`'s text; empty when missing.
std::string AtFieldText(const std::vector<AtField>& fields, std::size_t i);

// The values a test form offers for one parameter: "(0-3)", "(0,2,3)", "1".
std::vector<int> AtRangeValues(std::string_view group);

} // namespace kv
