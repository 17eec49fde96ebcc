#include "station_connection.h"

#include "cover_tag.h"

#include "playlist_writer.h"
#include "station_simulator.h"

#include <QRegularExpression>
#include <QTcpSocket>

#include <sys/socket.h>
#include <zlib.h>

namespace lumora::sim {
namespace {

constexpr int kMaxRequestBytes = 64 * 1024;
constexpr int kTickMs = 100;
constexpr qint64 kMaxQueuedBytes = 512 * 1024; // a client that stops reading gets no more
constexpr int kIcyMetaint = 8192;
constexpr qint64 kHugePlaylistBytes = 10 * 1024 * 1024 + 1024;
constexpr int kResetAfterMs = 300;
constexpr int kHostileMetaint = 400;  // 100 ms of 32 kbit/s: a new title ten times a second
constexpr int kTenBytes = 10;
constexpr char kHugeChunkSize[] = "7ffffffffffffff0";
constexpr char kSecondAnswerTarget[] = "file:///etc/passwd";

// Answers that are a stream or a media file rather than a playlist or page.
bool isStreamAnswer(Answer a)
{
    switch (a) {
    case Answer::Mp3File: case Answer::IcyServer: case Answer::IcecastMount:
    case Answer::Mmsh: case Answer::MmshPcm: case Answer::RealMedia:
        return true;
    default:
        return false;
    }
}

// The icy-name and ICY metadata of a station's live MP3 stream, as the fault in force has them.
struct IcyText {
    QByteArray name;
    IcyTitles titles;
};

IcyText icyTextOf(const ServedStation &s, Fault fault)
{
    const auto fixed = [](const QByteArray &title) {
        return IcyTitles{kIcyMetaint, 8, [title](int) { return title; }};
    };
    switch (fault) {
    case Fault::Cp1256Title: {
        const QByteArray title = StationSimulator::cp1256TitleBytes(s);
        return {title, fixed(title)};
    }
    case Fault::Latin1Title: {
        const QByteArray title = StationSimulator::latin1Title().toLatin1();
        return {title, fixed(title)};
    }
    case Fault::HostileTitle:
        return {s.caption.toUtf8(),
                IcyTitles{kHostileMetaint, 1, [](int n) { return StationSimulator::hostileTitle(n).toUtf8(); }}};
    default:
        return {s.caption.toUtf8(), fixed(s.caption.toUtf8())};
    }
}

// A body as gzip (RFC 1952) writes it.
QByteArray gzipped(const QByteArray &body)
{
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return body;
    QByteArray out(qsizetype(deflateBound(&z, uLong(body.size()))) + 32, Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(body.constData()));
    z.avail_in = uInt(body.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.truncate(qsizetype(z.total_out));
    deflateEnd(&z);
    return rc == Z_STREAM_END ? out : body;
}

// A SHOUTcast v1 answer head: ICY status line, icy-* headers, metaint when given.
QByteArray icyHead(const ServedStation &s, const QByteArray &name, int metaint, const QByteArray &kbps)
{
    // One header a line, as on the wire.
    // clang-format off
    return "ICY 200 OK\r\n"
           "icy-notice1:<BR>This stream requires <a href=\"http://www.winamp.com/\">Winamp</a><BR>\r\n"
           "icy-notice2:SHOUTcast Distributed Network Audio Server/Linux v1.9.8<BR>\r\n"
           "icy-name:" + name + "\r\n"
           "icy-genre:Arabic\r\n"
           "icy-url:http://" + s.host.toUtf8() + ':' + QByteArray::number(s.port) + "\r\n"
           "content-type:audio/mpeg\r\n"
           "icy-pub:1\r\n"
           + (metaint > 0 ? "icy-metaint:" + QByteArray::number(metaint) + "\r\n" : QByteArray())
           + "icy-br:" + kbps + "\r\n\r\n";
    // clang-format on
}


QByteArray statusLine(const QByteArray &version, int status, const QByteArray &reason)
{
    return version + ' ' + QByteArray::number(status) + ' ' + reason + "\r\n";
}

// "/sim-stream/12.mp3?x" -> 12 ; -1 when the path does not have this form.
int indexAfter(const QByteArray &target, const char *prefix, const char *suffix, QByteArray *rest = nullptr)
{
    if (!target.startsWith(prefix))
        return -1;
    QByteArray path = target.mid(qstrlen(prefix));
    if (const qsizetype q = path.indexOf('?'); q >= 0)
        path.truncate(q);
    qsizetype end = 0;
    while (end < path.size() && path[end] >= '0' && path[end] <= '9')
        ++end;
    if (end == 0)
        return -1;
    const QByteArray tail = path.mid(end);
    if (rest) {
        *rest = tail;
    } else if (tail != suffix) {
        return -1;
    }
    return path.left(end).toInt();
}

} // namespace

StationConnection::StationConnection(QTcpSocket *socket, StationSimulator *simulator, quint16 endpointPort, int number)
    : QObject(simulator), m_socket(socket), m_sim(simulator), m_endpointPort(endpointPort), m_number(number)
{
    m_idle.setSingleShot(true);
    connect(&m_idle, &QTimer::timeout, this, &StationConnection::finishWhenWritten);
    m_socket->setParent(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &StationConnection::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] {
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            deleteLater();
    });
    connect(&m_timer, &QTimer::timeout, this, &StationConnection::tick);
}

StationConnection::~StationConnection() = default;

void StationConnection::abortNow()
{
    m_timer.stop();
    m_socket->abort();
}

QByteArray StationConnection::requestHeader(const QByteArray &name) const
{
    for (const auto &[k, v] : m_headers)
        if (k.compare(name, Qt::CaseInsensitive) == 0)
            return v;
    return {};
}

void StationConnection::onReadyRead()
{
    if (m_handled) {
        m_socket->readAll(); // nothing more is expected from a client
        return;
    }
    m_buffer += m_socket->readAll();
    if (m_buffer.isEmpty())
        return;

    // MMST and other binary protocols: not HTTP. Closed at once so the client moves on, or,
    // under mmst-silent, left open and unanswered as some MMSH servers do.
    if (!(m_buffer[0] >= 'A' && m_buffer[0] <= 'Z')) {
        m_handled = true;
        m_record.time = QDateTime::currentDateTimeUtc();
        m_record.port = m_endpointPort;
        m_record.method = "-";
        const bool silent = m_sim->ignoresNonHttp(m_record.port);
        if (silent)
            m_record.fault = faultName(Fault::MmstSilent);
        m_sim->record(m_record);
        if (silent)
            return;
        m_socket->abort();
        deleteLater();
        return;
    }
    qsizetype end = m_buffer.indexOf("\r\n\r\n");
    m_requestBytes = end + 4;
    if (end < 0) {
        end = m_buffer.indexOf("\n\n");
        m_requestBytes = end + 2;
    }
    if (end < 0) {
        if (m_buffer.size() > kMaxRequestBytes) {
            m_handled = true;
            deliver(document(400, "Bad Request", "text/plain", "request too large\n"), Delivery::Normal);
        }
        return;
    }
    m_handled = true;
    m_idle.stop();
    handle(m_buffer.left(end));
}

void StationConnection::handle(const QByteArray &head)
{
    QList<QByteArray> lines = head.split('\n');
    for (QByteArray &l : lines)
        if (l.endsWith('\r'))
            l.chop(1);
    const QByteArray requestLine = lines.value(0);
    const qsizetype firstSpace = requestLine.indexOf(' ');
    const qsizetype lastSpace = requestLine.lastIndexOf(' ');

    m_record.time = QDateTime::currentDateTimeUtc();
    m_record.port = m_endpointPort;
    m_record.connection = m_number;
    m_record.method = requestLine.left(firstSpace);
    m_record.target = (firstSpace >= 0 && lastSpace > firstSpace)
        ? requestLine.mid(firstSpace + 1, lastSpace - firstSpace - 1)
        : QByteArray();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = lines[i].left(colon).trimmed();
        const QByteArray value = lines[i].mid(colon + 1).trimmed();
        m_headers.append({name, value});
        if (RequestRecord::isOfInterest(name))
            m_record.headers.append({name, value});
    }
    m_headOnly = m_record.method == "HEAD";

    const QByteArray &target = m_record.target;
    const quint16 port = m_record.port;
    Route route = Route::None;
    const ServedStation *s = m_sim->match(port, target);
    int hop = 0;
    int n = -1;
    QByteArray rest;
    if (s) {
        route = Route::Station;
    } else if ((n = indexAfter(target, kHttpStreamPrefix, ".mp3")) >= 0) {
        s = m_sim->servedByIndex(n);
        route = Route::HttpStream;
    } else if ((n = indexAfter(target, kMmsStreamPrefix, "")) >= 0) {
        s = m_sim->servedByIndex(n);
        route = Route::MmsStream;
    } else if ((n = indexAfter(target, kHlsPrefix, nullptr, &rest)) >= 0 && rest.startsWith('/')) {
        s = m_sim->servedByIndex(n);
        m_hlsPath = target.mid(target.indexOf('/', qstrlen(kHlsPrefix)) + 1);
        route = Route::Hls;
    } else {
        if ((n = indexAfter(target, kRedirectPrefix, nullptr, &rest)) >= 0 && rest.startsWith('/')) {
            s = m_sim->servedByIndex(n);
            hop = rest.mid(1).toInt();
            route = Route::Redirect;
        }
    }
    if (!s)
        route = Route::None;

    Fault fault = m_sim->portFault(port);
    if (fault == Fault::None && s)
        fault = m_sim->stationFault(*s);
    if (s)
        m_record.station = s->label();
    if (fault != Fault::None)
        m_record.fault = faultName(fault);
    m_fault = fault;
    // HLS servers keep connections for an HTTP/1.1 client that does not ask to close; a
    // fault's answer ends with its connection, as before.
    m_keepAlive = route == Route::Hls && fault == Fault::None && requestLine.endsWith(" HTTP/1.1")
        && requestHeader("Connection").compare("close", Qt::CaseInsensitive) != 0;

    const bool fileKind = s && (s->answer == Answer::Mp3File || s->answer == Answer::RealMedia);
    if (fileKind && route == Route::Station && !m_sim->mediaFileReady(*s)) {
        // The file is still being encoded: ask again in a moment.
        QTimer::singleShot(50, this, [this, head] {
            m_record = {};
            m_headers.clear();
            handle(head);
        });
        return;
    }

    const bool methodOk = m_record.method == "GET" || m_record.method == "HEAD";
    Reply reply = methodOk ? answer(route, s, fault, hop)
                           : document(405, "Method Not Allowed", "text/plain", "GET only\n");

    Delivery delivery = Delivery::Normal;
    switch (fault) {
    case Fault::NoAnswer: delivery = Delivery::Silent; break;
    case Fault::HeadersThenStall: delivery = Delivery::Stall; break;
    case Fault::Trickle: delivery = Delivery::Trickle; break;
    case Fault::ResetMidStream: delivery = Delivery::Reset; break;
    default: break;
    }
    m_record.status = delivery == Delivery::Silent ? 0 : reply.status;
    m_sim->record(m_record);
    deliver(std::move(reply), delivery);
}

StationConnection::Reply StationConnection::answer(Route route, const ServedStation *s, Fault fault, int hop)
{
    if (route == Route::None || fault == Fault::NotFound)
        return document(404, "Not Found", "text/html",
                        "<html><head><title>404 Not Found</title></head><body>"
                        "<h1>Not Found</h1></body></html>\n");
    if (fault == Fault::ServerError)
        return document(500, "Internal Server Error", "text/html",
                        "<html><head><title>500 Internal Server Error</title></head><body>"
                        "<h1>Internal Server Error</h1></body></html>\n");

    if (fault == Fault::SecondDiffers && !m_sim->firstRequest(m_record.port, m_record.target))
        return redirect(QString::fromLatin1(kSecondAnswerTarget));
    if (fault == Fault::RedirectLocal)
        return redirect(m_sim->localRedirectTarget());
    if (fault == Fault::TenBytes)
        return tenBytes(*s);
    if (fault == Fault::HugeChunk || fault == Fault::HugeChunkText)
        return hugeChunk(*s, fault == Fault::HugeChunkText);
    if (fault == Fault::SparseOgg
        && (route == Route::HttpStream || (route == Route::Station && isStreamAnswer(s->answer))))
        return sparseOgg(*s);

    const QString base = QStringLiteral("http://") + s->host + u':' + QString::number(s->port);
    const QString firstHop = base + QLatin1StringView(kRedirectPrefix) + QString::number(s->index)
        + QStringLiteral("/1");
    if (route == Route::Redirect) {
        if (fault == Fault::RedirectLoop)
            return redirect(base + QString::fromLatin1(s->target));
        if (fault == Fault::RedirectChain && hop < m_sim->redirectChainLength())
            return redirect(base + QLatin1StringView(kRedirectPrefix) + QString::number(s->index)
                            + u'/' + QString::number(hop + 1));
        return stationAnswer(*s); // end of the chain
    }
    if (fault == Fault::JunkAudio) {
        Reply r = document(200, "OK", "audio/mpeg", {});
        r.head = statusLine("HTTP/1.0", 200, "OK") + "Content-Type: audio/mpeg\r\n"
                 "icy-name: " + s->caption.toUtf8() + "\r\nConnection: close\r\n\r\n";
        r.live = std::make_unique<LiveSource>(LiveSource::Framing::Junk, ToneEncoder::Format::Mp3, 0);
        return r;
    }
    if (route == Route::Hls)
        return hls(*s, m_hlsPath);
    if (fault == Fault::Hls && route == Route::Station)
        return hlsMaster(*s, HlsMode::Ts, kHlsPrefix);
    if (route == Route::HttpStream)
        return httpStream(*s);
    if (route == Route::MmsStream)
        return mmsh(*s, false);

    switch (fault) {
    case Fault::RedirectLoop:
    case Fault::RedirectChain:
        return redirect(firstHop);
    case Fault::SelfPlaylist: {
        const Document d = selfReferencingPlaylist(*s);
        return document(200, "OK", d.contentType, d.body);
    }
    case Fault::HugePlaylist: {
        const Document d = hugePlaylist(*s, kHugePlaylistBytes);
        return document(200, "OK", d.contentType, d.body);
    }
    case Fault::LocalPlaylist: {
        const Document d = localEntriesPlaylist(*s);
        return document(200, "OK", d.contentType, d.body);
    }
    case Fault::NegativeLength:
        return badLength(*s, "-5");
    case Fault::HugeLength:
        return badLength(*s, "99999999999999999999");
    default:
        return stationAnswer(*s);
    }
}

StationConnection::Reply StationConnection::stationAnswer(const ServedStation &s)
{
    switch (s.answer) {
    case Answer::Mp3File:
        if (m_fault == Fault::Id3Cover)
            return mediaFile(coverTag(s.caption) + m_sim->mediaFile(s), "audio/mpeg");
        if (m_fault == Fault::Id3CoverAac)
            return mediaFile(coverTag(s.caption) + m_sim->aacFile(s), "audio/aac");
        return mediaFile(m_sim->mediaFile(s), "audio/mpeg");
    case Answer::IcecastMount:
        return httpStream(s);
    case Answer::Mmsh:
        return mmsh(s, false);
    case Answer::MmshPcm:
        return mmsh(s, true);
    case Answer::IcyServer:
        return icyServer(s);
    case Answer::RealMedia:
        // RealMedia over HTTP is a file on a web server, read by the player at its own pace.
        return mediaFile(m_sim->mediaFile(s), "audio/x-pn-realaudio");
    default: {
        const Document d = documentOf(s);
        return document(200, "OK", d.contentType, d.body);
    }
    }
}

StationConnection::Reply StationConnection::httpStream(const ServedStation &s)
{
    const bool meta = requestHeader("Icy-MetaData").trimmed() == "1";
    IcyText text = icyTextOf(s, m_fault);
    Reply r;
    r.status = 200;
    const bool aac = m_fault == Fault::Id3CoverAac;
    const QByteArray kbps = QByteArray::number(aac ? 48 : m_sim->liveMp3Kbps());
    // One header a line, as on the wire.
    // clang-format off
    r.head = statusLine("HTTP/1.0", 200, "OK") + "Content-Type: " + (aac ? "audio/aac" : "audio/mpeg") + "\r\n"
             "icy-name: " + text.name + "\r\n"
             "icy-genre: Arabic\r\n"
             "icy-br: " + kbps + "\r\n"
             + (meta ? "icy-metaint: " + QByteArray::number(text.titles.metaint) + "\r\n" : QByteArray())
             + "Cache-Control: no-cache\r\nServer: Icecast 2.4.4\r\nConnection: close\r\n\r\n";
    // clang-format on
    r.live = std::make_unique<LiveSource>(meta ? LiveSource::Framing::Mp3Icy : LiveSource::Framing::Mp3,
                                          aac ? ToneEncoder::Format::Adts : ToneEncoder::Format::Mp3, s.toneHz(),
                                          std::move(text.titles), aac ? 0 : m_sim->liveMp3Kbps() * 1000);
    if (m_fault == Fault::Id3Cover || aac)
        r.live->setPrefix(coverTag(s.caption)); // an encoder's source file, tag and all
    return r;
}

StationConnection::Reply StationConnection::icyServer(const ServedStation &s)
{
    // A SHOUTcast v1 server: ICY status line whatever the client; metadata when asked.
    const bool meta = requestHeader("Icy-MetaData").trimmed() == "1";
    IcyText text = icyTextOf(s, m_fault);
    Reply r;
    r.status = 200;
    r.head = icyHead(s, text.name, meta ? text.titles.metaint : 0, QByteArray::number(m_sim->liveMp3Kbps()));
    r.live = std::make_unique<LiveSource>(meta ? LiveSource::Framing::Mp3Icy : LiveSource::Framing::Mp3,
                                          ToneEncoder::Format::Mp3, s.toneHz(), std::move(text.titles),
                                          m_sim->liveMp3Kbps() * 1000);
    if (m_fault == Fault::Id3Cover)
        r.live->setPrefix(coverTag(s.caption));
    return r;
}

StationConnection::Reply StationConnection::tenBytes(const ServedStation &s)
{
    // A server that breaks off at once: the ICY head, a few bytes of audio, then close.
    Reply r;
    r.status = 200;
    r.head = icyHead(s, s.caption.toUtf8(), 0, QByteArray::number(m_sim->liveMp3Kbps()));
    r.body = ToneEncoder(ToneEncoder::Format::Mp3, s.toneHz()).encode(500).left(kTenBytes);
    return r;
}

StationConnection::Reply StationConnection::hugeChunk(const ServedStation &s, bool page)
{
    // A chunked body whose first chunk claims nearly 2^63 bytes; some bytes follow (audio, or
    // for a page a playlist), then close.
    const QByteArray bytes = page ? m3uOf(s).body : ToneEncoder(ToneEncoder::Format::Mp3, s.toneHz()).encode(1000);
    Reply r;
    r.status = 200;
    r.head = statusLine("HTTP/1.1", 200, "OK") + "Content-Type: " + (page ? "text/html" : "audio/mpeg") + "\r\n"
             "Transfer-Encoding: chunked\r\nServer: lumora-station-sim\r\nConnection: close\r\n\r\n";
    r.body = kHugeChunkSize + QByteArray("\r\n") + bytes;
    return r;
}

StationConnection::Reply StationConnection::badLength(const ServedStation &s, const QByteArray &length)
{
    // An M3U whose Content-Length no client can take as it is; the body ends with the close.
    Reply r;
    r.status = 200;
    const Document d = m3uOf(s);
    r.head = statusLine("HTTP/1.1", 200, "OK") + "Content-Type: " + d.contentType + "\r\n"
             "Content-Length: " + length + "\r\nServer: lumora-station-sim\r\nConnection: close\r\n\r\n";
    r.body = d.body;
    return r;
}

StationConnection::Reply StationConnection::sparseOgg(const ServedStation &s)
{
    // An Ogg stream as a muxer with long pages sends it: the header pages at once, then one
    // page carrying sparsePageMs of audio every sparsePageMs.
    Reply r;
    r.status = 200;
    r.head = statusLine("HTTP/1.0", 200, "OK") + "Content-Type: audio/ogg\r\n"
             "icy-name: " + s.caption.toUtf8() + "\r\n"
             "Cache-Control: no-cache\r\nServer: Icecast 2.4.4\r\nConnection: close\r\n\r\n";
    r.live = std::make_unique<LiveSource>(LiveSource::Framing::Ogg, ToneEncoder::Format::OggVorbis, s.toneHz());
    r.sliceMs = m_sim->sparsePageMs();
    return r;
}

StationConnection::Reply StationConnection::mmsh(const ServedStation &s, bool pcm)
{
    // Windows Media Services over HTTP: a request without xPlayStrm=1 asks for the header
    // only ("describe"); with it, for the stream.
    QByteArray pragmas;
    for (const auto &[k, v] : m_headers)
        if (k.compare("Pragma", Qt::CaseInsensitive) == 0)
            pragmas += v + ',';
    const bool play = pragmas.contains("xPlayStrm=1");
    Reply r;
    r.status = 200;
    r.head = statusLine("HTTP/1.0", 200, "OK")
             + "Content-Type: " + (play ? "application/x-mms-framed" : "application/vnd.ms.wms-hdr.asfv1")
             + "\r\nServer: Cougar/9.01.01.3814\r\n"
               "Cache-Control: no-cache\r\n"
               "Pragma: no-cache,client-id=3320437311,xResetStrm=1,features=\"broadcast\",timeout=60000\r\n"
               "Pragma: xPlayStrm=" + (play ? "1" : "0") + "\r\n"
               "Connection: close\r\n\r\n";
    r.live = std::make_unique<LiveSource>(play ? LiveSource::Framing::MmshPlay : LiveSource::Framing::MmshDescribe,
                                          pcm ? ToneEncoder::Format::AsfPcm : ToneEncoder::Format::AsfWma,
                                          s.toneHz());
    return r;
}

StationConnection::Reply StationConnection::document(int status, const QByteArray &reason,
                                                     const QByteArray &type, const QByteArray &body,
                                                     const QByteArray &extraHeaders)
{
    Reply r;
    r.status = status;
    // gzip-playlist: compressed whatever the client asked, as some web servers are set up.
    const bool compress = m_fault == Fault::GzipPlaylist && status == 200 && !body.isEmpty();
    const QByteArray sent = compress ? gzipped(body) : body;
    r.head = statusLine("HTTP/1.1", status, reason) + "Content-Type: " + type + "\r\n"
             + (compress ? QByteArray("Content-Encoding: gzip\r\nVary: Accept-Encoding\r\n") : QByteArray())
             + "Content-Length: " + QByteArray::number(sent.size()) + "\r\n" + extraHeaders
             + "Server: lumora-station-sim\r\n"
             + (m_keepAlive ? "Connection: keep-alive\r\nKeep-Alive: timeout=" + QByteArray::number(kKeepAliveMs / 1000) + "\r\n\r\n"
                            : QByteArray("Connection: close\r\n\r\n"));
    r.body = sent;
    return r;
}

StationConnection::Reply StationConnection::hlsMaster(const ServedStation &s, HlsMode mode, const QByteArray &base)
{
    // base: where the variants are, or empty for beside the master.
    const QByteArray variants = base.isEmpty() ? QByteArray()
        : base + QByteArray::number(s.index) + '/' + hlsModeName(mode).toLatin1() + '/';
    const QByteArray body = "#EXTM3U\n#EXT-X-VERSION:3\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=" + QByteArray::number(StationSimulator::kHlsLowBandwidth)
        + ",CODECS=\"mp4a.40.2\"\n" + variants + "lo/index.m3u8\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=" + QByteArray::number(StationSimulator::kHlsHighBandwidth)
        + ",CODECS=\"mp4a.40.2\"\n" + variants + "hi/index.m3u8\n";
    return document(200, "OK", "application/vnd.apple.mpegurl", body);
}

StationConnection::Reply StationConnection::hls(const ServedStation &s, const QByteArray &path)
{
    // path: MODE/master.m3u8, MODE/key, MODE/VARIANT/index.m3u8, MODE/VARIANT/init.mp4 or
    // MODE/VARIANT/SEQUENCE.SUFFIX
    const QList<QByteArray> parts = path.split('?').first().split('/');
    const std::optional<HlsMode> mode = hlsModeNamed(parts.value(0));
    const auto notFound = [this] { return document(404, "Not Found", "text/plain", "no such segment\n"); };
    if (!mode)
        return notFound();
    if (parts.size() == 2 && parts[1] == "master.m3u8")
        return hlsMaster(s, *mode, {});
    if (parts.size() == 2 && parts[1] == "key")
        return document(200, "OK", "application/octet-stream", StationSimulator::hlsKey(s));
    if (parts.size() != 3 || (parts[1] != "hi" && parts[1] != "lo"))
        return notFound();
    HlsChannel *channel = m_sim->hlsChannel(s, *mode, parts[1] == "lo");
    if (!channel)
        return document(500, "Internal Server Error", "text/plain", "the encoder is missing\n");
    if (parts[2] == "index.m3u8")
        return document(200, "OK", "application/vnd.apple.mpegurl", channel->playlist("../key"));
    if (parts[2] == "init.mp4" && *mode == HlsMode::Fmp4)
        return document(200, "OK", "video/mp4", channel->initSection());
    const QByteArray suffix = channel->segmentSuffix();
    if (!parts[2].endsWith(suffix))
        return notFound();
    bool ok = false;
    const qint64 sequence = parts[2].chopped(suffix.size()).toLongLong(&ok);
    const std::optional<QByteArray> segment = ok ? channel->segment(sequence) : std::nullopt;
    if (!segment)
        return notFound();
    const QByteArray type = *mode == HlsMode::Packed ? "audio/aac" : *mode == HlsMode::Fmp4 ? "video/iso.segment" : "video/mp2t";
    return document(200, "OK", type, *segment);
}

StationConnection::Reply StationConnection::redirect(const QString &location)
{
    return document(302, "Found", "text/html",
                    "<html><body><a href=\"" + location.toUtf8() + "\">moved</a></body></html>\n",
                    "Location: " + location.toUtf8() + "\r\n");
}

StationConnection::Reply StationConnection::mediaFile(const QByteArray &file, const QByteArray &type)
{
    // Byte ranges as a file server offers them: "bytes=a-" and "bytes=a-b".
    static const QRegularExpression range(QStringLiteral("^bytes=(\\d+)-(\\d*)$"));
    const auto m = range.match(QString::fromLatin1(requestHeader("Range")));
    if (m.hasMatch()) {
        const qint64 from = m.captured(1).toLongLong();
        qint64 to = m.captured(2).isEmpty() ? file.size() - 1 : m.captured(2).toLongLong();
        to = std::min<qint64>(to, file.size() - 1);
        if (from >= file.size() || from > to)
            return document(416, "Range Not Satisfiable", "text/plain", {},
                            "Content-Range: bytes */" + QByteArray::number(file.size()) + "\r\n");
        return document(206, "Partial Content", type, file.mid(from, to - from + 1),
                        "Accept-Ranges: bytes\r\nContent-Range: bytes " + QByteArray::number(from) + '-'
                            + QByteArray::number(to) + '/' + QByteArray::number(file.size()) + "\r\n");
    }
    return document(200, "OK", type, file, "Accept-Ranges: bytes\r\n");
}

void StationConnection::deliver(Reply reply, Delivery delivery)
{
    if (m_headOnly) {
        reply.body.clear();
        reply.live.reset();
    }
    if (reply.live && !reply.live->ok()) {
        qCWarning(lcStationSim).noquote() << "cannot encode:" << reply.live->errorString();
        reply = document(500, "Internal Server Error", "text/plain", "encoder failed\n");
    }
    switch (delivery) {
    case Delivery::Silent:
        return; // keep the connection open, say nothing
    case Delivery::Stall:
        m_socket->write(reply.head);
        return;
    case Delivery::Trickle:
        m_pending = reply.head + reply.body;
        m_live = std::move(reply.live);
        disconnect(&m_timer, nullptr, this, nullptr);
        connect(&m_timer, &QTimer::timeout, this, &StationConnection::trickleTick);
        m_timer.start(1000);
        trickleTick();
        return;
    case Delivery::Reset:
        m_socket->write(reply.head);
        if (reply.live)
            m_socket->write(reply.live->next(m_sim->burstMs()));
        else
            m_socket->write(reply.body.left(reply.body.size() / 2));
        m_socket->flush();
        QTimer::singleShot(kResetAfterMs, this, &StationConnection::resetConnection);
        return;
    case Delivery::Normal:
        break;
    }
    m_socket->write(reply.head);
    if (!reply.live) {
        m_socket->write(reply.body);
        if (m_keepAlive)
            awaitNextRequest();
        else
            finishWhenWritten();
        return;
    }
    m_live = std::move(reply.live);
    m_sliceMs = reply.sliceMs;
    m_burstMs = m_sliceMs > 0 ? 0 : m_sim->burstMs();
    m_socket->write(m_live->next(m_burstMs));
    if (m_live->finished()) {
        finishWhenWritten();
        return;
    }
    m_producedMs = m_burstMs;
    m_clock.start();
    m_timer.start(kTickMs);
}

void StationConnection::tick()
{
    if (!m_live)
        return;
    // Real time: whatever audio is due since the last write, or whole slices when sliced.
    const qint64 due = m_burstMs + m_clock.elapsed() - m_producedMs;
    const qint64 slice = m_sliceMs > 0 ? m_sliceMs : due;
    if (due < std::max<qint64>(m_sliceMs, kTickMs / 2) || m_socket->bytesToWrite() > kMaxQueuedBytes)
        return;
    m_socket->write(m_live->next(slice));
    m_producedMs += slice;
}

void StationConnection::trickleTick()
{
    if (m_pending.size() < 64 && m_live)
        m_pending += m_live->next(1000);
    if (m_pending.isEmpty()) {
        m_timer.stop();
        finishWhenWritten();
        return;
    }
    m_socket->write(m_pending.left(1));
    m_pending.remove(0, 1);
}

void StationConnection::resetConnection()
{
    // SO_LINGER with a zero timeout turns close() into a TCP reset.
    const qintptr fd = m_socket->socketDescriptor();
    if (fd >= 0) {
        linger l{1, 0};
        ::setsockopt(int(fd), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    m_timer.stop();
    m_socket->abort();
    deleteLater();
}

void StationConnection::awaitNextRequest()
{
    // As web servers do for kept connections: the end of an answer goes out at once rather
    // than waiting for the client's delayed acknowledgement of the part before it.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_buffer.remove(0, m_requestBytes);
    m_requestBytes = 0;
    m_handled = false;
    m_headOnly = false;
    m_keepAlive = false;
    m_fault = Fault::None;
    m_headers.clear();
    m_record = {};
    m_hlsPath.clear();
    m_idle.start(kKeepAliveMs);
    if (!m_buffer.isEmpty()) // the client did not wait for the answer
        QMetaObject::invokeMethod(this, &StationConnection::onReadyRead, Qt::QueuedConnection);
}

void StationConnection::finishWhenWritten()
{
    if (m_socket->bytesToWrite() == 0) {
        m_socket->disconnectFromHost();
        return;
    }
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
        if (m_socket->bytesToWrite() == 0)
            m_socket->disconnectFromHost();
    });
}

} // namespace lumora::sim
