#include "request_log.h"

namespace lumora::sim {
namespace {
constexpr const char *kHeadersOfInterest[] = {
    "Host", "User-Agent", "Icy-MetaData", "Range", "Pragma", "Connection", "Accept",
};
} // namespace

bool RequestRecord::isOfInterest(const QByteArray &name)
{
    for (const char *h : kHeadersOfInterest)
        if (name.compare(h, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QByteArray RequestRecord::header(const QByteArray &name) const
{
    QByteArray value;
    for (const auto &[k, v] : headers)
        if (k.compare(name, Qt::CaseInsensitive) == 0)
            value = value.isEmpty() ? v : value + ", " + v; // repeated headers (Pragma) joined
    return value;
}

QString RequestRecord::toLine() const
{
    QString line = time.toUTC().toString(Qt::ISODateWithMs) + u' ' + QString::number(port) + u' '
        + QString::fromLatin1(method) + u' ' + QString::fromLatin1(target) + u' '
        + QString::number(status) + u' ' + (station.isEmpty() ? QStringLiteral("-") : station);
    if (!fault.isEmpty())
        line += QStringLiteral(" fault=") + fault;
    for (const auto &[k, v] : headers)
        line += u' ' + QString::fromLatin1(k) + QStringLiteral("=\"") + QString::fromLatin1(v) + u'"';
    return line;
}

} // namespace lumora::sim
