// Each fault mode, per station and per port, from the API and from the command line.

#include "raw_http.h"
#include "sim_fixture.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

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
    QElapsedTimer clock;
    clock.start();
    bool sent = false;
    while (clock.elapsed() < waitMs) {
        QTest::qWait(5);
        if (!sent) {
            sent = ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) > 0;
            continue;
        }
        char buf[65536];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0) {
            r.data.append(buf, n);
        } else if (n == 0) {
            r.error = 0;
            break;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
            r.error = errno;
            break;
        }
    }
    ::close(fd);
    return r;
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
    void commandLineFaults();

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

void TestSimFaults::commandLineFaults()
{
    const QList<quint16> ports = freeLoopbackPorts(65);
    QTemporaryDir dir;
    const QString conf = dir.filePath(QStringLiteral("endpoints.conf"));
    QFile f(conf);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(loopbackConfig(ports));
    f.close();

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

QTEST_GUILESS_MAIN(TestSimFaults)
#include "tst_sim_faults.moc"
