#include "register/message_text.h"

#include <algorithm>

namespace {

bool NeedsEscape(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

QString Hex(char16_t c, int digits)
{
    return QString::number(unsigned(c), 16).toUpper().rightJustified(digits, QLatin1Char('0'));
}

}  // namespace

QString EscapeControlCharacters(const QString& text)
{
    if (std::none_of(text.begin(), text.end(), [](QChar c) { return NeedsEscape(c.unicode()); }))
        return text;
    QString escaped;
    escaped.reserve(text.size() + 8);
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!NeedsEscape(u))
            escaped += c;
        else if (u == u'\n')
            escaped += QLatin1String("\\n");
        else if (u == u'\r')
            escaped += QLatin1String("\\r");
        else if (u == u'\t')
            escaped += QLatin1String("\\t");
        else if (u <= 0xFF)
            escaped += QLatin1String("\\x") + Hex(u, 2);
        else
            escaped += QLatin1String("\\u") + Hex(u, 4);
    }
    return escaped;
}
