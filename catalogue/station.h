#pragma once

#include "page.h"

#include <QString>
#include <QStringList>
#include <span>

namespace lumora {

enum class Scheme { Http, Mms };

// What the remainder of an address names. Informational: the catalogue, the station buttons
// and the player treat every kind alike (the player judges what a server sends, never the
// address); only the station simulator serves each kind the way such servers do.
enum class Kind {
    Asx, M3u, Pls, Wpl, Wvx, Mp3, Rm, Wm, Wav, Html, Php, Asp, Root, RootQuery, NoExtension,
};

QString schemeName(Scheme s);   // "http" / "mms"
QString kindName(Kind k);       // "ASX", "root+query", "no extension", ...

// One station button. The remainder is held as a template: literal text, with each piece
// that the endpoint configuration supplies written as {KEY}, e.g. "/?id={Form11.Command1.stream}".
// Literal remainders never contain '{' or '}'.
struct Station {
    Page page;
    int number;                  // 1 .. station count; button CommandN, tab index N
    const char8_t *captionUtf8;  // exact caption, spaces and all
    Scheme scheme;
    int endpoint;                // 1 .. 65: key E01 .. E65
    bool explicitPort;           // the endpoint's value carries ":port"
    Kind kind;
    const char8_t *remainderUtf8;

    QString caption() const { return QString::fromUtf8(captionUtf8); }
    QString buttonName() const { return QStringLiteral("Command%1").arg(number); }
    QString endpointKey() const;          // "E05"
    QString remainderTemplate() const { return QString::fromUtf8(remainderUtf8); }
    // Keys of the configured pieces inside the remainder, in order of appearance.
    QStringList pieceKeys() const;
};

// One part of a remainder template: literal text, or the key of a configured piece.
struct RemainderPart {
    bool isKey = false;
    QString text; // the literal text, or the key
};

// The parts of a remainder template in order. A '{' without its '}' is literal text.
QList<RemainderPart> remainderParts(const QString &remainderTemplate);

// All the stations, page by page in page order, each page's stations by number.
std::span<const Station> allStations();
// The stations of one station page ordered by number; empty for Form1.
std::span<const Station> stationsOf(Page page);
// nullptr when the page has no such station.
const Station *findStation(Page page, int number);

} // namespace lumora
