// Each fault mode, per station and per port, from the API and from the command line.

#include "tests/support/raw_http.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/wait.h"
#include "tools/station-sim/link_condition.h"

#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace lumora;
using namespace lumora::sim;
using namespace lumora::test;

namespace {

// Reads with a plain non-blocking socket until the peer closes or resets, running the event
// loop meanwhile; reports errno of the failing recv (0 for an orderly close).
struct PosixRead {
    QByteArray data;
    int error = -1; // -1: still open when time ran out
};

PosixRead readUntilClosed(quint16 port, const QByteArray &request, int waitMs)
{
    PosixRead r;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    bool sent = false;
    waitFor([&] {
        if (!sent) {
            sent = ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) > 0;
            return false;
        }
        char buf[65536];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0)
            r.data.append(buf, n);
        else if (n == 0)
            r.error = 0;
        else if (errno != EAGAIN && errno != EWOULDBLOCK)
            r.error = errno;
        return r.error >= 0;
    }, waitMs);
    ::close(fd);
    return r;
}

// The entries of an M3U body (the lines that are not comments).
QList<QByteArray> m3uEntries(const QByteArray &body)
{
    QList<QByteArray> entries;
    for (const QByteArray &line : body.split('\n'))
        if (!line.trimmed().isEmpty() && !line.startsWith('#'))
            entries.append(line.trimmed());
    return entries;
}

// Splits an ICY body with the given metaint into its audio and its metadata blocks.
struct IcyParts {
    QByteArray audio;
    QList<QByteArray> blocks; // each without its length byte, zero padding included
};

IcyParts splitIcy(const QByteArray &body, int metaint)
{
    IcyParts p;
    qsizetype pos = 0;
    while (pos + metaint < body.size()) {
        p.audio += body.mid(pos, metaint);
        pos += metaint;
        const int length = quint8(body[pos]) * 16;
        if (pos + 1 + length > body.size())
            break;
        p.blocks.append(body.mid(pos + 1, length));
        pos += 1 + length;
    }
    return p;
}

// "StreamTitle='x';" padded with zeros -> x
QByteArray streamTitle(const QByteArray &block)
{
    const QByteArray text = block.left(block.indexOf('\0') < 0 ? block.size() : block.indexOf('\0'));
    if (!text.startsWith("StreamTitle='") || !text.endsWith("';"))
        return {};
    return text.mid(13, text.size() - 15);
}

// One Ogg page as it arrived.
struct OggPage {
    qint64 arrivedMs;
    qint64 granule;
    quint8 flags;
    QByteArray data; // the whole page
};

// Reads an Ogg stream for waitMs and cuts it into pages, noting when each page's last byte came.
QList<OggPage> readOggPages(quint16 port, const QByteArray &request, int waitMs, QByteArray *head)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    QElapsedTimer clock;
    clock.start();
    QByteArray raw;
    QList<OggPage> pages;
    qsizetype bodyStart = -1, pos = 0;
    bool sent = false;
    waitFor([&] {
        if (socket.state() == QAbstractSocket::UnconnectedState)
            return true;
        if (!sent && socket.state() == QAbstractSocket::ConnectedState)
            sent = socket.write(request) > 0;
        raw += socket.readAll();
        if (bodyStart < 0 && (bodyStart = raw.indexOf("\r\n\r\n")) >= 0) {
            bodyStart += 4;
            pos = bodyStart;
        }
        while (bodyStart >= 0 && pos + 27 <= raw.size()) {
            const int segments = quint8(raw[pos + 26]);
            if (pos + 27 + segments > raw.size())
                break;
            qsizetype size = 27 + segments;
            for (int i = 0; i < segments; ++i)
                size += quint8(raw[pos + 27 + i]);
            if (pos + size > raw.size())
                break;
            pages.append({clock.elapsed(), qFromLittleEndian<qint64>(raw.constData() + pos + 6),
                          quint8(raw[pos + 5]), raw.mid(pos, size)});
            pos += size;
        }
        return false;
    }, waitMs);
    *head = raw.left(bodyStart);
    return pages;
}

} // namespace

class TestSimFaults : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { m_sim->clearFaults(); }
    void refuseClosesThePort();
    void notFoundAndServerError();
    void noAnswerKeepsSilent();
    void headersThenStall();
    void trickleSendsOneByteASecond();
    void resetMidStream();
    void redirectLoop();
    void redirectChainEndsInTheStation();
    void selfReferencingPlaylist();
    void hugePlaylist();
    void junkLabelledAudioMpeg();
    void secondRequestRedirectsToAFile();
    void redirectsAndPlaylistEntriesToLocalSchemes();
    void tenBytesThenClose();
    void cp1256Titles();
    void hostileTitles();
    void hugeChunkAndBrokenLengths();
    void sparseOggPages();
    void mmstSilentKeepsMmshWorking();
    void burstOfSixtyFourKilobytes();
    void liveBitRateAsAsked();
    void commandLineFaults();
    void commandLineNewFaultsAndSettings();
    void manPageListsEveryFault();

private:
    const ServedStation *station(Page page, int number) const
    {
        return m_sim->servedFor(*findStation(page, number));
    }
    std::unique_ptr<StationSimulator> m_sim;
};

void TestSimFaults::initTestCase()
{
    m_sim = startLoopbackSimulator();
    QVERIFY(m_sim);
}

void TestSimFaults::refuseClosesThePort()
{
    const ServedStation *s = station(Page::Form2, 1);
    QVERIFY(exchange(s->port, getRequest(s->target), 300, 100).connected);
    m_sim->setFault(*findStation(Page::Form2, 1), Fault::Refuse);
    RawAnswer a = exchange(s->port, getRequest(s->target));
    QVERIFY(!a.connected);
    QCOMPARE(a.error, QAbstractSocket::ConnectionRefusedError);
    // Other ports are not touched.
    const ServedStation *other = station(Page::Form2, 4);
    QVERIFY(exchange(other->port, getRequest(other->target), 300, 100).connected);
    // Cleared: the port listens again.
    m_sim->clearFaults();
    QCOMPARE(exchange(s->port, getRequest(s->target), 300, 100).status(), 200);
    // By port.
    m_sim->setPortFault(other->port, Fault::Refuse);
    QCOMPARE(exchange(other->port, getRequest(other->target)).error, QAbstractSocket::ConnectionRefusedError);
    m_sim->setPortFault(other->port, Fault::None);
    QCOMPARE(exchange(other->port, getRequest(other->target), 300, 100).status(), 200);
}

void TestSimFaults::notFoundAndServerError()
{
    // E03 serves 72 stations: a station fault touches one, a port fault all of them.
    const ServedStation *a = station(Page::Form2, 3);
    const ServedStation *b = station(Page::Form2, 7);
    QCOMPARE(a->port, b->port);
    m_sim->setFault(*findStation(Page::Form2, 3), Fault::NotFound);
    QCOMPARE(exchange(a->port, getRequest(a->target)).status(), 404);
    QCOMPARE(exchange(b->port, getRequest(b->target)).status(), 200);
    QCOMPARE(m_sim->requestLog().at(m_sim->requestLog().size() - 2).fault, QStringLiteral("404"));
    m_sim->setPortFault(a->port, Fault::ServerError);
    QCOMPARE(exchange(a->port, getRequest(a->target)).status(), 500); // the port wins
    QCOMPARE(exchange(b->port, getRequest(b->target)).status(), 500);
    // Streams of a faulty station fail too.
    m_sim->clearFaults();
    const ServedStation *mount = station(Page::Form2, 4);
    m_sim->setFault(mount->address, Fault::ServerError);
    QCOMPARE(exchange(mount->port, getRequest(mount->target)).status(), 500);
}

void TestSimFaults::noAnswerKeepsSilent()
{
    const ServedStation *s = station(Page::Form16, 7); // PLS
    m_sim->setFault(*findStation(Page::Form16, 7), Fault::NoAnswer);
    const RawAnswer a = exchange(s->port, getRequest(s->target), 1200);
    QVERIFY(a.connected);
    QVERIFY(!a.closedByServer);
    QVERIFY(a.raw.isEmpty());
    QCOMPARE(m_sim->requestLog().last().status, 0);
    QCOMPARE(m_sim->requestLog().last().fault, QStringLiteral("no-answer"));
}

void TestSimFaults::headersThenStall()
{
    const ServedStation *s = station(Page::Form2, 1); // live MP3
    m_sim->setFault(*findStation(Page::Form2, 1), Fault::HeadersThenStall);
    const RawAnswer a = exchange(s->port, getRequest(s->target), 1200);
    QVERIFY(!a.closedByServer);
    QCOMPARE(a.statusLine, QByteArray("HTTP/1.0 200 OK"));
    QCOMPARE(a.header("Content-Type"), QByteArray("audio/mpeg"));
    QVERIFY(a.body.isEmpty());
}

void TestSimFaults::trickleSendsOneByteASecond()
{
    const ServedStation *s = station(Page::Form16, 20); // M3U
    m_sim->setFault(*findStation(Page::Form16, 20), Fault::Trickle);
    const RawAnswer a = exchange(s->port, getRequest(s->target), 2300);
    QVERIFY(!a.closedByServer);
    // One byte at once, then one a second: "HTT" after 2.3 s.
    QVERIFY2(a.raw.size() >= 2 && a.raw.size() <= 4, a.raw);
    QVERIFY(QByteArray("HTTP/1.1 200 OK").startsWith(a.raw));
}

void TestSimFaults::resetMidStream()
{
    const ServedStation *s = station(Page::Form2, 4);
    m_sim->setFault(*findStation(Page::Form2, 4), Fault::ResetMidStream);
    const PosixRead r = readUntilClosed(s->port, getRequest(s->target), 3000);
    QCOMPARE(r.error, ECONNRESET);
    QVERIFY(r.data.startsWith("HTTP/1.0 200 OK\r\n"));
    const qsizetype body = r.data.size() - r.data.indexOf("\r\n\r\n") - 4;
    QVERIFY2(body > 1000, QByteArray::number(body)); // some audio came before the reset
    // Without the fault the stream goes on past the same time.
    m_sim->clearFaults();
    QCOMPARE(readUntilClosed(s->port, getRequest(s->target), 800).error, -1);
}

void TestSimFaults::redirectLoop()
{
    const ServedStation *s = station(Page::Form2, 6); // ASX
    m_sim->setFault(*findStation(Page::Form2, 6), Fault::RedirectLoop);
    QByteArray target = s->target;
    QList<QByteArray> seen;
    for (int i = 0; i < 6; ++i) {
        const RawAnswer a = exchange(s->port, getRequest(target));
        QCOMPARE(a.status(), 302);
        const auto next = splitAddress(QString::fromUtf8(a.header("Location")));
        QVERIFY(next);
        QCOMPARE(next->port, s->port);
        target = next->rest.toUtf8();
        seen.append(target);
    }
    // Two places, back and forth, never an answer.
    QCOMPARE(seen[1], s->target);
    QCOMPARE(seen[0], seen[2]);
    QVERIFY(seen[0] != s->target);
}

void TestSimFaults::redirectChainEndsInTheStation()
{
    const ServedStation *s = station(Page::Form2, 6);
    m_sim->setFault(*findStation(Page::Form2, 6), Fault::RedirectChain);
    m_sim->setRedirectChainLength(4);
    QByteArray target = s->target;
    int redirects = 0;
    RawAnswer a;
    for (;;) {
        a = exchange(s->port, getRequest(target));
        if (a.status() != 302)
            break;
        ++redirects;
        QVERIFY(redirects < 10);
        target = splitAddress(QString::fromUtf8(a.header("Location")))->rest.toUtf8();
    }
    m_sim->setRedirectChainLength(3);
    QCOMPARE(redirects, 4);
    QCOMPARE(a.status(), 200);
    QCOMPARE(a.header("Content-Type"), QByteArray("video/x-ms-asf"));
    QVERIFY(a.body.contains("<ref href=\"http://127.0.0.1:"));
}

void TestSimFaults::selfReferencingPlaylist()
{
    const ServedStation *asx = station(Page::Form2, 3);
    m_sim->setFault(*findStation(Page::Form2, 3), Fault::SelfPlaylist);
    const RawAnswer a = exchange(asx->port, getRequest(asx->target));
    QCOMPARE(a.header("Content-Type"), QByteArray("video/x-ms-asf"));
    QVERIFY(a.body.contains("<REF HREF=\"" + asx->address.toUtf8() + "\""));
    // A stream station turned into a playlist of itself.
    const ServedStation *icy = station(Page::Form2, 8);
    m_sim->setFault(*findStation(Page::Form2, 8), Fault::SelfPlaylist);
    const RawAnswer b = exchange(icy->port, getRequest(icy->target));
    QCOMPARE(b.header("Content-Type"), QByteArray("audio/x-mpegurl"));
    QCOMPARE(b.body.split('\n').value(2), icy->address.toUtf8());
}

void TestSimFaults::hugePlaylist()
{
    const ServedStation *s = station(Page::Form16, 20);
    m_sim->setFault(*findStation(Page::Form16, 20), Fault::HugePlaylist);
    const RawAnswer a = exchange(s->port, getRequest(s->target), 5000);
    QVERIFY(a.closedByServer);
    QVERIFY(a.body.size() > 10 * 1024 * 1024);
    QCOMPARE(a.body.size(), a.header("Content-Length").toLongLong());
    QVERIFY(a.body.startsWith("#EXTM3U\n"));
    QVERIFY(a.body.count("\nhttp://127.0.0.1:") > 100000);
}

void TestSimFaults::junkLabelledAudioMpeg()
{
    const ServedStation *s = station(Page::Form4, 18); // an MP3 file station
    m_sim->setFault(*findStation(Page::Form4, 18), Fault::JunkAudio);
    const RawAnswer a = exchange(s->port, getRequest(s->target), 1500, 12000);
    QCOMPARE(a.status(), 200);
    QCOMPARE(a.header("Content-Type"), QByteArray("audio/mpeg"));
    QVERIFY(a.body.size() >= 12000);
    QVERIFY(!a.body.contains('\xFF')); // no MPEG frame sync anywhere
    QCOMPARE(mp3FrameRun(a.body), 0);
}

namespace {

// The simulator's command-line tests hand it a configuration file.
bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The first <ref href> of an ASX body.
QByteArray asxRef(const QByteArray &body)
{
    static const QRegularExpression re(QStringLiteral("<ref href=\"([^\"]+)\""),
                                       QRegularExpression::CaseInsensitiveOption);
    return re.match(QString::fromUtf8(body)).captured(1).toUtf8();
}

QByteArray targetOf(const QByteArray &address)
{
    const auto parts = splitAddress(QString::fromUtf8(address));
    return parts ? parts->rest.toUtf8() : QByteArray();
}

bool hasArabic(const QString &text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x0600 && c.unicode() <= 0x06FF; });
}

// What an MMS over TCP client sends first: a binary command, no HTTP request line.
const QByteArray kMmstHello = QByteArray::fromHex("01000000cefa0bb0200000004d4d5320");

} // namespace

void TestSimFaults::secondRequestRedirectsToAFile()
{
    const ServedStation *s = station(Page::Form2, 1); // live MP3 stream
    QCOMPARE(exchange(s->port, getRequest(s->target), 300, 100).status(), 200); // before the fault: not counted
    m_sim->setFault(s->address, Fault::SecondDiffers);
    const RawAnswer first = exchange(s->port, getRequest(s->target), 300, 100);
    QCOMPARE(first.statusLine, QByteArray("HTTP/1.0 200 OK"));
    QCOMPARE(first.header("Content-Type"), QByteArray("audio/mpeg"));
    for (int i = 0; i < 2; ++i) {
        const RawAnswer again = exchange(s->port, getRequest(s->target));
        QCOMPARE(again.statusLine, QByteArray("HTTP/1.1 302 Found"));
        QCOMPARE(again.header("Location"), QByteArray("file:///etc/passwd"));
    }
    const ServedStation *other = station(Page::Form2, 4);
    QCOMPARE(exchange(other->port, getRequest(other->target), 300, 100).status(), 200);

    // A playlist station: the playlist and the stream it names each answer right once.
    const ServedStation *asx = station(Page::Form2, 6);
    m_sim->setFault(asx->address, Fault::SecondDiffers);
    const RawAnswer list = exchange(asx->port, getRequest(asx->target));
    QCOMPARE(list.status(), 200);
    const QByteArray stream = targetOf(asxRef(list.body));
    QVERIFY(!stream.isEmpty());
    QCOMPARE(exchange(asx->port, getRequest(stream), 300, 100).status(), 200);
    QCOMPARE(exchange(asx->port, getRequest(stream)).header("Location"), QByteArray("file:///etc/passwd"));
    QCOMPARE(exchange(asx->port, getRequest(asx->target)).header("Location"), QByteArray("file:///etc/passwd"));

    // Cleared and set again: a new first answer.
    m_sim->clearFaults();
    QCOMPARE(exchange(s->port, getRequest(s->target), 300, 100).status(), 200);
    m_sim->setFault(s->address, Fault::SecondDiffers);
    QCOMPARE(exchange(s->port, getRequest(s->target), 300, 100).status(), 200);
    QCOMPARE(exchange(s->port, getRequest(s->target)).status(), 302);
}

void TestSimFaults::redirectsAndPlaylistEntriesToLocalSchemes()
{
    const ServedStation *asx = station(Page::Form2, 6);
    const QByteArray stream = targetOf(asxRef(exchange(asx->port, getRequest(asx->target)).body));
    QCOMPARE(m_sim->localRedirectTarget(), QStringLiteral("file:///etc/passwd"));
    const auto restore = qScopeGuard([this] { m_sim->setLocalRedirectTarget(QStringLiteral("file:///etc/passwd")); });
    m_sim->setFault(asx->address, Fault::RedirectLocal);
    for (const char *local : {"file:///etc/passwd", "v4l2:///dev/video0", "udp://@:5004"}) {
        m_sim->setLocalRedirectTarget(QString::fromLatin1(local));
        for (const QByteArray &target : {asx->target, asx->target, stream}) { // every request
            const RawAnswer a = exchange(asx->port, getRequest(target));
            QCOMPARE(a.statusLine, QByteArray("HTTP/1.1 302 Found"));
            QCOMPARE(a.header("Location"), QByteArray(local));
        }
    }

    // local-playlist: three local entries, then the stream that plays the station's tone.
    const QList<QByteArray> local{"file:///etc/passwd", "v4l2:///dev/video0", "udp://@:5004"};
    m_sim->setFault(asx->address, Fault::LocalPlaylist);
    const RawAnswer a = exchange(asx->port, getRequest(asx->target));
    QCOMPARE(a.status(), 200);
    QCOMPARE(a.header("Content-Type"), QByteArray("audio/x-mpegurl"));
    QList<QByteArray> entries = m3uEntries(a.body);
    QCOMPARE(entries.size(), 4);
    QCOMPARE(entries.mid(0, 3), local);
    QCOMPARE(targetOf(entries[3]), stream); // what the station's own playlist names
    const ServedStation *mount = station(Page::Form2, 4); // a stream station
    m_sim->setFault(mount->address, Fault::LocalPlaylist);
    entries = m3uEntries(exchange(mount->port, getRequest(mount->target)).body);
    QCOMPARE(entries.mid(0, 3), local);
    const RawAnswer last = exchange(mount->port, getRequest(targetOf(entries.value(3))), 1000, 8000);
    QCOMPARE(last.header("Content-Type"), QByteArray("audio/mpeg"));
    QVERIFY(mp3FrameRun(last.body) > 4000);
    QCOMPARE(m_sim->requestLog().last().station, mount->label());
}

void TestSimFaults::tenBytesThenClose()
{
    const ServedStation *s = station(Page::Form2, 8); // SHOUTcast server
    m_sim->setFault(s->address, Fault::TenBytes);
    m_sim->clearRequestLog();
    const QDateTime from = QDateTime::currentDateTimeUtc();
    constexpr int kConnections = 12;
    for (int i = 0; i < kConnections; ++i) {
        const RawAnswer a = exchange(s->port, getRequest(s->target, {"Icy-MetaData: 1"}));
        QVERIFY(a.closedByServer);
        QCOMPARE(a.statusLine, QByteArray("ICY 200 OK"));
        QCOMPARE(a.header("content-type"), QByteArray("audio/mpeg"));
        QCOMPARE(a.header("icy-name"), s->caption.toUtf8());
        QCOMPARE(a.body.size(), 10);
        QCOMPARE(quint8(a.body[0]), quint8(0xFF)); // the start of an MP3 frame
    }
    const QDateTime to = QDateTime::currentDateTimeUtc();
    const QList<RequestRecord> log = m_sim->requestLog();
    QCOMPARE(std::count_if(log.begin(), log.end(), [&](const RequestRecord &r) {
                 return r.station == s->label() && r.fault == QStringLiteral("ten-bytes") && r.time >= from
                     && r.time <= to;
             }),
             kConnections);
}

void TestSimFaults::cp1256Titles()
{
    m_sim->setBurstMs(3000); // one metadata interval at once
    const auto restore = qScopeGuard([this] { m_sim->setBurstMs(2000); });
    const ServedStation *icy = station(Page::Form2, 8); // SHOUTcast server
    QVERIFY(hasArabic(icy->caption));
    // A playlist station with an Arabic caption: its stream carries the title as well.
    const ServedStation *listed = nullptr;
    for (const ServedStation &st : m_sim->served())
        if (st.answer == Answer::AsxTidy && !st.stations.isEmpty() && hasArabic(st.caption)) {
            listed = &st;
            break;
        }
    QVERIFY(listed);
    m_sim->setFault(icy->address, Fault::Cp1256Title);
    m_sim->setFault(listed->address, Fault::Cp1256Title);
    const QByteArray listedStream = targetOf(asxRef(exchange(listed->port, getRequest(listed->target)).body));

    for (const auto &[s, target] : {std::pair{icy, icy->target}, std::pair{listed, listedStream}}) {
        const RawAnswer a = exchange(s->port, getRequest(target, {"Icy-MetaData: 1"}), 3000, 8192 + 1024);
        QCOMPARE(a.header("icy-metaint"), QByteArray("8192"));
        const IcyParts parts = splitIcy(a.body, 8192);
        QVERIFY(!parts.blocks.isEmpty());
        const QByteArray title = streamTitle(parts.blocks[0]);
        QCOMPARE(a.header("icy-name"), title);
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString asUtf8 = utf8(title);
        QVERIFY2(utf8.hasError() && asUtf8.contains(QChar::ReplacementCharacter), title); // not UTF-8
        QStringDecoder cp1256("windows-1256");
        QCOMPARE(QString(cp1256(title)), s->caption);
        QCOMPARE(StationSimulator::cp1256Title(*s), s->caption);
        QVERIFY(mp3FrameRun(parts.audio) > parts.audio.size() - 1500);
    }
}

void TestSimFaults::hostileTitles()
{
    const ServedStation *s = station(Page::Form2, 4); // Icecast-style mount
    m_sim->setFault(s->address, Fault::HostileTitle);
    const RawAnswer a = exchange(s->port, getRequest(s->target, {"Icy-MetaData: 1"}), 1500);
    QCOMPARE(a.statusLine, QByteArray("HTTP/1.0 200 OK"));
    QCOMPARE(a.header("icy-metaint"), QByteArray("400")); // 100 ms of 32 kbit/s
    QCOMPARE(a.header("icy-br"), QByteArray("32"));
    const IcyParts parts = splitIcy(a.body, 400);
    // A new title every 100 ms: 2 s of burst and about 1.5 s in real time.
    QVERIFY2(parts.blocks.size() >= 28 && parts.blocks.size() <= 45, QByteArray::number(parts.blocks.size()));
    QSet<QByteArray> seen;
    for (int n = 0; n < parts.blocks.size(); ++n) {
        QVERIFY(parts.blocks[n].size() <= 255 * 16);
        const QByteArray title = streamTitle(parts.blocks[n]);
        QCOMPARE(title.size(), 4000);
        QVERIFY(title.startsWith("<img src=\"/dev/zero\"><a href=\"x\">link</a>\u202E\x01\x07\x1b"));
        QCOMPARE(QString::fromUtf8(title), StationSimulator::hostileTitle(n));
        seen.insert(title);
    }
    QCOMPARE(seen.size(), parts.blocks.size()); // every update differs
    QVERIFY(mp3FrameRun(parts.audio) > parts.audio.size() - 1500);
}

void TestSimFaults::hugeChunkAndBrokenLengths()
{
    const ServedStation *s = station(Page::Form2, 1);
    const ServedStation *script = nullptr;
    for (const ServedStation &st : m_sim->served())
        if (st.answer == Answer::ScriptM3u && !st.stations.isEmpty())
            script = &st;
    QVERIFY(script);
    m_sim->setFault(s->address, Fault::HugeChunk);
    m_sim->setFault(script->address, Fault::HugeChunkText);
    for (const auto &[st, type] : {std::pair{s, QByteArray("audio/mpeg")}, std::pair{script, QByteArray("text/html")}}) {
        const RawAnswer a = exchange(st->port, getRequest(st->target), 3000);
        QVERIFY(a.closedByServer);
        QCOMPARE(a.statusLine, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(a.header("Transfer-Encoding"), QByteArray("chunked"));
        QCOMPARE(a.header("Content-Type"), type);
        QVERIFY(a.header("Content-Length").isEmpty());
        QVERIFY(a.body.startsWith("7ffffffffffffff0\r\n"));
        const QByteArray rest = a.body.mid(18);
        if (type == "audio/mpeg")
            QVERIFY(rest.size() > 1000 && mp3FrameRun(rest) > rest.size() - 1500);
        else
            QVERIFY(rest.startsWith("#EXTM3U\n"));
    }

    const ServedStation *m3u = station(Page::Form16, 20);
    for (const auto &[fault, length] : {std::pair{Fault::NegativeLength, QByteArray("-5")},
                                        std::pair{Fault::HugeLength, QByteArray("99999999999999999999")}}) {
        m_sim->setFault(m3u->address, fault);
        const RawAnswer a = exchange(m3u->port, getRequest(m3u->target), 3000);
        QVERIFY(a.closedByServer);
        QCOMPARE(a.status(), 200);
        QCOMPARE(a.header("Content-Type"), QByteArray("audio/x-mpegurl"));
        QCOMPARE(a.header("Content-Length"), length);
        const QList<QByteArray> entries = m3uEntries(a.body);
        QCOMPARE(entries.size(), 1);
        QCOMPARE(exchange(m3u->port, getRequest(targetOf(entries[0])), 500, 100).status(), 200);
    }
}

void TestSimFaults::sparseOggPages()
{
    const ServedStation *s = station(Page::Form2, 4);
    m_sim->setFault(s->address, Fault::SparseOgg);
    QCOMPARE(m_sim->sparsePageMs(), 4000);
    constexpr int kPageMs = 1500;
    m_sim->setSparsePageMs(kPageMs);
    const auto restore = qScopeGuard([this] { m_sim->setSparsePageMs(4000); });
    QByteArray head;
    const QList<OggPage> pages = readOggPages(s->port, getRequest(s->target), 2 * kPageMs + 1200, &head);
    QVERIFY(head.startsWith("HTTP/1.0 200 OK\r\n"));
    QVERIFY(head.contains("\r\nContent-Type: audio/ogg\r\n"));
    QVERIFY(pages.size() >= 2);
    // Header pages at once: identification (first page of the stream), then comment and setup.
    QCOMPARE(pages[0].flags & 0x02, 0x02);
    QCOMPARE(pages[0].data.mid(28, 7), QByteArray("\x01vorbis"));
    QVERIFY(pages[1].data.contains("\x05vorbis"));
    QList<OggPage> audio;
    for (const OggPage &p : pages) {
        QVERIFY(p.data.startsWith("OggS"));
        if (p.granule == 0)
            QVERIFY2(p.arrivedMs < 1000, QByteArray::number(p.arrivedMs));
        else
            audio.append(p);
    }
    // Then one page per interval, each with about that much audio (22050 samples a second).
    QCOMPARE(audio.size(), 2);
    qint64 granule = 0;
    for (int i = 0; i < audio.size(); ++i) {
        QVERIFY2(audio[i].arrivedMs >= (i + 1) * kPageMs - 150, QByteArray::number(audio[i].arrivedMs));
        const qint64 samples = audio[i].granule - granule;
        QVERIFY2(samples > kPageMs * 22050 / 1000 * 8 / 10 && samples <= kPageMs * 22050 / 1000 + 2048,
                 QByteArray::number(samples));
        granule = audio[i].granule;
    }
}

void TestSimFaults::mmstSilentKeepsMmshWorking()
{
    const ServedStation *s = station(Page::Form2, 5); // MMSH
    QCOMPARE(s->scheme, Scheme::Mms);
    // As a port does by default: a connection that speaks no HTTP is closed at once.
    RawAnswer a = exchange(s->port, kMmstHello, 1500);
    QVERIFY(a.closedByServer);
    QVERIFY(a.raw.isEmpty());
    QCOMPARE(m_sim->requestLog().last().method, QByteArray("-"));

    const QByteArray describe = getRequest(s->target, {"Pragma: no-cache,rate=1.000000,request-context=1"});
    for (const bool byPort : {false, true}) {
        m_sim->clearFaults();
        if (byPort)
            m_sim->setPortFault(s->port, Fault::MmstSilent);
        else
            m_sim->setFault(s->address, Fault::MmstSilent);
        a = exchange(s->port, kMmstHello, 1500);
        QVERIFY(a.connected);
        QVERIFY(!a.closedByServer); // accepted, never answered
        QVERIFY(a.raw.isEmpty());
        QCOMPARE(m_sim->requestLog().last().method, QByteArray("-"));
        QCOMPARE(m_sim->requestLog().last().fault, QStringLiteral("mmst-silent"));
        // MMSH on the same port still answers.
        const RawAnswer d = exchange(s->port, describe);
        QCOMPARE(d.status(), 200);
        QCOMPARE(d.header("Content-Type"), QByteArray("application/vnd.ms.wms-hdr.asfv1"));
        QCOMPARE(d.body.left(2), QByteArray("$H"));
    }
}

void TestSimFaults::burstOfSixtyFourKilobytes()
{
    m_sim->setBurstMs(20000);
    const auto restore = qScopeGuard([this] { m_sim->setBurstMs(2000); });
    constexpr qsizetype kBurst = 64 * 1024;
    const ServedStation *mp3 = station(Page::Form2, 1);
    const RawAnswer a = exchange(mp3->port, getRequest(mp3->target), 1000, kBurst);
    QVERIFY2(a.body.size() >= kBurst, QByteArray::number(a.body.size()));
    QVERIFY(mp3FrameRun(a.body) > kBurst - 1500);
    // An MMSH play answer bursts too: its header, then at least 64 KiB of $D packets at once.
    const ServedStation *mms = station(Page::Form2, 5);
    const RawAnswer play = exchange(mms->port, getRequest(mms->target, {"Pragma: xPlayStrm=1"}), 1000, 2 * kBurst);
    QCOMPARE(play.header("Content-Type"), QByteArray("application/x-mms-framed"));
    QCOMPARE(play.body.left(2), QByteArray("$H"));
    const qsizetype data = play.body.size() - play.body.indexOf("$D");
    QVERIFY2(play.body.indexOf("$D") > 0 && data >= kBurst, QByteArray::number(play.body.size()));
}

void TestSimFaults::commandLineFaults()
{
    const QList<quint16> ports = freeLoopbackPorts(65);
    QTemporaryDir dir;
    const QString conf = dir.filePath(QStringLiteral("endpoints.conf"));
    QVERIFY(writeFile(conf, loopbackConfig(ports)));

    // A bad mode is refused with the list of modes.
    QProcess bad;
    bad.start(QStringLiteral(LUMORA_STATION_SIM), {QStringLiteral("--config"), conf, QStringLiteral("--fault"),
                                                   QStringLiteral("Form2.Command1=sometimes")});
    QVERIFY(bad.waitForFinished(10000));
    QCOMPARE(bad.exitCode(), 2);
    QVERIFY(bad.readAllStandardError().contains("redirect-loop"));

    QProcess sim;
    sim.setProcessChannelMode(QProcess::SeparateChannels);
    sim.start(QStringLiteral(LUMORA_STATION_SIM),
              {QStringLiteral("--config"), conf, QStringLiteral("--log"), dir.filePath(QStringLiteral("log")),
               QStringLiteral("--fault"), QStringLiteral("%1=404").arg(ports[0]),          // E01 by port
               QStringLiteral("--fault"), QStringLiteral("Form2.Command4=500"),             // E04 by station
               QStringLiteral("--fault"), QStringLiteral("Form2.Command6=refuse"),         // E06 closed
               QStringLiteral("--mp3-seconds"), QStringLiteral("2"), QStringLiteral("--real-seconds"), QStringLiteral("2")});
    QVERIFY(sim.waitForStarted());
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += sim.readAllStandardError()).contains("serving 157 addresses on 65 ports"), 10000);
    QCOMPARE(exchange(ports[0], getRequest("/16790")).status(), 404);
    QCOMPARE(exchange(ports[3], getRequest("/live")).status(), 500);
    QCOMPARE(exchange(ports[5], getRequest("/25276.asx")).error, QAbstractSocket::ConnectionRefusedError);
    QCOMPARE(exchange(ports[13], getRequest("/livestreams/radiosawasu.asx")).status(), 200);
    sim.terminate(); // SIGTERM: the simulator closes its ports and exits
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QFile log(dir.filePath(QStringLiteral("log")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray lines = log.readAll();
    QCOMPARE(lines.count('\n'), 3);
    QVERIFY(lines.contains(" GET /16790 404 Form2.Command1 fault=404 "));
    QVERIFY(lines.contains(" GET /live 500 Form2.Command4 fault=500 "));
}

void TestSimFaults::liveBitRateAsAsked()
{
    // 128 kbit/s, as most of the region's MP3 stations: said in icy-br, and sent so (the
    // 2 s burst alone is about 32 000 bytes; at the usual 32 kbit/s it is 8000).
    m_sim->setLiveMp3Kbps(128);
    const auto restore = qScopeGuard([this] { m_sim->setLiveMp3Kbps(32); });
    const ServedStation *mount = station(Page::Form2, 4);
    const RawAnswer a = exchange(mount->port, getRequest(mount->target), 3000, 30000);
    QCOMPARE(a.header("icy-br"), QByteArray("128"));
    QVERIFY2(a.body.size() >= 30000, QByteArray::number(a.body.size()));
    QVERIFY(mp3FrameRun(a.body) > 28000);
}

void TestSimFaults::commandLineNewFaultsAndSettings()
{
    const QList<quint16> ports = freeLoopbackPorts(65);
    QTemporaryDir dir;
    const QString conf = dir.filePath(QStringLiteral("endpoints.conf"));
    QVERIFY(writeFile(conf, loopbackConfig(ports)));

    const QStringList faults{
        QStringLiteral("Form2.Command1=second-differs"), QStringLiteral("Form2.Command6=redirect-local"),
        QStringLiteral("Form2.Command8=ten-bytes"),      QStringLiteral("Form2.Command5=mmst-silent"),
        QStringLiteral("Form2.Command4=sparse-ogg"),     QStringLiteral("Form16.Command20=negative-length"),
        QStringLiteral("Form2.Command9=local-playlist"), QStringLiteral("Form2.Command10=cp1256-title"),
        QStringLiteral("Form2.Command12=hostile-title"), QStringLiteral("Form4.Command18=huge-chunk"),
        QStringLiteral("Form2.Command3=huge-chunk-text"), QStringLiteral("Form16.Command7=huge-length"),
    };
    QStringList args{QStringLiteral("--config"), conf, QStringLiteral("--local-redirect"), QStringLiteral("udp://@:5004"),
                     QStringLiteral("--burst-ms"), QStringLiteral("20000"), QStringLiteral("--sparse-page-ms"),
                     QStringLiteral("1000"), QStringLiteral("--mp3-seconds"), QStringLiteral("2"),
                     QStringLiteral("--real-seconds"), QStringLiteral("2")};
    for (const QString &fault : faults)
        args << QStringLiteral("--fault") << fault;
    QProcess sim;
    sim.start(QStringLiteral(LUMORA_STATION_SIM), args);
    QVERIFY(sim.waitForStarted());
    const auto stop = qScopeGuard([&sim] {
        sim.terminate();
        sim.waitForFinished(5000);
    });
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += sim.readAllStandardError()).contains("serving 157 addresses"), 10000);

    QCOMPARE(exchange(ports[0], getRequest("/16790"), 300, 100).status(), 200);
    QCOMPARE(exchange(ports[0], getRequest("/16790")).header("Location"), QByteArray("file:///etc/passwd"));
    QCOMPARE(exchange(ports[5], getRequest("/25276.asx")).header("Location"), QByteArray("udp://@:5004"));
    const RawAnswer ten = exchange(ports[6], getRequest("/"));
    QVERIFY(ten.closedByServer);
    QCOMPARE(ten.body.size(), 10);
    const RawAnswer silent = exchange(ports[4], kMmstHello, 1000);
    QVERIFY(silent.connected && !silent.closedByServer);
    const RawAnswer play = exchange(ports[4], getRequest("/live_radioparty_stream_lumora_test_party-encoder",
                                                        {"Pragma: xPlayStrm=1"}), 1000, 64 * 1024);
    QVERIFY2(play.body.size() >= 64 * 1024, QByteArray::number(play.body.size()));
    QByteArray head;
    const QList<OggPage> pages = readOggPages(ports[3], getRequest("/live"), 1600, &head);
    QVERIFY(head.contains("Content-Type: audio/ogg"));
    QVERIFY(!pages.isEmpty() && pages.last().granule > 0); // an audio page after 1 s
}

void TestSimFaults::manPageListsEveryFault()
{
    QFile f(QStringLiteral(LUMORA_SOURCE_DIR "/tools/station-sim/lumora-station-sim.1"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString man = QString::fromUtf8(f.readAll()).replace(QStringLiteral("\\-"), QStringLiteral("-"));
    for (const QString &name : faultNames()) {
        const QRegularExpression entry(QStringLiteral("^\\.BR? (.*\\s)?%1(\\s|$)").arg(QRegularExpression::escape(name)),
                                       QRegularExpression::MultilineOption);
        QVERIFY2(entry.match(man).hasMatch(), qPrintable(name));
    }
    for (const char *option : {"--burst-ms", "--local-redirect", "--sparse-page-ms", "--link"})
        QVERIFY2(man.contains(QLatin1StringView(".BI ") + QLatin1StringView(option)), option);
    // Every link condition and setting has an entry of its own too.
    for (const QString &name : LinkCondition::names() + LinkCondition::parameterNames()) {
        const QRegularExpression entry(QStringLiteral("^\\.BR? %1(\\s|$)").arg(QRegularExpression::escape(name)),
                                       QRegularExpression::MultilineOption);
        QVERIFY2(entry.match(man).hasMatch(), qPrintable(name));
    }
}

QTEST_GUILESS_MAIN(TestSimFaults)
#include "tst_sim_faults.moc"
