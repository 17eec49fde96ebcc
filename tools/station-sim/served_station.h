#pragma once

#include "catalogue/endpoint_table.h"
#include "catalogue/station.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace lumora::sim {

// How a served address answers, as a real server of its kind would.
enum class Answer {
    AsxTidy,        // well-formed lower-case ASX, video/x-ms-asf
    AsxServerStyle, // upper-case tags, unescaped '&' in the reference, video/x-ms-asf
    Wvx,            // ASX syntax, video/x-ms-wvx
    M3u,            // audio/x-mpegurl
    Pls,            // audio/x-scpls
    Wpl,            // SMIL, application/vnd.ms-wpl
    Mp3File,        // audio/mpeg with a length; ends
    HtmlEmbed,      // page with <embed src>
    HtmlAudio,      // page with <audio><source>
    HtmlObject,     // page with a Windows Media <object> and its URL <param>
    ScriptAsx,      // script answering ASX as text/html
    ScriptM3u,      // script answering M3U as text/html
    ScriptPls,      // script answering PLS as text/html
    IcyServer,      // bare stream server: "ICY 200 OK", MP3, icy-metaint when asked
    IcecastMount,   // HTTP/1.0 200 OK audio/mpeg live stream, icy-metaint when asked
    Mmsh,           // ASF over MMSH framing (WMA)
    MmshPcm,        // ASF over MMSH framing (PCM)
    RealMedia,      // RealMedia file (RealAudio 14.4) with a length, as a web server serves it
};

QString answerName(Answer a);
bool isPlaylistAnswer(Answer a);

// Where a playlist or page of a station sends the client.
enum class StreamLink { Http, Mms };

// One distinct address the simulator serves. Two stations with the same address share one.
struct ServedStation {
    int index = 0;         // distinct address number in catalogue order; the tone follows it
    QString address;       // exactly as the catalogue composes it
    QString host;          // endpoint host
    quint16 port = 0;
    QByteArray target;     // request target on the wire ("/" for an empty remainder)
    Scheme scheme = Scheme::Http;
    Kind kind = Kind::Root;
    Answer answer = Answer::IcyServer;
    StreamLink link = StreamLink::Http;
    QString caption;       // first station's caption: icy-name and StreamTitle
    QList<const Station *> stations; // empty for the address inside Form6 Command3's query
    QString embeddedAddress; // Form6 Command3: the mms address carried in its query

    int toneHz() const { return 300 + 10 * index; }
    QString label() const; // "Form2.Command1" or "E32 /live"
};

// The request target that clients put on the wire for an address remainder: UTF-8 bytes
// outside printable ASCII and spaces are percent-encoded (upper-case hex); everything else,
// '%' included, goes as it is. An empty remainder is requested as "/".
QByteArray wireTarget(const QString &remainder);

// Splits "scheme://host[:port]rest" into host, port (0 when none) and rest.
struct AddressParts {
    QString scheme, host, rest;
    quint16 port = 0;
};
std::optional<AddressParts> splitAddress(const QString &address);

// Every address that a complete endpoint table makes of the catalogue, in catalogue order,
// the mms address inside Form6 Command3's query last. Stations missing a value are left out
// and named in *missing.
QList<ServedStation> servedStations(const EndpointTable &table, QStringList *missing = nullptr);

// The tone of a station's address (300 + 10 x distinct address number).
int toneHzOf(const Station &station);

} // namespace lumora::sim
