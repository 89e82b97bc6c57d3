#include "modem/AtFields.h"

#include "codec/Number.h"
#include "data/Text.h"

namespace kv {

std::string_view AtArguments(std::string_view line)
{
    const std::size_t colon = line.find(':');
    return colon == std::string_view::npos ? line : line.substr(colon + 1);
}

std::vector<AtField> SplitAtFields(std::string_view arguments)
{
    std::vector<AtField> fields;
    std::size_t i = 0;
    const std::size_t n = arguments.size();
    for (;;) {
        while (i < n && (arguments[i] == ' ' || arguments[i] == '\t'))
            ++i;
        AtField field;
        if (i < n && arguments[i] == '"') {
            const std::size_t close = arguments.find('"', i + 1);
            const std::size_t end = close == std::string_view::npos ? n : close;
            field.text = std::string(arguments.substr(i + 1, end - i - 1));
            field.quoted = true;
            i = close == std::string_view::npos ? n : close + 1;
            // Anything between the closing quote and the comma belongs to no field.
            while (i < n && arguments[i] != ',')
                ++i;
        } else {
            const std::size_t start = i;
            int depth = 0;
            while (i < n && (arguments[i] != ',' || depth > 0)) {
                if (arguments[i] == '(')
                    ++depth;
                else if (arguments[i] == ')' && depth > 0)
                    --depth;
                ++i;
            }
            field.text = std::string(TrimBlanks(arguments.substr(start, i - start)));
        }
        fields.push_back(std::move(field));
        if (i >= n)
            break;
        ++i; // the comma
    }
    if (fields.size() == 1 && fields[0].text.empty() && !fields[0].quoted)
        fields.clear();
    return fields;
}

std::optional<int> AtFieldInt(const std::vector<AtField>& fields, std::size_t i)
{
    if (i >= fields.size() || fields[i].text.empty())
        return std::nullopt;
    const std::optional<std::int64_t> v = TextToInt(fields[i].text);
    if (!v || *v < -2147483647 || *v > 2147483647)
        return std::nullopt;
    return static_cast<int>(*v);
}

std::string AtFieldText(const std::vector<AtField>& fields, std::size_t i)
{
    return i < fields.size() ? fields[i].text : std::string();
}

std::vector<int> AtRangeValues(std::string_view group)
{
    group = TrimBlanks(group);
    if (!group.empty() && group.front() == '(')
        group.remove_prefix(1);
    if (!group.empty() && group.back() == ')')
        group.remove_suffix(1);
    std::vector<int> values;
    while (!group.empty()) {
        const std::size_t comma = group.find(',');
        const std::string_view item = TrimBlanks(group.substr(0, comma));
        group = comma == std::string_view::npos ? std::string_view() : group.substr(comma + 1);
        const std::size_t dash = item.find('-');
        const auto low = TextToInt(item.substr(0, dash));
        const auto high = dash == std::string_view::npos ? low : TextToInt(item.substr(dash + 1));
        // A range is what one parameter takes: a few values, never thousands.
        if (!low || !high || *low > *high || *high - *low > 255)
            continue;
        for (std::int64_t v = *low; v <= *high; ++v)
            values.push_back(static_cast<int>(v));
    }
    return values;
}

} // namespace kv
