// A live stream is kept through outages by its own source, into the same buffer: a server that
// pauses loses nothing, a connection that closes is continued by a new one without repeating
// audio, a network that is gone is tried again and again at growing pauses, and a station that
// answers "not found" is given up after three tries. Against a small radio server of the
// test's own on loopback, which sends every listener the same MP3 bytes, like a mount; pauses
// of seconds and minutes on a hand-driven clock.

#include "player/net/http_fetch.h"
#include "player/net/http_stream.h"
#include "player/net/reconnect_schedule.h"
#include "tests/support/hand_clock.h"
#include "tests/support/raw_http.h"
#include "tests/support/stream_bytes.h"
#include "tests/support/wait.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace lumora;
using namespace lumora::test;

namespace {


// A radio mount: one MP3 stream on one timeline, sent to every listener from where it joins,
// after a burst of what was queued (from a frame's start). It can pause (nothing new for
// anyone), drop every listener, lose audio, answer 404, or become a black hole (its port
// takes no more connections: a connect times out, as when the network is gone).
class RadioServer {
public:
    static constexpr int kBytesPerSecond = 16000;
    static constexpr int kBurstBytes = 64 * 1024;

    RadioServer() : m_stream(mp3Frames(0, 4000))
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        m_port = m_server.serverPort();
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection())
                accept(s);
        });
        QObject::connect(&m_tick, &QTimer::timeout, &m_server, [this] {
            if (!m_paused)
                m_produced = qMin(m_produced + kBytesPerSecond / 20, m_stream.size());
            for (Listener &l : m_listeners)
                send(l);
        });
        m_tick.start(50);
    }
    ~RadioServer()
    {
        for (int fd : m_holes)
            ::close(fd);
    }

    QString url() const { return QStringLiteral("http://127.0.0.1:%1/live").arg(m_port); }
    const QByteArray &stream() const { return m_stream; }
    qint64 produced() const { return m_produced; }
    int requests() const { return m_requests; }
    qint64 firstStart() const { return m_firstStart; }
    // Where on the timeline a listener's first byte was.
    qint64 startOf(int listener) const { return m_starts.value(listener, -1); }
    int openListeners() const
    {
        int n = 0;
        for (const Listener &l : m_listeners)
            n += l.socket && l.socket->state() == QAbstractSocket::ConnectedState;
        return n;
    }
    bool listenerOpen(int index) const
    {
        return index < m_listeners.size() && m_listeners[index].socket
            && m_listeners[index].socket->state() == QAbstractSocket::ConnectedState;
    }

    void setPaused(bool paused) { m_paused = paused; }
    // The path to one listener stalls: its connection stays open and gets nothing.
    void stallListener(int index) { m_stalled << index; }
    void setBurst(bool burst) { m_burst = burst; }
    void setNotFound(bool notFound) { m_notFound = notFound; }
    void lose(qint64 bytes) { m_produced += bytes; }
    void dropAll()
    {
        for (Listener &l : m_listeners)
            if (l.socket)
                l.socket->abort();
    }
    // The port stays taken, but nothing answers a new connection there.
    void becomeBlackHole()
    {
        m_server.close();
        dropAll();
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(m_port);
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0);
        QVERIFY(::listen(fd, 0) == 0); // one waiting connection fills the queue
        m_holes << fd;
        const int filler = ::socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(::connect(filler, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0);
        m_holes << filler;
    }

private:
    struct Listener {
        QPointer<QTcpSocket> socket;
        qint64 sent = 0; // the timeline's byte this listener has up to
    };

    void accept(QTcpSocket *s)
    {
        QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
            if (!s->readAll().contains("\r\n\r\n") || s->property("answered").toBool())
                return;
            s->setProperty("answered", true);
            ++m_requests;
            if (m_notFound) {
                s->write("HTTP/1.0 404 Not Found\r\nContent-Type: text/plain\r\n\r\nno such mount\n");
                s->disconnectFromHost();
                return;
            }
            s->write("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\nicy-name: Test\r\n\r\n");
            qint64 from = m_produced;
            if (m_burst) // a server sends its queue from a frame's start
                from = qMax<qint64>(0, m_produced - kBurstBytes) / kMp3FrameBytes * kMp3FrameBytes;
            if (m_firstStart < 0)
                m_firstStart = from;
            m_starts << from;
            m_listeners.append({s, from});
            send(m_listeners.last());
        });
    }
    void send(Listener &l)
    {
        if (m_stalled.contains(int(&l - m_listeners.data())))
            return;
        if (!l.socket || l.socket->state() != QAbstractSocket::ConnectedState || l.sent >= m_produced)
            return;
        l.socket->write(m_stream.mid(l.sent, m_produced - l.sent));
        l.sent = m_produced;
    }

    const QByteArray m_stream;
    QTcpServer m_server;
    quint16 m_port = 0;
    QTimer m_tick;
    QList<Listener> m_listeners;
    QList<int> m_holes;
    QList<int> m_stalled;
    qint64 m_produced = kBurstBytes;
    qint64 m_firstStart = -1;
    QList<qint64> m_starts;
    int m_requests = 0;
    bool m_paused = false;
    bool m_burst = true;
    bool m_notFound = false;
};

// A stream opened as the resolver opens one, with what its reader took so far.
struct OpenStream {
    std::unique_ptr<HttpStream> stream;
    QByteArray heard;
    std::unique_ptr<QSignalSpy> reconnecting, reconnected, ended;

    bool open(const QString &url)
    {
        HttpFetch fetch;
        bool done = false;
        QObject::connect(&fetch, &HttpFetch::finished, [&](const FetchResult &) { done = true; });
        fetch.start(url, FetchLimits{});
        if (!waitFor([&] { return done; }, 10000))
            return false;
        stream = fetch.takeStream();
        if (!stream)
            return false;
        reconnecting = std::make_unique<QSignalSpy>(stream.get(), &StreamSource::reconnecting);
        reconnected = std::make_unique<QSignalSpy>(stream.get(), &StreamSource::reconnected);
        ended = std::make_unique<QSignalSpy>(stream.get(), &StreamSource::ended);
        return stream->keepsLive();
    }
    // Reads what the buffer holds, as libVLC would, without ever waiting.
    QByteArray &read()
    {
        char piece[8192];
        while (stream->buffer()->buffered() > 0) {
            const qint64 n = stream->buffer()->read(piece, sizeof piece);
            if (n <= 0)
                break;
            heard.append(piece, n);
        }
        return heard;
    }
    bool hears(qint64 bytes, int deadlineMs) { return waitFor([&] { return read().size() >= bytes; }, deadlineMs, 5); }
    // The next reconnecting() that announces a pause: its pause; 0 if the stream ended instead.
    int nextPause(int deadlineMs)
    {
        const auto pauseAt = [&] {
            for (qsizetype i = seen; i < reconnecting->size(); ++i)
                if (reconnecting->at(i)[1].toInt() > 0)
                    return i;
            return qsizetype(-1);
        };
        if (!waitFor([&] { return pauseAt() >= 0 || !ended->isEmpty(); }, deadlineMs))
            return -1;
        const qsizetype at = pauseAt();
        if (at < 0)
            return 0;
        seen = at + 1;
        return reconnecting->at(at)[1].toInt();
    }
    qsizetype seen = 0; // reconnecting() signals looked at by nextPause
};

} // namespace

class TestStreamKeeping : public QObject {
    Q_OBJECT
private slots:
    void scheduleBacksOffAndLimits();
    void aPausedServerLosesNothing();
    void aClosedConnectionIsContinued_data();
    void aClosedConnectionIsContinued();
    void aStalledConnectionGivesWayOnlyWhenLongSilent();
    void aBlackHoleIsTriedOnAndOnAtGrowingPauses();
    void notFoundEndsAfterThreeTries();
};

void TestStreamKeeping::scheduleBacksOffAndLimits()
{
    HandClock clock;
    ReconnectSchedule schedule(clock);
    // The network is gone: pauses grow to 30 s and stay there, and the tries never end.
    clock.advance(60000);
    schedule.flowLost();
    QList<int> pauses;
    for (int i = 0; i < 8; ++i) {
        pauses << schedule.pauseBeforeNextTryMs(false);
        clock.advance(pauses.last());
        schedule.tryStarted(false);
        QCOMPARE(schedule.attempt(), i + 1);
        schedule.tryFailed(false);
    }
    QCOMPARE(pauses, (QList<int>{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
    QVERIFY(!schedule.givenUp());

    // A station that answers badly is given up on its third bad answer; audio in between
    // starts the count again.
    schedule.tryFailed(true);
    schedule.tryFailed(true);
    schedule.flowResumed();
    schedule.flowLost();
    schedule.tryFailed(true);
    schedule.tryFailed(true);
    QVERIFY(!schedule.givenUp());
    schedule.tryFailed(true);
    QVERIFY(schedule.givenUp());

    // A flow that breaks again soon keeps the long pause; 30 s of flow earn the short one back.
    schedule.flowResumed();
    clock.advance(5000);
    schedule.flowLost();
    QCOMPARE(schedule.pauseBeforeNextTryMs(false), 30000);
    schedule.flowResumed();
    clock.advance(30000);
    schedule.flowLost();
    QCOMPARE(schedule.pauseBeforeNextTryMs(false), 1000);

    // Tries without a pause (after stalls) are held to six a minute.
    ReconnectSchedule stalls(clock);
    QList<qint64> starts;
    for (int i = 0; i < 20; ++i) {
        stalls.flowLost();
        clock.advance(stalls.pauseBeforeNextTryMs(true));
        stalls.tryStarted(true);
        starts << clock.nowMs();
        stalls.flowResumed();
        clock.advance(3000); // flows a little, then stalls again
    }
    for (qint64 from : starts) {
        const auto inMinute = std::count_if(starts.begin(), starts.end(), [&](qint64 t) { return t >= from && t < from + 60000; });
        QVERIFY2(inMinute <= 6, qPrintable(QString::number(inMinute)));
    }
    QVERIFY(starts.last() - starts.first() >= 2 * 60000); // 20 tries took three minutes
}

void TestStreamKeeping::aPausedServerLosesNothing()
{
    RadioServer radio;
    OpenStream s;
    QVERIFY(s.open(radio.url()));
    QVERIFY(s.hears(RadioServer::kBurstBytes + RadioServer::kBytesPerSecond, 10000));

    radio.setPaused(true);
    const qint64 pausedAt = radio.produced();
    QTimer::singleShot(10000, [&] { radio.setPaused(false); });
    // Stalled past the threshold: a second connection is tried beside the silent one.
    QVERIFY(s.reconnecting->wait(8000));
    QCOMPARE(s.reconnecting->first()[1].toInt(), -1);
    QVERIFY(s.stream->buffer()->isHeld());
    QVERIFY(waitFor([&] { return radio.requests() == 2; }, 10000));

    // The server goes on after ten seconds: the old connection carries on, the one beside it
    // is closed, and every byte arrived once, in order.
    QVERIFY(s.hears(pausedAt - radio.firstStart() + 2 * RadioServer::kBytesPerSecond, 20000));
    QVERIFY(radio.listenerOpen(0));
    QVERIFY(waitFor([&] { return radio.openListeners() == 1; }, 5000));
    QVERIFY(s.read() == radio.stream().mid(radio.firstStart(), s.heard.size()));
    QCOMPARE(s.reconnected->size(), 1);
    QCOMPARE(s.ended->size(), 0);
    QCOMPARE(radio.requests(), 2);
    QVERIFY(!s.stream->buffer()->isHeld());
}

void TestStreamKeeping::aClosedConnectionIsContinued_data()
{
    QTest::addColumn<bool>("burst");
    QTest::addColumn<qint64>("lost");
    QTest::newRow("the new connection's burst repeats the end") << true << qint64(0);
    QTest::newRow("audio lost in the outage") << false << qint64(20000 + 123);
}

void TestStreamKeeping::aClosedConnectionIsContinued()
{
    QFETCH(bool, burst);
    QFETCH(qint64, lost);
    RadioServer radio;
    OpenStream s;
    QVERIFY(s.open(radio.url()));
    QVERIFY(s.hears(RadioServer::kBurstBytes + RadioServer::kBytesPerSecond, 10000));
    // Everything sent has arrived; then the server drops its listeners.
    radio.setPaused(true);
    const qint64 brokeAt = radio.produced();
    QVERIFY(s.hears(brokeAt - radio.firstStart(), 5000));
    radio.dropAll();
    radio.setBurst(burst);
    radio.lose(lost);
    radio.setPaused(false);

    QVERIFY(s.reconnected->wait(10000));
    QVERIFY(s.hears(brokeAt + lost - radio.firstStart() + RadioServer::kBytesPerSecond, 10000));
    QCOMPARE(s.ended->size(), 0);
    QCOMPARE(radio.requests(), 2);
    // Told as it happened: a try after a pause of 1 s, then the try itself.
    QVERIFY(s.reconnecting->size() == 2);
    QCOMPARE(s.reconnecting->at(0).mid(0, 3), (QList<QVariant>{1, 1000, false}));
    QCOMPARE(s.reconnecting->at(0)[3].value<OpenFailure>(), OpenFailure::None);
    QCOMPARE(s.reconnecting->at(1).mid(0, 2), (QList<QVariant>{1, -1}));

    const QByteArray &stream = radio.stream();
    const qint64 before = brokeAt - radio.firstStart();
    QVERIFY(s.heard.left(before) == stream.mid(radio.firstStart(), before));
    // After the break: right where it stopped, or at the first whole frame after the gap.
    const qint64 joined = radio.startOf(1);
    QVERIFY(lost == 0 ? joined < brokeAt : joined >= brokeAt + lost);
    const qint64 goesOnAt = lost == 0 ? brokeAt : (joined + kMp3FrameBytes - 1) / kMp3FrameBytes * kMp3FrameBytes;
    const QByteArray after = s.heard.mid(before);
    QVERIFY2(after == stream.mid(goesOnAt, after.size()),
             qPrintable(QStringLiteral("went on at %1, not %2").arg(stream.indexOf(after.left(4096))).arg(goesOnAt)));
    // Whole frames, none torn: the stream from its start, or the new connection's part when
    // the old one ended inside a frame that is lost.
    const QByteArray frames = lost == 0 ? s.heard : after;
    QVERIFY(mp3FrameRun(frames) > frames.size() - kMp3FrameBytes);
}

void TestStreamKeeping::aStalledConnectionGivesWayOnlyWhenLongSilent()
{
    RadioServer radio;
    OpenStream s;
    QVERIFY(s.open(radio.url()));
    QVERIFY(s.hears(RadioServer::kBurstBytes + RadioServer::kBytesPerSecond, 10000));
    // The path to the first connection stalls; new listeners join with no burst, so what they
    // bring does not repeat what was heard.
    radio.setBurst(false);
    radio.stallListener(0);
    QVERIFY(s.reconnecting->wait(10000)); // 3 s without a byte
    const qint64 stalledAt = s.read().size();
    QElapsedTimer clock;
    clock.start();
    QVERIFY(s.reconnected->wait(30000));
    const qint64 tookMs = clock.elapsed();
    // The new connections that came while the old one might still go on were closed; one
    // took over only once it had been silent for 10 s (7 s after the stall was seen), and
    // the old one was closed then.
    QVERIFY2(tookMs >= 6500, qPrintable(QString::number(tookMs)));
    QVERIFY(radio.requests() >= 3);
    QVERIFY(waitFor([&] { return !radio.listenerOpen(0) && radio.openListeners() == 1; }, 5000));
    QCOMPARE(s.ended->size(), 0);
    QVERIFY(s.hears(stalledAt + RadioServer::kBytesPerSecond, 10000));
    const int winner = radio.requests() - 1;
    const qint64 joined = (radio.startOf(winner) + kMp3FrameBytes - 1) / kMp3FrameBytes * kMp3FrameBytes;
    const QByteArray after = s.heard.mid(stalledAt);
    QVERIFY(s.heard.left(stalledAt) == radio.stream().mid(radio.firstStart(), stalledAt));
    QVERIFY(after == radio.stream().mid(joined, after.size()));
}

void TestStreamKeeping::aBlackHoleIsTriedOnAndOnAtGrowingPauses()
{
    RadioServer radio;
    OpenStream s;
    QVERIFY(s.open(radio.url()));
    auto clock = std::make_shared<HandClock>();
    HttpStream::Keeping keeping;
    keeping.answerTimeoutMs = 300; // a connect that is not answered in this time has timed out
    keeping.watchNetwork = false;
    s.stream->setKeeping(clock, keeping);
    QVERIFY(s.hears(RadioServer::kBurstBytes, 10000));

    radio.becomeBlackHole();
    QList<int> pauses;
    QList<qint64> starts;
    for (int i = 0; i < 10; ++i) {
        const int pause = s.nextPause(10000);
        QVERIFY2(pause > 0, qPrintable(QStringLiteral("no pause after %1 tries").arg(i)));
        pauses << pause;
        clock->advance(pause);
        starts << clock->nowMs();
        QCOMPARE(s.reconnecting->last().mid(0, 2), (QList<QVariant>{i + 1, -1}));
    }
    QVERIFY(s.nextPause(10000) > 0); // and on
    QCOMPARE(pauses, (QList<int>{1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000, 30000, 30000}));
    // The network is down, from the first connect that timed out on.
    QVERIFY(!s.reconnecting->first()[2].toBool());
    for (qsizetype i = 2; i < s.reconnecting->size(); ++i)
        QVERIFY2(s.reconnecting->at(i)[2].toBool(), qPrintable(QString::number(i)));
    for (qint64 from : starts)
        QVERIFY(std::count_if(starts.begin(), starts.end(), [&](qint64 t) { return t >= from && t < from + 60000; }) <= 6);
    QCOMPARE(s.ended->size(), 0);
    QVERIFY(s.stream->buffer()->isHeld());
    s.stream->close();
    char byte;
    QCOMPARE(s.stream->buffer()->read(&byte, 1), qint64(-1)); // close still ends the reader at once
}

void TestStreamKeeping::notFoundEndsAfterThreeTries()
{
    RadioServer radio;
    OpenStream s;
    QVERIFY(s.open(radio.url()));
    auto clock = std::make_shared<HandClock>();
    s.stream->setKeeping(clock, HttpStream::Keeping{});
    QVERIFY(s.hears(RadioServer::kBurstBytes, 10000));

    radio.setNotFound(true);
    radio.dropAll();
    QList<int> pauses;
    for (int pause = s.nextPause(10000); pause > 0 && pauses.size() < 5; pause = s.nextPause(10000)) {
        pauses << pause;
        clock->advance(pause);
    }
    QCOMPARE(s.ended->size(), 1);
    QCOMPARE(pauses, (QList<int>{1000, 2000, 4000}));
    QCOMPARE(radio.requests(), 1 + 3);
    QCOMPARE(s.ended->first()[0].value<OpenFailure>(), OpenFailure::NotFound);
    QCOMPARE(s.reconnecting->last()[3].value<OpenFailure>(), OpenFailure::NotFound);
    // The reader gets what was buffered, then the end of the stream.
    s.read();
    char byte;
    QCOMPARE(s.stream->buffer()->read(&byte, 1), qint64(0));
    // And nothing more, however long.
    clock->advance(10 * 60000);
    QVERIFY(holdsFor([&] { return radio.requests() == 4; }, 500));
}

QTEST_MAIN(TestStreamKeeping)
#include "tst_stream_keeping.moc"
