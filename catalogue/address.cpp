#include "address.h"

namespace lumora {

StationAddress addressOf(const Station &station, const EndpointTable &table)
{
    StationAddress result;
    QString text = schemeName(station.scheme) + QStringLiteral("://");

    const QString endpointKey = station.endpointKey();
    if (const auto endpoint = table.value(endpointKey))
        text += *endpoint;
    else
        result.missing.append(endpointKey);

    // Copy the remainder literally, replacing each {KEY} with its configured value.
    const QString t = station.remainderTemplate();
    qsizetype pos = 0;
    while (pos < t.size()) {
        const qsizetype open = t.indexOf(u'{', pos);
        if (open < 0) {
            text += QStringView(t).mid(pos);
            break;
        }
        text += QStringView(t).mid(pos, open - pos);
        const qsizetype close = t.indexOf(u'}', open);
        const QString key = t.mid(open + 1, close - open - 1);
        if (const auto piece = table.value(key))
            text += *piece;
        else if (!result.missing.contains(key))
            result.missing.append(key);
        pos = close + 1;
    }

    if (result.missing.isEmpty())
        result.text = text;
    return result;
}

} // namespace lumora
