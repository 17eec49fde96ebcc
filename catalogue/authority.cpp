#include "authority.h"

namespace lumora {

Authority splitAuthority(QStringView text)
{
    Authority a;
    const qsizetype at = text.lastIndexOf(u'@');
    if (at >= 0) {
        a.userInfo = text.left(at);
        text = text.mid(at + 1);
    }
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0)
            return Authority{.problem = "IPv6 address without closing ']'"};
        const QStringView rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(u':'))
            return Authority{.problem = "unexpected text after ']'"};
        a.host = text.mid(1, close - 1);
        a.bracketed = true;
        if (!rest.isEmpty())
            a.port = rest.mid(1);
        return a;
    }
    const qsizetype colon = text.lastIndexOf(u':');
    a.host = colon >= 0 ? text.left(colon) : text;
    if (colon >= 0)
        a.port = text.mid(colon + 1);
    return a;
}

std::optional<quint16> portNumber(QStringView port)
{
    if (port.isEmpty() || port.size() > 5)
        return std::nullopt;
    int n = 0;
    for (QChar c : port) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        n = n * 10 + (c.unicode() - u'0');
    }
    if (n < 1 || n > 65535)
        return std::nullopt;
    return quint16(n);
}

} // namespace lumora
