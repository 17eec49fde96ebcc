#pragma once

#include "endpoint_table.h"
#include "station.h"

#include <QString>
#include <QStringList>

namespace lumora {

// A station's composed stream address, or the configuration keys that keep it from having one.
struct StationAddress {
    QString text;        // complete address; empty when keys are missing
    QStringList missing; // keys without a valid value, in order of use

    bool ok() const { return missing.isEmpty(); }
};

// The station's override when the configuration has one; else
// scheme "://" endpoint remainder, each configured piece in its place. Nothing is encoded,
// decoded, trimmed or added. Never yields half an address: with any key missing, text is empty.
StationAddress addressOf(const Station &station, const EndpointTable &table);

} // namespace lumora
