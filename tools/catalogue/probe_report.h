#pragma once

#include "station_probe.h"

#include <QByteArray>
#include <QList>
#include <QString>

class QTextStream;

namespace lumora {

// The health check's results as a tab-separated table with a header line:
// page, button, caption, result, stream, type, icy-name, reason.
void writeProbeTable(QTextStream &out, const QList<ProbeResult> &results);

// The same as a JSON array, one object per station, in UTF-8.
QByteArray probeJson(const QList<ProbeResult> &results);

// "158 stations: 150 working, 6 failing, 2 without address"
QString probeSummary(const QList<ProbeResult> &results);

// true when every station has an address and resolves.
bool allWorking(const QList<ProbeResult> &results);

} // namespace lumora
