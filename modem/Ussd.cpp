#include "modem/Ussd.h"

#include "codec/Ucs2.h"
#include "codec/UssdText.h"
#include "data/Text.h"
#include "modem/AtFields.h"
#include "modem/Commands.h"

namespace kv {

using namespace kv::literals;

UssdAnswer ParseUssdAnswer(std::string_view line)
{
    const std::vector<AtField> fields = SplitAtFields(AtArguments(line));
    const std::optional<int> status = AtFieldInt(fields, 0);
    UssdAnswer answer;
    if (fields.size() >= 2 && !fields[1].text.empty()) {
        answer.kind = UssdAnswer::Kind::Text;
        answer.text = DecodeUssdText(fields[1].text, AtFieldInt(fields, 2));
        return answer;
    }
    if (status == 4) {
        answer.kind = UssdAnswer::Kind::Refused;
        answer.text = Str("Запрос баланса отклонен сетью"_cp);
    } else if (status == 5) {
        answer.kind = UssdAnswer::Kind::Refused;
        answer.text = Str("Сеть не ответила на запрос баланса"_cp);
    }
    return answer;
}

std::string UssdRefusedByModem(std::string_view errorLine)
{
    std::string text = Str("Запрос баланса отклонен модемом"_cp);
    const std::size_t colon = errorLine.find(':');
    if (colon != std::string_view::npos) {
        std::string_view code = errorLine.substr(colon + 1);
        while (!code.empty() && code.front() == ' ')
            code.remove_prefix(1);
        if (!code.empty())
            text += Str(" (ошибка "_cp) + std::string(code) + ")";
    }
    return text;
}

std::optional<std::string> PlainUssdRequest(std::string_view requestLine)
{
    const std::size_t open = requestLine.find('"');
    const std::size_t close = open == std::string_view::npos ? open : requestLine.find('"', open + 1);
    if (close == std::string_view::npos)
        return std::nullopt;
    const std::string_view code = requestLine.substr(open + 1, close - open - 1);
    if (!IsPrintableUcs2Hex(code))
        return std::nullopt;
    return BalanceRequestCommand(Ucs2HexToText(code));
}

} // namespace kv
