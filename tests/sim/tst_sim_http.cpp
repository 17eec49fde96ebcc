// The simulator over the wire: every address answers as its kind, matching is exact, ICY and
// MMSH framing, file lengths, pacing, tones and the request log.

#include "tests/support/raw_http.h"
#include "tests/support/sim_fixture.h"
#include "tools/station-sim/playlist_writer.h"

#include <QBuffer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QtEndian>

using namespace lumora;
using namespace lumora::sim;
using namespace lumora::test;

namespace {

const QByteArray kAsfHeaderGuid = QByteArray::fromHex("3026B2758E66CF11A6D900AA0062CE6C");

struct QtAnswer {
    int status = 0;
    QByteArray contentType;
    QByteArray body;
};

QtAnswer qtGet(QNetworkAccessManager &nam, const QString &address)
{
    QNetworkReply *reply = nam.get(QNetworkRequest(QUrl(address)));
    QSignalSpy done(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        done.wait(5000);
    QtAnswer a;
    a.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    a.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    a.body = reply->readAll();
    reply->deleteLater();
    return a;
}

QByteArray typeOf(Answer a)
{
    switch (a) {
    case Answer::AsxTidy: case Answer::AsxServerStyle: return "video/x-ms-asf";
    case Answer::Wvx: return "video/x-ms-wvx";
    case Answer::M3u: return "audio/x-mpegurl";
    case Answer::Pls: return "audio/x-scpls";
    case Answer::Wpl: return "application/vnd.ms-wpl";
    default: return "text/html; charset=utf-8";
    }
}

// What the body of a document answer must look like.
bool bodyHasForm(Answer a, const QByteArray &body)
{
    switch (a) {
    case Answer::AsxTidy: return body.startsWith("<asx version=\"3.0\">") && body.contains("<ref href=");
    case Answer::AsxServerStyle:
    case Answer::ScriptAsx:
        return body.startsWith("<ASX VERSION=\"3.0\">") && body.contains("<REF HREF=") && body.contains("\r\n");
    case Answer::Wvx: return body.startsWith("<ASX version=\"3.0\">") && body.contains("<Ref href=");
    case Answer::M3u: case Answer::ScriptM3u: return body.startsWith("#EXTM3U\n");
    case Answer::Pls: case Answer::ScriptPls: return body.startsWith("[playlist]\n") && body.contains("File1=");
    case Answer::Wpl: return body.startsWith("<?wpl version=\"1.0\"?>") && body.contains("<media src=");
    case Answer::HtmlEmbed: return body.contains("<html") && body.contains("<embed src=");
    case Answer::HtmlAudio: return body.contains("<html") && body.contains("<audio") && body.contains("<source src=");
    case Answer::HtmlObject: return body.contains("<html") && body.contains("<param name=\"URL\" value=");
    default: return false;
    }
}

QString linkIn(const QByteArray &body)
{
    static const QRegularExpression re(QStringLiteral("((?:http|mms)://[^\"\\s<]+)"));
    const auto m = re.match(QString::fromUtf8(body));
    return m.captured(1);
}

} // namespace

class TestSimHttp : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { m_sim->clearFaults(); }
    void everyAddressAnswersAsItsKind();
    void playlistsPointAtStreamsOnTheSameSimulator();
    void matchingIsExact();
    void wireFormsOfArabicSpacesAndPercent();
    void icyMetadataFraming();
    void mmshFraming();
    void filesHaveALengthAndEnd();
    void liveStreamsArePacedInRealTime();
    void tonesIdentifyAddresses();
    void requestLogRecordsEachRequest();

private:
    std::unique_ptr<StationSimulator> m_sim;
    QNetworkAccessManager m_nam;
};

void TestSimHttp::initTestCase()
{
    m_sim = startLoopbackSimulator();
    QVERIFY(m_sim);
    QCOMPARE(m_sim->served().size(), 157); // 156 distinct catalogue addresses + the one in a query
    QVERIFY(m_sim->unserved().isEmpty());
}

void TestSimHttp::everyAddressAnswersAsItsKind()
{
    int stations = 0;
    for (const ServedStation &s : m_sim->served()) {
        const QByteArray what = (s.label() + u' ' + s.address).toUtf8();
        stations += int(s.stations.size());
        switch (s.answer) {
        case Answer::Mp3File: {
            const QtAnswer a = qtGet(m_nam, s.address);
            QVERIFY2(a.status == 200 && a.contentType == "audio/mpeg", what);
            QVERIFY2(mp3FrameRun(a.body) > a.body.size() - 2000, what);
            break;
        }
        case Answer::RealMedia: {
            const QtAnswer a = qtGet(m_nam, s.address);
            QVERIFY2(a.status == 200 && a.contentType == "audio/x-pn-realaudio", what);
            QVERIFY2(a.body.startsWith(".RMF"), what);
            break;
        }
        case Answer::IcyServer: {
            const RawAnswer a = exchange(s.port, getRequest(s.target), 2000, 2000);
            QVERIFY2(a.statusLine == "ICY 200 OK", what);
            QVERIFY2(a.header("content-type") == "audio/mpeg", what);
            QVERIFY2(a.header("icy-name") == s.caption.toUtf8(), what);
            QVERIFY2(mp3FrameRun(a.body) > 1000, what);
            break;
        }
        case Answer::IcecastMount: {
            const RawAnswer a = exchange(s.port, getRequest(s.target), 2000, 2000);
            QVERIFY2(a.statusLine == "HTTP/1.0 200 OK", what);
            QVERIFY2(a.header("Content-Type") == "audio/mpeg", what);
            QVERIFY2(mp3FrameRun(a.body) > 1000, what);
            break;
        }
        case Answer::Mmsh:
        case Answer::MmshPcm: {
            QCOMPARE(s.scheme, Scheme::Mms);
            const RawAnswer a = exchange(s.port, getRequest(s.target, {"Pragma: xClientGUID={00000000-0000-0000-0000-000000000000}"}));
            QVERIFY2(a.status() == 200 && a.closedByServer, what);
            QVERIFY2(a.header("Content-Type") == "application/vnd.ms.wms-hdr.asfv1", what);
            QVERIFY2(a.body.startsWith("$H") && a.body.mid(12, 16) == kAsfHeaderGuid, what);
            break;
        }
        default: {
            QVERIFY2(isPlaylistAnswer(s.answer) || s.kind == Kind::Html, what);
            const QtAnswer a = qtGet(m_nam, s.address);
            QVERIFY2(a.status == 200, what);
            QVERIFY2(a.contentType == typeOf(s.answer), what + " " + a.contentType);
            QVERIFY2(bodyHasForm(s.answer, a.body), what + "\n" + a.body);
            QVERIFY2(a.body.contains(s.caption.toUtf8()), what);
            break;
        }
        }
    }
    QCOMPARE(stations, 158);
}

void TestSimHttp::playlistsPointAtStreamsOnTheSameSimulator()
{
    for (const ServedStation &s : m_sim->served()) {
        if (!isPlaylistAnswer(s.answer) && s.kind != Kind::Html)
            continue;
        const QByteArray what = s.label().toUtf8();
        const QString link = linkIn(qtGet(m_nam, s.address).body);
        const auto parts = splitAddress(link);
        QVERIFY2(parts, what);
        QString expectedLabel = s.label();
        if (s.stations.front()->page == Page::Form6 && s.stations.front()->number == 3) {
            // The script hands out the mms address it was given in its query, as it is.
            QCOMPARE(link, s.address.mid(s.address.indexOf(QStringLiteral("?url=")) + 5));
            const ServedStation *inner = m_sim->servedFor(link);
            QVERIFY(inner);
            QCOMPARE(inner->scheme, Scheme::Mms);
            QCOMPARE(inner, &m_sim->served().last());
            expectedLabel = inner->label();
        } else {
            QVERIFY2(parts->host == s.host && parts->port == s.port, what + " -> " + link.toUtf8());
        }
        const QByteArray target = wireTarget(parts->rest);
        if (parts->scheme == u"http") {
            const RawAnswer a = exchange(parts->port, getRequest(target), 1500, 1000);
            QVERIFY2(a.status() == 200 && a.header("Content-Type") == "audio/mpeg", what);
            QVERIFY2(mp3FrameRun(a.body) > 500, what);
        } else {
            QCOMPARE(parts->scheme, QStringLiteral("mms"));
            const RawAnswer a = exchange(parts->port, getRequest(target));
            QVERIFY2(a.status() == 200 && a.body.startsWith("$H"), what);
        }
        // The stream the playlist names is the station's own, with its tone.
        QCOMPARE(m_sim->requestLog().last().station, expectedLabel);
    }
}

void TestSimHttp::matchingIsExact()
{
    // One character changed anywhere that matters gets 404; the exact target gets 200.
    for (const ServedStation &s : m_sim->served()) {
        if (s.answer == Answer::Mmsh || s.answer == Answer::MmshPcm || s.answer == Answer::IcyServer
            || s.answer == Answer::IcecastMount)
            continue; // streams: covered below with a raw client
        QByteArray changed = s.target;
        const char last = changed.back();
        changed.back() = last == 'x' ? 'y' : 'x';
        const RawAnswer a = exchange(s.port, getRequest(changed));
        QVERIFY2(a.status() == 404, (s.label() + u' ' + QString::fromLatin1(changed)).toUtf8());
        // Upper case where the catalogue has lower case is another address.
        QByteArray upper = s.target.toUpper();
        if (upper != s.target)
            QVERIFY2(exchange(s.port, getRequest(upper)).status() == 404, s.label().toUtf8());
    }
    const ServedStation *root = m_sim->servedFor(*findStation(Page::Form2, 8)); // empty remainder
    QCOMPARE(root->target, QByteArray("/"));
    QCOMPARE(exchange(root->port, getRequest("/"), 800, 100).statusLine, QByteArray("ICY 200 OK"));
    QCOMPARE(exchange(root->port, getRequest("//")).status(), 404);
    QCOMPARE(exchange(root->port, getRequest("/?")).status(), 404);
    const ServedStation *live = m_sim->servedFor(*findStation(Page::Form2, 4)); // "/live"
    QCOMPARE(exchange(live->port, getRequest("/live/")).status(), 404);
    QCOMPARE(exchange(live->port, getRequest("/Live")).status(), 404);
    QCOMPARE(exchange(live->port, getRequest("/live?x=1")).status(), 404);
    // An address served on one port is not served on another.
    const ServedStation *other = m_sim->servedFor(*findStation(Page::Form2, 1));
    QCOMPARE(exchange(other->port, getRequest("/live")).status(), 404);
    // Query strings are part of the address: a missing or changed key is another address.
    const ServedStation *m3u = m_sim->servedFor(*findStation(Page::Form2, 2));
    QCOMPARE(exchange(m3u->port, getRequest("/cgi-bin/plist.m3u")).status(), 404);
    QCOMPARE(exchange(m3u->port, getRequest("/cgi-bin/plist.m3u?user=elshab_mp3&type=m3u&ext=file.m3u&")).status(), 404);
    QCOMPARE(exchange(m3u->port, getRequest("/cgi-bin/plist.m3u?type=m3u&user=elshab_mp3&ext=file.m3u")).status(), 404);
}

void TestSimHttp::wireFormsOfArabicSpacesAndPercent()
{
    struct Case {
        Page page;
        int number;
        QByteArray target; // as clients send it
    };
    const Case cases[] = {
        {Page::Form2, 11, "/game/game/701/%D8%A5%D8%B0%D8%A7%D8%B9%D8%A9_%D8%B1%D8%A7%D8%AF%D9%8A%D9%88_"
                          "%D8%A5%D8%B3%D9%85%D8%A7%D8%B9%D9%8A%D9%84%D9%8A%D8%A9_%D9%85%D9%88%D9%84.html"},
        {Page::Form12, 1, "/game/game/536/%D8%B1%D8%A7%D8%AF%D9%8A%D9%88_%D8%A7%D9%84%D8%A8%D8%AD%D8%B1%D9%8A%D9%86_fm_93.html"},
        {Page::Form12, 2, "/player/Radio%20Bahrain%2096.5%20FM/390"},
        {Page::Form17, 4, "/player/Al%20Khaleejiya%20100.9%20FM/5421"},
        {Page::Form17, 6, "/player/Dubai%20Eye%20103.8%20FM/42"},
        {Page::Form4, 1, "/Video/Arabic-Radio/CAP-%20Radio/video.asx"},
        {Page::Form4, 9, "/Video/Arabic-Radio/02/Radio%202M%20maroc/video.asx"},
        {Page::Form7, 8, "/Video/Arabic-Radio/Radio-Fm-Jordan%20-2/video.asx"},
    };
    for (const Case &c : cases) {
        const ServedStation *s = m_sim->servedFor(*findStation(c.page, c.number));
        QVERIFY(s);
        QCOMPARE(s->target, c.target);
        // Qt's own encoding of the catalogue address is the same.
        const QUrl url(s->address);
        QCOMPARE(url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority), c.target);
        // A raw client sending these bytes is answered.
        const RawAnswer a = exchange(s->port, getRequest(c.target), 1500, 500);
        QVERIFY2(a.status() == 200, s->label().toUtf8());
        QCOMPARE(m_sim->requestLog().last().station, s->label());
    }
    // Lower-case percent-encoding is not what clients send, and is another target.
    const ServedStation *arabic = m_sim->servedFor(*findStation(Page::Form12, 1));
    QCOMPARE(exchange(arabic->port, getRequest(QByteArray(arabic->target).replace("%D8", "%d8"))).status(), 404);
    // A raw space where "%20" belongs, and "%2520" (the percent sign encoded), are not matched.
    const ServedStation *cap = m_sim->servedFor(*findStation(Page::Form4, 1));
    QCOMPARE(exchange(cap->port, getRequest("/Video/Arabic-Radio/CAP- Radio/video.asx")).status(), 404);
    QCOMPARE(exchange(cap->port, getRequest("/Video/Arabic-Radio/CAP-%2520Radio/video.asx")).status(), 404);
    // The raw UTF-8 bytes of the Arabic path are not the wire form either.
    const QString rem = QString::fromUtf8(findStation(Page::Form2, 11)->remainderUtf8);
    const ServedStation *ismailia = m_sim->servedFor(*findStation(Page::Form2, 11));
    QCOMPARE(exchange(ismailia->port, getRequest(rem.toUtf8())).status(), 404);
}

void TestSimHttp::icyMetadataFraming()
{
    const ServedStation *s = m_sim->servedFor(*findStation(Page::Form2, 8)); // root on its own port
    QCOMPARE(s->answer, Answer::IcyServer);
    m_sim->setBurstMs(7000); // enough audio at once for three metadata intervals
    const auto restoreBurst = qScopeGuard([this] { m_sim->setBurstMs(2000); });

    // Asked for metadata: 8192 audio bytes, then a length byte and StreamTitle = the caption.
    const RawAnswer meta = exchange(s->port, getRequest("/", {"Icy-MetaData: 1"}), 3000, 3 * 8192 + 200);
    QCOMPARE(meta.statusLine, QByteArray("ICY 200 OK"));
    QCOMPARE(meta.header("icy-metaint"), QByteArray("8192"));
    QVERIFY(meta.body.size() > 2 * 8192 + 100);
    const QByteArray expected = "StreamTitle='" + s->caption.toUtf8() + "';";
    const int units = quint8(meta.body[8192]);
    QCOMPARE(units, int((expected.size() + 15) / 16));
    const QByteArray block = meta.body.mid(8193, units * 16);
    QCOMPARE(block.left(expected.size()), expected);
    QCOMPARE(block.mid(expected.size()), QByteArray(units * 16 - expected.size(), '\0'));
    // The next block follows 8192 audio bytes later; it is empty (title unchanged).
    const qsizetype second = 8193 + units * 16 + 8192;
    QCOMPARE(int(quint8(meta.body[second])), 0);
    // Without the metadata the audio is one unbroken run of MP3 frames.
    QByteArray audio = meta.body.left(8192) + meta.body.mid(8193 + units * 16, 8192);
    QVERIFY(mp3FrameRun(audio) > audio.size() - 1500);

    // Not asked: no icy-metaint, and nothing but MP3 frames.
    const RawAnswer plain = exchange(s->port, getRequest("/"), 3000, 3 * 8192);
    QCOMPARE(plain.statusLine, QByteArray("ICY 200 OK"));
    QVERIFY(plain.header("icy-metaint").isEmpty());
    QVERIFY(!plain.body.contains("StreamTitle"));
    QVERIFY(mp3FrameRun(plain.body) > plain.body.size() - 1500);

    // An Icecast-style mount answers HTTP/1.0 and also frames metadata when asked.
    const ServedStation *mount = m_sim->servedFor(*findStation(Page::Form2, 4));
    const RawAnswer m = exchange(mount->port, getRequest(mount->target, {"Icy-MetaData: 1"}), 3000, 8192 + 100);
    QCOMPARE(m.statusLine, QByteArray("HTTP/1.0 200 OK"));
    QCOMPARE(m.header("icy-metaint"), QByteArray("8192"));
    QCOMPARE(m.body.mid(8193, 13), QByteArray("StreamTitle='"));
}

void TestSimHttp::mmshFraming()
{
    const ServedStation *s = m_sim->servedFor(*findStation(Page::Form5, 7)); // live.wm
    const RawAnswer describe = exchange(s->port, getRequest(s->target, {"Pragma: no-cache,rate=1.000000,request-context=1"}));
    QVERIFY(describe.closedByServer);
    QCOMPARE(describe.header("Content-Type"), QByteArray("application/vnd.ms.wms-hdr.asfv1"));
    QVERIFY(describe.header("Pragma").contains("features=\"broadcast\""));
    const QByteArray &h = describe.body;
    QCOMPARE(h.left(2), QByteArray("$H"));
    const int length = qFromLittleEndian<quint16>(h.constData() + 2);
    QCOMPARE(qFromLittleEndian<quint16>(h.constData() + 10), quint16(length));
    QCOMPARE(h.size(), 4 + length); // one chunk, nothing after it
    QCOMPARE(h.mid(12, 16), kAsfHeaderGuid);

    const RawAnswer play = exchange(s->port, getRequest(s->target, {"Pragma: xPlayStrm=1", "Pragma: stream-switch-count=1"}),
                                    1500, 64 * 1024);
    QCOMPARE(play.header("Content-Type"), QByteArray("application/x-mms-framed"));
    // $H with the same header, then $D chunks of one ASF packet each, numbered in order.
    const QByteArray &b = play.body;
    QCOMPARE(b.left(4 + length), h.left(2) + h.mid(2, 2 + length));
    qsizetype pos = 4 + length;
    int packets = 0;
    quint32 sequence = qFromLittleEndian<quint32>(b.constData() + 4);
    while (pos + 12 <= b.size()) {
        QCOMPARE(b.mid(pos, 2), QByteArray("$D"));
        const int size = qFromLittleEndian<quint16>(b.constData() + pos + 2);
        QCOMPARE(qFromLittleEndian<quint32>(b.constData() + pos + 4), ++sequence);
        QCOMPARE(size, 1500 + 8);
        QCOMPARE(quint8(b[pos + 12]), quint8(0x82)); // ASF packet: error correction present
        pos += 4 + size;
        ++packets;
    }
    QVERIFY2(packets > 10, QByteArray::number(packets));
    QVERIFY(!play.closedByServer); // a broadcast goes on
}

void TestSimHttp::filesHaveALengthAndEnd()
{
    const ServedStation *s = m_sim->servedFor(*findStation(Page::Form5, 1)); // stream.mp3
    QCOMPARE(s->answer, Answer::Mp3File);
    const RawAnswer a = exchange(s->port, getRequest(s->target), 5000);
    QVERIFY(a.closedByServer);
    const qsizetype length = a.header("Content-Length").toLongLong();
    QCOMPARE(a.body.size(), length);
    int frames = 0;
    QCOMPARE(mp3FrameRun(a.body, &frames), length);
    // 10 s at 22050 Hz, 576 samples a frame.
    QVERIFY2(frames >= 10 * 22050 / 576 && frames < 10 * 22050 / 576 + 8, QByteArray::number(frames));

    const RawAnswer part = exchange(s->port, getRequest(s->target, {"Range: bytes=1000-1999"}));
    QCOMPARE(part.status(), 206);
    QCOMPARE(part.header("Content-Range"), "bytes 1000-1999/" + QByteArray::number(length));
    QCOMPARE(part.body, a.body.mid(1000, 1000));

    const ServedStation *rm = m_sim->servedFor(*findStation(Page::Form18, 4));
    const RawAnswer r = exchange(rm->port, getRequest(rm->target), 5000);
    QVERIFY(r.closedByServer);
    QCOMPARE(r.body.size(), r.header("Content-Length").toLongLong());
    QVERIFY(r.body.startsWith(".RMF"));
    QVERIFY(r.body.contains("DATA"));
}

void TestSimHttp::liveStreamsArePacedInRealTime()
{
    const ServedStation *s = m_sim->servedFor(*findStation(Page::Form2, 1)); // "/16790", 32 kbit/s
    const RawAnswer a = exchange(s->port, getRequest(s->target), 1500);
    QVERIFY(!a.closedByServer);
    // 2 s burst + 1.5 s real time at 4000 bytes/s = 14000; a file would be all there at once.
    QVERIFY2(a.body.size() > 11000 && a.body.size() < 17000, QByteArray::number(a.body.size()));
    // No burst at all (Icecast's burst-size 0): real time from the first byte, 1.5 s = 6000.
    m_sim->setBurstMs(0);
    const auto restoreBurst = qScopeGuard([this] { m_sim->setBurstMs(2000); });
    const RawAnswer paced = exchange(s->port, getRequest(s->target), 1500);
    QVERIFY2(paced.body.size() > 3500 && paced.body.size() < 8000, QByteArray::number(paced.body.size()));
}

void TestSimHttp::tonesIdentifyAddresses()
{
    QSet<int> tones;
    const ServedStation *script = m_sim->servedFor(*findStation(Page::Form6, 3));
    for (const ServedStation &s : m_sim->served()) {
        // The mms stream that the Form6 Command3 script hands out plays that station's tone;
        // every other address has a tone of its own.
        if (s.address == script->embeddedAddress) {
            QCOMPARE(s.toneHz(), script->toneHz());
            continue;
        }
        QVERIFY(!tones.contains(s.toneHz()));
        tones.insert(s.toneHz());
        QCOMPARE(m_sim->toneHz(s.address), s.toneHz());
        for (const Station *st : s.stations)
            QCOMPARE(StationSimulator::toneHz(*st), s.toneHz());
    }
    QCOMPARE(*std::min_element(tones.begin(), tones.end()), 300);
    QCOMPARE(*std::max_element(tones.begin(), tones.end()), 300 + 10 * 155); // 156 addresses
    // Stations that share an address share its tone.
    QCOMPARE(StationSimulator::toneHz(*findStation(Page::Form5, 5)), StationSimulator::toneHz(*findStation(Page::Form5, 10)));
    QCOMPARE(StationSimulator::toneHz(*findStation(Page::Form4, 16)), StationSimulator::toneHz(*findStation(Page::Form10, 1)));
    QCOMPARE(m_sim->toneHz(QStringLiteral("http://127.0.0.1:1/nothing")), -1);
}

void TestSimHttp::requestLogRecordsEachRequest()
{
    QBuffer device;
    device.open(QIODevice::WriteOnly);
    m_sim->setLogDevice(&device);
    m_sim->clearRequestLog();
    const ServedStation *s = m_sim->servedFor(*findStation(Page::Form16, 7)); // listen.pls
    exchange(s->port, getRequest(s->target, {"Icy-MetaData: 1", "Range: bytes=0-", "X-Other: 1"}));
    exchange(s->port, getRequest("/nothing"));
    m_sim->setLogDevice(nullptr);

    const QList<RequestRecord> log = m_sim->requestLog();
    QCOMPARE(log.size(), 2);
    QCOMPARE(log[0].port, s->port);
    QCOMPARE(log[0].method, QByteArray("GET"));
    QCOMPARE(log[0].target, s->target);
    QCOMPARE(log[0].status, 200);
    QCOMPARE(log[0].station, QStringLiteral("Form16.Command7"));
    QCOMPARE(log[0].header("user-agent"), QByteArray("lumora-test"));
    QCOMPARE(log[0].header("Icy-MetaData"), QByteArray("1"));
    QCOMPARE(log[0].header("Range"), QByteArray("bytes=0-"));
    QVERIFY(log[0].header("X-Other").isEmpty()); // not of interest
    QVERIFY(qAbs(log[0].time.msecsTo(QDateTime::currentDateTimeUtc())) < 5000);
    QCOMPARE(log[1].status, 404);
    QVERIFY(log[1].station.isEmpty());

    const QList<QByteArray> lines = device.data().split('\n');
    QCOMPARE(lines.size(), 3); // two lines and the empty rest
    QVERIFY(lines[0].contains(" " + QByteArray::number(s->port) + " GET /listen.pls 200 Form16.Command7 "));
    QVERIFY(lines[0].contains("Icy-MetaData=\"1\""));
    QVERIFY(lines[1].contains(" GET /nothing 404 -"));
}

QTEST_GUILESS_MAIN(TestSimHttp)
#include "tst_sim_http.moc"
