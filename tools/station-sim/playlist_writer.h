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
inline constexpr char kHlsPrefix[] = "/sim-hls/";           // + n + "/" + mode + "/" + resource

// The address a playlist or page of this station points at.
QString streamLinkOf(const ServedStation &s);

// The playlist, page or script output of a station whose answer is a document.
Document documentOf(const ServedStation &s);

// A playlist whose only entry is the station's own address, in the station's playlist form
// (ASX for the ASX family, M3U otherwise).
Document selfReferencingPlaylist(const ServedStation &s);

// An M3U whose one entry is the stream the station's playlists point at.
Document m3uOf(const ServedStation &s);

// An M3U whose entries are file:///etc/passwd, v4l2:///dev/video0 and udp://@:5004, then the
// stream the station's playlists point at.
Document localEntriesPlaylist(const ServedStation &s);

// A playlist of at least minBytes, every entry a stream of this station.
Document hugePlaylist(const ServedStation &s, qsizetype minBytes);

} // namespace lumora::sim
