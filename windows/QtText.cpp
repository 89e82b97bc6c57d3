#include "windows/QtText.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace kv {

QString ToQ(std::string_view cp1251)
{
    QStringDecoder decoder("windows-1251");
    return decoder.decode(QByteArrayView(cp1251.data(), static_cast<qsizetype>(cp1251.size())));
}

std::string FromQ(const QString& text)
{
    QStringEncoder encoder("windows-1251");
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        QString one(text[i]);
        if (text[i].isHighSurrogate() && i + 1 < text.size()) {
            one.append(text[++i]);
        }
        const QByteArray bytes = encoder.encode(one);
        // The codec writes 0x1A (SUB) for what it cannot map.
        if (bytes.size() != 1 || (bytes[0] == '\x1a' && one != QString(QChar(0x1A))))
            out.push_back('?');
        else
            out.push_back(bytes[0]);
    }
    return out;
}

} // namespace kv
