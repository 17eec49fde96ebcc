#pragma once

#include "catalogue/endpoint_table.h"
#include "catalogue/station.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <span>

namespace lumora {

// What the health check found out about one station.
struct ProbeResult {
    enum class Verdict { Working, Failing, NoAddress };

    const Station *station = nullptr;
    Verdict verdict = Verdict::NoAddress;
    QString address;     // as composed from the configuration; empty without one
    QStringList missing; // NoAddress: the keys the station lacks
    QString stream;      // Working: the stream the player would play (wire form)
    QString contentType; // Working: what the stream's server said it sends
    QString icyName;     // Working: the station name the server gives, if any
    QString reason;      // Failing: why; Working: a note, if any
    qint64 elapsedMs = 0;
};

QString verdictName(ProbeResult::Verdict verdict); // "working", "failing", "no address"

struct ProbeOptions {
    int timeoutMs = 10000; // per station, everything included
    int jobs = 8;          // stations checked at once
};

// Opens the address of every station as the player does, with the player's own opener
// (StreamResolver: playlists followed, redirects and all, mms as MMS over HTTP), and checks
// that the stream it opens sends data; nothing is played. When an opened stream ends
// without data the next entry is tried, as the player does. An HLS station is checked on the
// version the player would play: the table's Hls.MaxBandwidth holds here too.
//
// Runs the event loop until every station has a verdict; results are in the stations' order.
QList<ProbeResult> probeStations(std::span<const Station> stations, const EndpointTable &table,
                                 const ProbeOptions &options);

} // namespace lumora
