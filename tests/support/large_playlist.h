#pragma once

// Playlists of about a mebibyte of Arabic text, as a station's server may send one: long
// lists of titled entries, a page of text with a player embedded, an entry that is itself
// enormous. The entries asked for come last, so that the whole body must be read to find
// them. For the checks that a switch to such a station never holds up the event loop.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <utility>

namespace lumora::test {

enum class LargePlaylist {
    M3uTitles, // "#EXTM3U", then a title line for every one of thousands of programmes
    PlsTitles, // "[playlist]" with thousands of TitleN lines
    HtmlPage,  // a right-to-left page of Arabic paragraphs with an embedded player
    LongEntry, // an M3U whose first entry is a relative address of about a mebibyte
};

struct LargePlaylistBody {
    QByteArray contentType;
    QByteArray body; // at most maxBytes
};

// The playlist of that shape, about maxBytes long, whose entries (absolute addresses) are
// the given ones, in order, after everything else.
LargePlaylistBody largeArabicPlaylist(LargePlaylist shape, const QStringList &entries,
                                      qsizetype maxBytes = 1024 * 1024);

// Every shape with its name, for data-driven tests and the benchmark.
QList<std::pair<const char *, LargePlaylist>> largePlaylistShapes();

} // namespace lumora::test
