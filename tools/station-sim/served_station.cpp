#include "served_station.h"

#include "catalogue/address.h"
#include "catalogue/authority.h"
#include "catalogue/page.h"

#include <QHash>

namespace lumora::sim {
namespace {

// The answer of each kind of address, and the link its playlist or page carries.
struct KindAnswer {
    Kind kind;
    Scheme scheme;
    Answer answer;
    StreamLink link;
};
constexpr KindAnswer kKindAnswers[] = {
    {Kind::Asx, Scheme::Http, Answer::AsxTidy, StreamLink::Http},
    {Kind::M3u, Scheme::Http, Answer::M3u, StreamLink::Http},
    {Kind::Pls, Scheme::Http, Answer::Pls, StreamLink::Http},
    {Kind::Wpl, Scheme::Http, Answer::Wpl, StreamLink::Mms},
    {Kind::Wvx, Scheme::Http, Answer::Wvx, StreamLink::Mms},
    {Kind::Mp3, Scheme::Http, Answer::Mp3File, StreamLink::Http},
    {Kind::Rm, Scheme::Http, Answer::RealMedia, StreamLink::Http},
    {Kind::Wm, Scheme::Mms, Answer::Mmsh, StreamLink::Mms},
    {Kind::Wav, Scheme::Mms, Answer::MmshPcm, StreamLink::Mms},
    {Kind::Html, Scheme::Http, Answer::HtmlEmbed, StreamLink::Http},
    {Kind::Php, Scheme::Http, Answer::ScriptAsx, StreamLink::Mms},
    {Kind::Asp, Scheme::Http, Answer::ScriptAsx, StreamLink::Mms},
    {Kind::Root, Scheme::Http, Answer::IcyServer, StreamLink::Http},
    {Kind::Root, Scheme::Mms, Answer::Mmsh, StreamLink::Mms},
    {Kind::RootQuery, Scheme::Http, Answer::M3u, StreamLink::Http},
    {Kind::NoExtension, Scheme::Http, Answer::IcecastMount, StreamLink::Http},
    {Kind::NoExtension, Scheme::Mms, Answer::Mmsh, StreamLink::Mms},
};

// Servers that answer differently from the rest of their kind: the big portal behind E03 and
// the playlist scripts emit sloppy upper-case ASX; some hosts hand out mms links.
struct EndpointAnswer {
    int endpoint;
    Kind kind;
    Answer answer;
    StreamLink link;
};
constexpr EndpointAnswer kEndpointAnswers[] = {
    {3, Kind::Asx, Answer::AsxServerStyle, StreamLink::Http},
    {50, Kind::Asx, Answer::AsxServerStyle, StreamLink::Http},
    {60, Kind::Asx, Answer::AsxServerStyle, StreamLink::Http},
    {14, Kind::Asx, Answer::AsxTidy, StreamLink::Mms},
    {36, Kind::Asx, Answer::AsxTidy, StreamLink::Mms},
    {47, Kind::RootQuery, Answer::AsxTidy, StreamLink::Mms},
};

struct StationAnswer {
    Page page;
    int number;
    Answer answer;
    StreamLink link;
};
constexpr StationAnswer kStationAnswers[] = {
    {Page::Form7, 1, Answer::HtmlAudio, StreamLink::Http},
    {Page::Form12, 1, Answer::HtmlObject, StreamLink::Mms},
    {Page::Form5, 11, Answer::ScriptM3u, StreamLink::Http},
    {Page::Form13, 1, Answer::ScriptPls, StreamLink::Http},
};

void answerOf(const Station &s, Answer *answer, StreamLink *link)
{
    for (const StationAnswer &a : kStationAnswers)
        if (a.page == s.page && a.number == s.number) {
            *answer = a.answer;
            *link = a.link;
            return;
        }
    for (const EndpointAnswer &a : kEndpointAnswers)
        if (a.endpoint == s.endpoint && a.kind == s.kind) {
            *answer = a.answer;
            *link = a.link;
            return;
        }
    for (const KindAnswer &a : kKindAnswers)
        if (a.kind == s.kind && a.scheme == s.scheme) {
            *answer = a.answer;
            *link = a.link;
            return;
        }
}

// Distinct addresses by catalogue data alone, so a station's tone does not depend on the
// configured values: (scheme, endpoint, remainder template) in order of first use.
QString identityOf(const Station &s)
{
    return schemeName(s.scheme) + u'|' + s.endpointKey() + u'|' + s.remainderTemplate();
}

const QHash<QString, int> &addressNumbers()
{
    static const QHash<QString, int> numbers = [] {
        QHash<QString, int> n;
        for (const Station &s : allStations()) {
            const QString id = identityOf(s);
            if (!n.contains(id))
                n.insert(id, int(n.size()));
        }
        return n;
    }();
    return numbers;
}

constexpr int kEmbeddedEndpoint = 32;
const char16_t kEmbeddedRemainder[] = u"/live";

} // namespace

QString answerName(Answer a)
{
    switch (a) {
    case Answer::AsxTidy: return QStringLiteral("ASX");
    case Answer::AsxServerStyle: return QStringLiteral("ASX (server style)");
    case Answer::Wvx: return QStringLiteral("WVX");
    case Answer::M3u: return QStringLiteral("M3U");
    case Answer::Pls: return QStringLiteral("PLS");
    case Answer::Wpl: return QStringLiteral("WPL");
    case Answer::Mp3File: return QStringLiteral("MP3 file");
    case Answer::HtmlEmbed: return QStringLiteral("HTML embed");
    case Answer::HtmlAudio: return QStringLiteral("HTML audio");
    case Answer::HtmlObject: return QStringLiteral("HTML object");
    case Answer::ScriptAsx: return QStringLiteral("script ASX");
    case Answer::ScriptM3u: return QStringLiteral("script M3U");
    case Answer::ScriptPls: return QStringLiteral("script PLS");
    case Answer::IcyServer: return QStringLiteral("ICY server");
    case Answer::IcecastMount: return QStringLiteral("stream");
    case Answer::Mmsh: return QStringLiteral("MMSH WMA");
    case Answer::MmshPcm: return QStringLiteral("MMSH PCM");
    case Answer::RealMedia: return QStringLiteral("RealMedia");
    }
    return {};
}

bool isPlaylistAnswer(Answer a)
{
    switch (a) {
    case Answer::AsxTidy: case Answer::AsxServerStyle: case Answer::Wvx: case Answer::M3u:
    case Answer::Pls: case Answer::Wpl: case Answer::ScriptAsx: case Answer::ScriptM3u:
    case Answer::ScriptPls:
        return true;
    default:
        return false;
    }
}

QString ServedStation::label() const
{
    if (stations.isEmpty())
        return QStringLiteral("E%1 %2").arg(kEmbeddedEndpoint).arg(QString::fromUtf16(kEmbeddedRemainder));
    return pageName(stations.front()->page) + u'.' + stations.front()->buttonName();
}

QByteArray wireTarget(const QString &remainder)
{
    if (remainder.isEmpty())
        return QByteArrayLiteral("/");
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    for (const char c : remainder.toUtf8()) {
        const auto b = static_cast<unsigned char>(c);
        if (b > 0x20 && b < 0x7F) {
            out.append(c);
        } else {
            out.append('%');
            out.append(hex[b >> 4]);
            out.append(hex[b & 0xF]);
        }
    }
    return out;
}

std::optional<AddressParts> splitAddress(const QString &address)
{
    const qsizetype sep = address.indexOf(QStringLiteral("://"));
    if (sep <= 0)
        return std::nullopt;
    AddressParts parts;
    parts.scheme = address.left(sep);
    const qsizetype hostStart = sep + 3;
    qsizetype restStart = address.indexOf(u'/', hostStart);
    const qsizetype query = address.indexOf(u'?', hostStart);
    if (query >= 0 && (restStart < 0 || query < restStart))
        restStart = query;
    if (restStart < 0)
        restStart = address.size();
    const QString endpoint = address.mid(hostStart, restStart - hostStart);
    parts.rest = address.mid(restStart);
    const Authority authority = splitAuthority(endpoint);
    if (authority.problem)
        return std::nullopt;
    // A bracketed IPv6 host keeps its brackets, as a URL writes it.
    parts.host = authority.bracketed ? u'[' + authority.host.toString() + u']' : authority.host.toString();
    if (!authority.port.isNull()) {
        const std::optional<quint16> port = portNumber(authority.port);
        if (!port)
            return std::nullopt;
        parts.port = *port;
    }
    return parts;
}

QList<ServedStation> servedStations(const EndpointTable &table, QStringList *missing)
{
    QList<ServedStation> served;
    QHash<QString, qsizetype> byIdentity;
    for (const Station &s : allStations()) {
        const StationAddress a = addressOf(s, table);
        if (!a.ok()) {
            if (missing)
                missing->append(pageName(s.page) + u'.' + s.buttonName());
            continue;
        }
        const QString id = identityOf(s);
        if (const auto it = byIdentity.constFind(id); it != byIdentity.constEnd()) {
            served[*it].stations.append(&s);
            continue;
        }
        const auto parts = splitAddress(a.text);
        if (!parts)
            continue;
        ServedStation st;
        st.index = addressNumbers().value(id);
        st.address = a.text;
        st.host = parts->host;
        st.port = parts->port;
        st.target = wireTarget(parts->rest);
        st.scheme = s.scheme;
        st.kind = s.kind;
        st.caption = s.caption();
        st.stations.append(&s);
        answerOf(s, &st.answer, &st.link);
        if (s.page == Page::Form6 && s.number == 3) {
            const qsizetype q = a.text.indexOf(QStringLiteral("?url="));
            st.embeddedAddress = a.text.mid(q + 5);
        }
        byIdentity.insert(id, served.size());
        served.append(st);
    }

    // The mms address carried inside the query of Form6 Command3 is served too.
    if (const auto e32 = table.value(QStringLiteral("E32"))) {
        ServedStation st;
        // The script's own answer only hands out this address, so what the listener hears
        // is this stream: it plays the station's tone.
        const Station *owner = findStation(Page::Form6, 3);
        st.index = addressNumbers().value(identityOf(*owner));
        st.address = QStringLiteral("mms://") + *e32 + QString::fromUtf16(kEmbeddedRemainder);
        const auto parts = splitAddress(st.address);
        st.host = parts->host;
        st.port = parts->port;
        st.target = wireTarget(parts->rest);
        st.scheme = Scheme::Mms;
        st.kind = Kind::NoExtension;
        st.answer = Answer::Mmsh;
        st.link = StreamLink::Mms;
        st.caption = owner->caption();
        served.append(st);
    } else if (missing) {
        missing->append(QStringLiteral("E32"));
    }
    return served;
}

int toneHzOf(const Station &station)
{
    return 300 + 10 * addressNumbers().value(identityOf(station));
}

} // namespace lumora::sim
