#pragma once
// The widget edge: station text (code page 1251 bytes) to and from QString.
#include <QString>

#include <string>
#include <string_view>

namespace kv {

QString ToQ(std::string_view cp1251);
// Characters without a code page 1251 byte become '?' (never Ctrl-Z, which
// would end an SMS text).
std::string FromQ(const QString& text);

} // namespace kv
