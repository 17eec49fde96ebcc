#include "page.h"

namespace lumora {

QString pageName(Page p)
{
    return QStringLiteral("Form%1").arg(pageNumber(p));
}

std::optional<Page> pageFromName(QStringView name)
{
    if (!name.startsWith(u"Form"))
        return std::nullopt;
    const QStringView digits = name.mid(4);
    if (digits.isEmpty() || digits.size() > 2 || digits.startsWith(u'0'))
        return std::nullopt;
    bool ok = false;
    const int n = digits.toInt(&ok);
    if (!ok || n < 1 || n > kPageCount)
        return std::nullopt;
    return static_cast<Page>(n);
}

} // namespace lumora
