// The rough links of the station simulator, as a client sees them: a live MP3 stream paced in
// real time from its first byte (4000 bytes a second, no burst) read through the link beside
// the same stream read directly, and what arrives when.

#include "catalogue/station.h"
#include "tests/support/raw_http.h"
#include "tests/support/simulator_thread.h"
#include "tests/support/wait.h"
#include "tools/station-sim/rough_link.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace lumora;
using namespace lumora::sim;
using namespace lumora::test;

namespace {

constexpr double kStreamBytesPerSecond = 4000; // the simulator's MP3: 32 kbit/s

// A client reading one stream, the arrival time of every read kept: how many bytes had come
// by a given time, and the longest time nothing came.
class Reader {
public:
    Reader(quint16 port, const QByteArray &target)
    {
        m_clock.start();
        QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket, [this] {
            m_total += m_socket.readAll().size();
            m_arrivals << std::pair(m_clock.elapsed(), m_total);
        });
        QObject::connect(&m_socket, &QTcpSocket::connected, &m_socket,
                         [this, target] { m_socket.write(getRequest(target)); });
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    }
    qint64 elapsed() const { return m_clock.elapsed(); }
    qint64 total() const { return m_total; }
    bool connected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    qint64 firstByteMs() const { return m_arrivals.isEmpty() ? -1 : m_arrivals.first().first; }
    qint64 bytesBy(qint64 ms) const
    {
        qint64 n = 0;
        for (const auto &[at, total] : m_arrivals)
            if (at <= ms)
                n = total;
        return n;
    }
    // Bytes per second between two times.
    double rate(qint64 fromMs, qint64 toMs) const { return double(bytesBy(toMs) - bytesBy(fromMs)) * 1000.0 / double(toMs - fromMs); }
    // The longest stretch without a byte that begins within [fromMs, toMs].
    qint64 longestGap(qint64 fromMs, qint64 toMs) const
    {
        qint64 longest = 0, last = -1;
        for (const auto &[at, total] : m_arrivals) {
            if (last >= fromMs && last <= toMs)
                longest = std::max(longest, at - last);
            last = at;
        }
        if (last >= fromMs && last <= toMs) // nothing since
            longest = std::max(longest, m_clock.elapsed() - last);
        return longest;
    }

private:
    QTcpSocket m_socket;
    QElapsedTimer m_clock;
    QList<std::pair<qint64, qint64>> m_arrivals;
    qint64 m_total = 0;
};

} // namespace

class TestRoughLink : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void conditionsParse();
    void cleanPassesAtOnce();
    void jitterHoldsBackAtRandom();
    void stallsStopTheServersDirection();
    void thinCapsTheRate_data();
    void thinCapsTheRate();
    void outageBlackHolesOldAndNewConnections();
    void commandLineServesThroughTheLink();

private:
    // The stream through a link of this condition, and the stream direct, read from now on.
    struct Run {
        std::unique_ptr<RoughLink> link;
        std::unique_ptr<Reader> linked;
        std::unique_ptr<Reader> direct;
    };
    Run through(const QString &condition);
    void waitUntil(const Reader &reader, qint64 ms) { QVERIFY(waitFor([&] { return reader.elapsed() >= ms; }, int(ms) + 5000)); }

    SimulatorThread m_sim;
    ServedStation m_stream;
};

void TestRoughLink::initTestCase()
{
    QString error;
    QVERIFY2(m_sim.begin(SimulatorThread::burstMs(0), &error), qPrintable(error));
    m_stream = m_sim.served(*findStation(Page::Form2, 1)); // "/16790", a SHOUTcast server
    QVERIFY(m_stream.port > 0);
}

TestRoughLink::Run TestRoughLink::through(const QString &condition)
{
    QString error;
    const auto c = LinkCondition::parse(condition, &error);
    if (!c)
        qFatal("%s", qPrintable(error));
    Run run;
    run.link = std::make_unique<RoughLink>(m_stream.port, *c);
    const quint16 port = run.link->begin(&error);
    if (!port)
        qFatal("%s", qPrintable(error));
    run.linked = std::make_unique<Reader>(port, m_stream.target);
    run.direct = std::make_unique<Reader>(m_stream.port, m_stream.target);
    return run;
}

void TestRoughLink::conditionsParse()
{
    for (const QString &name : LinkCondition::names())
        QVERIFY2(LinkCondition::parse(name), qPrintable(name));
    const auto stalls = LinkCondition::parse(QStringLiteral("stalls:stall-every-ms=4000,stall-ms=1000"));
    QVERIFY(stalls);
    QCOMPARE(stalls->releaseMs(LinkCondition::Direction::Down, 4500), 5000);
    QCOMPARE(stalls->releaseMs(LinkCondition::Direction::Up, 4500), 4500); // the client's way flows
    // Seeded: the same holds every time for a seed, others for another.
    const auto a = LinkCondition::parse(QStringLiteral("jitter:seed=3")), b = LinkCondition::parse(QStringLiteral("jitter:seed=3")),
               c = LinkCondition::parse(QStringLiteral("jitter:seed=4"));
    QList<int> holdsA, holdsB, holdsC;
    for (int n = 1; n <= 8; ++n) {
        holdsA << a->jitterHoldMs(n);
        holdsB << b->jitterHoldMs(n);
        holdsC << c->jitterHoldMs(n);
        QVERIFY(holdsA.last() >= 0 && holdsA.last() <= 800);
    }
    QCOMPARE(holdsA, holdsB);
    QVERIFY(holdsA != holdsC);
    QString error;
    for (const char *bad : {"wobbly", "thin:kbps=fast", "thin:speed=3", "stalls:stall-ms=30000", "outage:outage-ms=-1"}) {
        QVERIFY2(!LinkCondition::parse(QString::fromLatin1(bad), &error), bad);
        QVERIFY(!error.isEmpty());
    }
}

void TestRoughLink::cleanPassesAtOnce()
{
    Run run = through(QStringLiteral("clean"));
    waitUntil(*run.direct, 2000);
    QVERIFY2(run.linked->firstByteMs() >= 0 && run.linked->firstByteMs() < 300, QByteArray::number(run.linked->firstByteMs()));
    // The whole stream and no more than it: no burst (it is paced from its first byte) and
    // nothing held back.
    QVERIFY2(std::abs(run.linked->total() - run.direct->total()) < 1500,
             qPrintable(QStringLiteral("%1 linked, %2 direct").arg(run.linked->total()).arg(run.direct->total())));
    QVERIFY(run.linked->total() < 2.6 * kStreamBytesPerSecond);
}

void TestRoughLink::jitterHoldsBackAtRandom()
{
    const QString condition = QStringLiteral("jitter:jitter-every-ms=1000,jitter-max-ms=800,seed=11");
    Run run = through(condition);
    const LinkCondition c = run.link->condition();
    waitUntil(*run.linked, 5500);
    int seen = 0;
    for (int n = 1; n <= 4; ++n) {
        const int hold = c.jitterHoldMs(n);
        if (hold < 300)
            continue; // within the stream's own 100 ms pace
        ++seen;
        const qint64 gap = run.linked->longestGap(n * 1000 - 200, n * 1000 + 100);
        QVERIFY2(gap >= hold - 150, qPrintable(QStringLiteral("hold %1 at %2 s: gap %3 ms").arg(hold).arg(n).arg(gap)));
    }
    QVERIFY2(seen > 0, "the seed gives no hold long enough to see; pick another");
    // What was held came afterwards.
    QVERIFY(run.linked->total() > run.direct->total() - 0.9 * kStreamBytesPerSecond);
}

void TestRoughLink::stallsStopTheServersDirection()
{
    Run run = through(QStringLiteral("stalls:stall-every-ms=3000"));
    waitUntil(*run.linked, 6500); // the stall: 3 s to 5.5 s
    const qint64 gap = run.linked->longestGap(2700, 3300);
    QVERIFY2(gap >= 2200, QByteArray::number(gap));
    QVERIFY(run.linked->connected());
    // Then the backlog flows: by a little after the stall, all that the server sent.
    const qint64 behind = run.direct->bytesBy(5900) - run.linked->bytesBy(5900);
    QVERIFY2(behind < 1000, QByteArray::number(behind));
}

void TestRoughLink::thinCapsTheRate_data()
{
    QTest::addColumn<QString>("condition");
    QTest::addColumn<double>("capBefore"); // bytes per second
    QTest::addColumn<double>("capAfter");  // from 3 s on
    // Caps below the stream's 4000 bytes a second: 16 kbit/s x 1.25, 16 kbit/s x 0.9 then x 2.
    QTest::newRow("thin") << QStringLiteral("thin:kbps=16") << 2500.0 << 2500.0;
    QTest::newRow("thin-recover") << QStringLiteral("thin-recover:kbps=16,cap-change-ms=3000") << 1800.0 << 4000.0;
}

void TestRoughLink::thinCapsTheRate()
{
    QFETCH(QString, condition);
    QFETCH(double, capBefore);
    QFETCH(double, capAfter);
    Run run = through(condition);
    waitUntil(*run.linked, 5600);
    const double before = run.linked->rate(1000, 2900), after = run.linked->rate(3300, 5500);
    const QString figures = QStringLiteral("%1 B/s before, %2 B/s after").arg(before).arg(after);
    QVERIFY2(before <= 1.15 * capBefore && before >= 0.7 * capBefore, qPrintable(figures));
    // Once the cap is over the stream's rate, the backlog flows too.
    QVERIFY2(after <= 1.15 * std::max(capAfter, kStreamBytesPerSecond) && after >= 0.7 * capAfter, qPrintable(figures));
    if (run.link->condition().delayMs > 0) {
        // Handshake, request and answer across the delay: four times it.
        const qint64 first = run.linked->firstByteMs();
        QVERIFY2(first >= 4 * run.link->condition().delayMs - 50, QByteArray::number(first));
    }
}

void TestRoughLink::outageBlackHolesOldAndNewConnections()
{
    Run run = through(QStringLiteral("outage:outage-at-ms=1500,outage-ms=3000")); // 1.5 s to 4.5 s
    waitUntil(*run.linked, 2000);
    Reader latecomer(run.link->routes().first().listenPort, m_stream.target);
    QVERIFY(waitFor([&] { return latecomer.connected(); }, 2000)); // accepted...
    // ...and answered nothing until the outage ends.
    QVERIFY(holdsFor([&] { return latecomer.total() == 0; }, int(4300 - run.linked->elapsed())));
    QVERIFY2(waitFor([&] { return latecomer.total() > 1000; }, 3000), QByteArray::number(latecomer.total()));
    const qint64 gap = run.linked->longestGap(1200, 1800);
    QVERIFY2(gap >= 2500, QByteArray::number(gap));
    QVERIFY(run.linked->connected());
    waitUntil(*run.linked, 5200);
    const qint64 behind = run.direct->bytesBy(5100) - run.linked->bytesBy(5100);
    QVERIFY2(behind < 1000, QByteArray::number(behind)); // the backlog came through
}

void TestRoughLink::commandLineServesThroughTheLink()
{
    const QList<quint16> ports = freeLoopbackPorts(65);
    QTemporaryDir dir;
    QFile conf(dir.filePath(QStringLiteral("endpoints.conf")));
    QVERIFY(conf.open(QIODevice::WriteOnly) && conf.write(loopbackConfig(ports)) > 0);
    conf.close();
    QProcess sim;
    sim.start(QStringLiteral(LUMORA_STATION_SIM), {QStringLiteral("--config"), conf.fileName(), QStringLiteral("--burst-ms"),
                                                    QStringLiteral("0"), QStringLiteral("--mp3-seconds"), QStringLiteral("2"),
                                                    QStringLiteral("--real-seconds"), QStringLiteral("2"),
                                                    QStringLiteral("--link"), QStringLiteral("clean:delay-ms=300")});
    QVERIFY(sim.waitForStarted());
    const auto stop = qScopeGuard([&sim] {
        sim.terminate();
        sim.waitForFinished(5000);
    });
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += sim.readAllStandardError()).contains("serving 157 addresses on 65 ports ("), 10000);
    QVERIFY(err.contains("behind the link clean:delay-ms=300"));
    // The endpoint's own port answers, 4 x 300 ms later.
    Reader reader(ports[0], "/16790");
    QVERIFY(waitFor([&] { return reader.total() > 0; }, 5000));
    QVERIFY2(reader.firstByteMs() >= 1150, QByteArray::number(reader.firstByteMs()));
    QCOMPARE(exchange(ports[1], getRequest("/nothing-here")).status(), 404);

    QProcess bad;
    bad.start(QStringLiteral(LUMORA_STATION_SIM), {QStringLiteral("--config"), conf.fileName(), QStringLiteral("--link"),
                                                    QStringLiteral("stalls:stall-every=5")});
    QVERIFY(bad.waitForFinished(10000));
    QCOMPARE(bad.exitCode(), 2);
    QVERIFY(bad.readAllStandardError().contains("unknown link setting \"stall-every\""));
}

QTEST_GUILESS_MAIN(TestRoughLink)
#include "tst_rough_link.moc"
