// `lumora-catalogue probe` as its user runs it: against the station simulator as a separate
// program on ports free at run time, healthy, with stations faulted and with stations that
// have no address; the table, the JSON, the summary, the exit status and the options.

#include "catalogue/address.h"
#include "catalogue/station.h"
#include "player/net/wire_url.h"
#include "tools/station-sim/station_simulator.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace lumora;
using namespace lumora::sim;

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QString err;
};

Run runProbe(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(LUMORA_CATALOGUE_TOOL), QStringList{QStringLiteral("probe")} + args);
    if (!p.waitForFinished(120000))
        qFatal("lumora-catalogue probe did not finish");
    return {p.exitCode(), p.readAllStandardOutput(), QString::fromUtf8(p.readAllStandardError())};
}

// lumora-station-sim serving a configuration of its own, on ports free right now.
class SimProcess {
public:
    explicit SimProcess(const QTemporaryDir &dir, const QStringList &faults = {})
        : m_config(dir.filePath(QStringLiteral("endpoints.conf"))),
          m_requests(dir.filePath(QStringLiteral("requests.log"))), m_faults(faults)
    {
    }
    ~SimProcess() { end(); }

    // Starts it and waits for its "serving ..." line. Ports found free can be taken by another
    // program before the simulator binds them: then it tries other ports.
    bool start()
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            m_ports = freeLoopbackPorts(65);
            m_table = loopbackTable(m_ports);
            QFile f(m_config);
            if (!f.open(QIODevice::WriteOnly) || f.write(loopbackConfig(m_ports)) < 0)
                qFatal("cannot write the configuration");
            f.close();
            // Short files: the simulator encodes them at start, and a request for one waits.
            QStringList args{"--config", m_config, "--mp3-seconds", "5", "--real-seconds", "5", "--log", m_requests};
            for (const QString &fault : m_faults)
                args << QStringLiteral("--fault") << fault;
            m_err.clear();
            m_process.start(QStringLiteral(LUMORA_STATION_SIM), args);
            QElapsedTimer clock;
            clock.start();
            while (!m_err.contains("serving") && clock.elapsed() < 30000
                   && m_process.state() != QProcess::NotRunning) {
                m_process.waitForReadyRead(200);
                m_err += m_process.readAllStandardError();
            }
            if (m_err.contains("serving"))
                return true;
            end();
            if (!m_err.contains("in use"))
                break;
        }
        qWarning("simulator: %s", m_err.constData());
        return false;
    }

    const QString &config() const { return m_config; }
    const EndpointTable &table() const { return m_table; }
    // One line per request the simulator answered so far.
    QString requests() const
    {
        QFile f(m_requests);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

private:
    void end()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }

    QString m_config;
    QString m_requests;
    QStringList m_faults;
    QList<quint16> m_ports;
    EndpointTable m_table;
    QProcess m_process;
    QByteArray m_err;
};

QString label(const Station &s)
{
    return pageName(s.page) + u'.' + s.buttonName();
}

QHash<QString, QJsonObject> byLabel(const QJsonArray &entries)
{
    QHash<QString, QJsonObject> out;
    for (const QJsonValue &v : entries) {
        const QJsonObject o = v.toObject();
        out.insert(o[u"page"].toString() + u'.' + o[u"button"].toString(), o);
    }
    return out;
}

QJsonArray parseJson(const Run &run)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(run.out, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        qWarning("not a JSON array: %s", qPrintable(error.errorString()));
    return doc.array();
}

const Station &station(Page page, int number)
{
    return *findStation(page, number);
}

} // namespace

class TestProbe : public QObject {
    Q_OBJECT

private slots:
    void everyStationWorksAgainstTheSimulator();
    void faultedStationsFailAndSayWhy();
    void stationsWithoutAddressAreReported();
    void hlsIsCheckedOnTheVersionWithinTheLimit();
    void badOptionsAreRefused_data();
    void badOptionsAreRefused();
};

void TestProbe::everyStationWorksAgainstTheSimulator()
{
    QTemporaryDir dir;
    SimProcess sim(dir);
    QVERIFY(sim.start());
    // What the simulator serves at each address (not started: only its plan is read).
    const StationSimulator plan(sim.table());

    const Run json = runProbe({"--config", sim.config(), "--json"});
    QCOMPARE(json.exitCode, 0);
    QVERIFY2(json.err.contains("158 stations: 158 working, 0 failing, 0 without address"),
             qPrintable(json.err));
    const QJsonArray entries = parseJson(json);
    QCOMPARE(entries.size(), 158);

    // In catalogue order, each with what the player would hand to libVLC.
    int icy = 0, mms = 0, followed = 0;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const Station &s = allStations()[i];
        const QJsonObject e = entries[i].toObject();
        const QString where = label(s);
        QCOMPARE(e[u"page"].toString(), pageName(s.page));
        QCOMPARE(e[u"button"].toString(), s.buttonName());
        QCOMPARE(e[u"caption"].toString(), s.caption());
        QCOMPARE(e[u"address"].toString(), addressOf(s, sim.table()).text);
        QVERIFY2(e[u"result"].toString() == u"working", qPrintable(where + e[u"reason"].toString()));
        QVERIFY2(e[u"reason"].isNull(), qPrintable(where));
        QVERIFY(e[u"milliseconds"].toInteger() >= 0);

        const ServedStation *served = plan.servedFor(s);
        QVERIFY(served);
        const QString stream = e[u"stream"].toString();
        const QString type = e[u"contentType"].toString();
        const QString wire = toWireUrl(e[u"address"].toString());
        switch (served->answer) {
        case Answer::IcyServer:
        case Answer::IcecastMount:
            // A stream server at the address itself, naming its station.
            QCOMPARE(stream, wire);
            QCOMPARE(type, QString("audio/mpeg"));
            QCOMPARE(e[u"icyName"].toString(), served->caption);
            ++icy;
            break;
        case Answer::Mmsh:
        case Answer::MmshPcm:
            // Asked as Windows Media over HTTP, on the station's own address.
            QCOMPARE(stream, "mmsh" + wire.mid(3));
            QCOMPARE(type, QString("application/x-mms-framed"));
            QVERIFY(e[u"icyName"].isNull());
            ++mms;
            break;
        case Answer::Mp3File:
            QCOMPARE(stream, wire);
            QCOMPARE(type, QString("audio/mpeg"));
            break;
        case Answer::RealMedia:
            QCOMPARE(stream, wire);
            QCOMPARE(type, QString("audio/x-pn-realaudio"));
            break;
        default:
            if (!served->embeddedAddress.isEmpty()) {
                // The script that hands out the mms address carried in its query.
                QCOMPARE(stream, "mmsh" + toWireUrl(served->embeddedAddress).mid(3));
                QCOMPARE(type, QString("application/x-mms-framed"));
                ++followed;
                break;
            }
            // A playlist, page or script: followed to the stream it names on the simulator.
            QVERIFY2(stream != wire, qPrintable(where));
            QVERIFY2(stream.startsWith(u"http://127.0.0.1:") || stream.startsWith(u"mms"),
                     qPrintable(where + stream));
            QVERIFY2(stream.contains(u"/sim-stream/") || stream.contains(u"/sim-mms/"),
                     qPrintable(where + stream));
            QVERIFY2(!type.isEmpty(), qPrintable(where));
            ++followed;
            break;
        }
    }
    QVERIFY(icy >= 12);
    QVERIFY(mms >= 3);
    QVERIFY(followed >= 100);

    // The table: a header, one line of eight tab-separated fields per station, the summary.
    const Run table = runProbe({"--config", sim.config(), "--jobs", "16"});
    QCOMPARE(table.exitCode, 0);
    const QStringList lines = QString::fromUtf8(table.out).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1 + 158 + 1);
    QCOMPARE(lines.first(), QString("page\tbutton\tcaption\tresult\tstream\ttype\ticy-name\treason"));
    QCOMPARE(lines.last(), QString("158 stations: 158 working, 0 failing, 0 without address"));
    const Station &goal = station(Page::Form2, 1);
    const QStringList first = lines[1].split(u'\t');
    QCOMPARE(first.size(), 8);
    QCOMPARE(first.mid(0, 4), (QStringList{"Form2", "Command1", goal.caption(), "working"}));
    QCOMPARE(first[4], toWireUrl(addressOf(goal, sim.table()).text));
    const QHash<QString, QJsonObject> fromJson = byLabel(entries);
    for (qsizetype i = 1; i <= 158; ++i) {
        const QStringList f = lines[i].split(u'\t');
        QCOMPARE(f.size(), 8);
        const QJsonObject e = fromJson.value(f[0] + u'.' + f[1]);
        QCOMPARE(f[3], QString("working"));
        QCOMPARE(f[4], e[u"stream"].toString());
        QCOMPARE(f[6], e[u"icyName"].toString());
    }
}

void TestProbe::faultedStationsFailAndSayWhy()
{
    // One station per kind of failure, and two faults a working server survives.
    struct Case {
        Page page;
        int number;
        const char *fault;
        const char *reason; // part of the reason; nullptr: still works
    };
    const Case cases[] = {
        {Page::Form2, 1, "refuse", "Connection refused"},
        {Page::Form2, 2, "404", "404 Not Found"},
        {Page::Form2, 3, "no-answer", "within 4000 ms"},
        {Page::Form2, 4, "stall", "within 4000 ms"},
        {Page::Form2, 6, "redirect-loop", "loop"},
        {Page::Form2, 10, "self-playlist", "loop"},
        {Page::Form2, 11, "huge-playlist", "larger than"},
        {Page::Form2, 5, "refuse", "MMSH: Connection refused"},
        {Page::Form2, 16, "500", "MMSH: HTTP/1.1 500"},
        {Page::Form2, 12, "redirect-chain", nullptr},
        {Page::Form2, 8, "reset", nullptr},
        {Page::Form2, 7, "hls", nullptr}, // a master playlist: its variant's segments are fetched
    };
    QStringList faults;
    for (const Case &c : cases)
        faults << label(station(c.page, c.number)) + u'=' + QLatin1StringView(c.fault);

    QTemporaryDir dir;
    SimProcess sim(dir, faults);
    QVERIFY(sim.start());
    const Run run = runProbe({"--config", sim.config(), "--json", "--timeout", "4", "--jobs", "16"});
    QCOMPARE(run.exitCode, 1);
    const QHash<QString, QJsonObject> entries = byLabel(parseJson(run));
    QCOMPARE(entries.size(), 158);

    // A fault lies on an address (two stations may share one); refuse closes the whole port.
    QSet<QString> faulted;
    int failing = 0;
    for (const Station &s : allStations()) {
        const QString address = addressOf(s, sim.table()).text;
        for (const Case &c : cases) {
            const Station &f = station(c.page, c.number);
            const bool samePort = f.endpoint == s.endpoint && QLatin1StringView(c.fault) == "refuse";
            if (address == addressOf(f, sim.table()).text || samePort) {
                faulted.insert(label(s));
                failing += c.reason ? 1 : 0;
                break;
            }
        }
    }
    for (const Case &c : cases) {
        const QString where = label(station(c.page, c.number));
        const QJsonObject e = entries.value(where);
        if (!c.reason) {
            QVERIFY2(e[u"result"].toString() == u"working", qPrintable(where + e[u"reason"].toString()));
            QVERIFY(e[u"stream"].toString().startsWith(u"http://127.0.0.1:"));
            continue;
        }
        QCOMPARE(e[u"result"].toString(), QString("failing"));
        QVERIFY2(e[u"reason"].toString().contains(QLatin1StringView(c.reason)),
                 qPrintable(where + QStringLiteral(": ") + e[u"reason"].toString()));
        QVERIFY(e[u"stream"].isNull());
        // Bounded: the time allowed and a little more, however the server behaves.
        QVERIFY2(e[u"milliseconds"].toInteger() < 4000 + 2000, qPrintable(where));
    }
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        if (!faulted.contains(it.key()))
            QVERIFY2(it.value()[u"result"].toString() == u"working",
                     qPrintable(it.key() + it.value()[u"reason"].toString()));
    QVERIFY2(run.err.contains(QStringLiteral("158 stations: %1 working, %2 failing, 0 without address")
                                  .arg(158 - failing).arg(failing)),
             qPrintable(run.err));

}

void TestProbe::stationsWithoutAddressAreReported()
{
    QTemporaryDir dir;
    // E02 (one Egyptian station) and one address piece left out; nothing listens anywhere,
    // so every station with an address fails, and quickly: connections are refused.
    QByteArray config;
    const QList<quint16> ports = freeLoopbackPorts(65);
    for (const QByteArray &line : loopbackConfig(ports).split('\n'))
        if (!line.startsWith("E02 ") && !line.startsWith("Form11.Command1.stream"))
            config += line + '\n';
    const QString path = dir.filePath("partial.conf");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(config);
    f.close();

    const Run run = runProbe({"--config", path, "--timeout", "2", "--json"});
    QCOMPARE(run.exitCode, 1);
    const QJsonArray entries = parseJson(run);
    QCOMPARE(entries.size(), 158);
    int without = 0;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const Station &s = allStations()[i];
        const QJsonObject e = entries[i].toObject();
        const StationAddress a = addressOf(s, loopbackTable(ports));
        const bool lacks = s.endpointKey() == u"E02" || s.pieceKeys().contains("Form11.Command1.stream");
        if (lacks) {
            ++without;
            QCOMPARE(e[u"result"].toString(), QString("no address"));
            QVERIFY(e[u"address"].isNull());
            QVERIFY(!e[u"missing"].toArray().isEmpty());
            QVERIFY(e[u"reason"].toString().contains(e[u"missing"].toArray().first().toString()));
        } else {
            QCOMPARE(e[u"result"].toString(), QString("failing"));
            QCOMPARE(e[u"address"].toString(), a.text);
            QVERIFY2(e[u"reason"].toString().contains("Connection refused"), qPrintable(e[u"reason"].toString()));
        }
    }
    QVERIFY(without >= 2);
    QVERIFY2(run.err.contains(QStringLiteral("158 stations: 0 working, %1 failing, %2 without address")
                                  .arg(158 - without).arg(without)),
             qPrintable(run.err));
    QCOMPARE(entries[0].toObject()[u"missing"].toArray().size(), 0);
    QCOMPARE(byLabel(entries).value("Form11.Command1")[u"missing"].toArray(),
             QJsonArray{"Form11.Command1.stream"});
}

void TestProbe::hlsIsCheckedOnTheVersionWithinTheLimit()
{
    // A master playlist of two versions; the listener allows less than the higher one.
    const Station &hls = station(Page::Form2, 7);
    QTemporaryDir dir;
    SimProcess sim(dir, {label(hls) + QStringLiteral("=hls")});
    QVERIFY(sim.start());
    QFile served(sim.config()), f(dir.filePath("limited.conf"));
    QVERIFY(served.open(QIODevice::ReadOnly) && f.open(QIODevice::WriteOnly));
    f.write(served.readAll()
            + "\nHls.MaxBandwidth = " + QByteArray::number(sim::StationSimulator::kHlsHighBandwidth - 1) + "\n");
    f.close();

    const Run run = runProbe({"--config", f.fileName(), "--json", "--timeout", "4"});
    const QJsonObject e = byLabel(parseJson(run)).value(label(hls));
    QVERIFY2(e[u"result"].toString() == u"working", qPrintable(e[u"reason"].toString()));
    const QString requests = sim.requests();
    QVERIFY2(requests.contains(u"/lo/index.m3u8"), qPrintable(requests.right(2000)));
    QVERIFY2(!requests.contains(u"/hi/index.m3u8"), qPrintable(requests.right(2000)));
}

void TestProbe::badOptionsAreRefused_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("no jobs") << QStringList{"probe", "--jobs", "0"} << "--jobs";
    QTest::newRow("jobs not a number") << QStringList{"probe", "--jobs=many"} << "--jobs";
    QTest::newRow("timeout not a number") << QStringList{"probe", "--timeout", "soon"} << "--timeout";
    QTest::newRow("timeout too long") << QStringList{"probe", "--timeout=601"} << "--timeout";
    QTest::newRow("timeout missing") << QStringList{"probe", "--timeout"} << "--timeout";
    QTest::newRow("json with list") << QStringList{"list", "--json"} << "probe only";
}

void TestProbe::badOptionsAreRefused()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QProcess p;
    p.start(QStringLiteral(LUMORA_CATALOGUE_TOOL), args);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 2);
    QVERIFY(p.readAllStandardOutput().isEmpty());
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(err.contains(message), qPrintable(err));
    QVERIFY(err.contains("Usage: lumora-catalogue"));
}

QTEST_GUILESS_MAIN(TestProbe)
#include "tst_probe.moc"
