#pragma once

#include "served_station.h"

#include <QByteArray>
#include <QString>

namespace lumora::sim {

// A text answer: content type and body.
struct Document {
    QByteArray contentType;
    QByteArray body;
};

// Paths under which the simulator serves the streams that playlists and pages point at.
// No catalogue address uses them.
inline constexpr char kHttpStreamPrefix[] = "/sim-stream/"; // + n + ".mp3"
inline constexpr char kMmsStreamPrefix[] = "/sim-mms/";     // + n
inline constexpr char kRedirectPrefix[] = "/sim-redirect/"; // + n + "/" + hop

// The address a playlist or page of this station points at.
QString streamLinkOf(const ServedStation &s);

// The playlist, page or script output of a station whose answer is a document.
Document documentOf(const ServedStation &s);

// A playlist whose only entry is the station's own address, in the station's playlist form
// (ASX for the ASX family, M3U otherwise).
Document selfReferencingPlaylist(const ServedStation &s);

// A playlist of at least minBytes, every entry a stream of this station.
Document hugePlaylist(const ServedStation &s, qsizetype minBytes);

} // namespace lumora::sim
