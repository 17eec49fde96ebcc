#include "address.h"

#include "key_schema.h"

namespace lumora {

StationAddress addressOf(const Station &station, const EndpointTable &table)
{
    StationAddress result;
    // The listener's own address for the station replaces the composed one whole.
    if (const auto whole = table.value(keys::overrideKey(station))) {
        result.text = *whole;
        return result;
    }
    QString text = schemeName(station.scheme) + QStringLiteral("://");

    const QString endpointKey = station.endpointKey();
    if (const auto endpoint = table.value(endpointKey))
        text += *endpoint;
    else
        result.missing.append(endpointKey);

    // Copy the remainder literally, replacing each {KEY} with its configured value.
    for (const RemainderPart &part : remainderParts(station.remainderTemplate())) {
        if (!part.isKey)
            text += part.text;
        else if (const auto piece = table.value(part.text))
            text += *piece;
        else if (!result.missing.contains(part.text))
            result.missing.append(part.text);
    }

    if (result.missing.isEmpty())
        result.text = text;
    return result;
}

} // namespace lumora
