// The demo configuration and scripts/demo.

#include "catalogue/address.h"
#include "tools/station-sim/station_simulator.h"

#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTest>

using namespace lumora;
using namespace lumora::sim;

class TestDemoConfig : public QObject {
    Q_OBJECT
private slots:
    void demoConfigurationIsComplete();
    void demoConfigurationIsWhatTheSimulatorWrites();
    void catalogueToolAcceptsIt();
    void demoWithoutDisplaySaysSo();
};

static const QString kConfig = QStringLiteral(LUMORA_SOURCE_DIR "/demo/endpoints.conf");

void TestDemoConfig::demoConfigurationIsComplete()
{
    QList<ConfigMessage> messages;
    const EndpointTable table = EndpointTable::load(kConfig, &messages);
    QVERIFY2(messages.isEmpty(), qPrintable(messages.value(0).toString()));
    QCOMPARE(table.size(), int(EndpointTable::allKeys().size())); // 65 endpoints + 11 pieces
    QSet<QString> endpoints;
    for (int i = 1; i <= 65; ++i) {
        const QString value = *table.value(QStringLiteral("E%1").arg(i, 2, 10, QLatin1Char('0')));
        QCOMPARE(value, QStringLiteral("127.0.0.1:%1").arg(18000 + i));
        endpoints.insert(value);
    }
    QCOMPARE(endpoints.size(), 65);
    for (const Station &s : allStations()) {
        const StationAddress a = addressOf(s, table);
        QVERIFY2(a.ok(), qPrintable(s.buttonName() + a.missing.join(u',')));
        QVERIFY(a.text.startsWith(schemeName(s.scheme) + QStringLiteral("://127.0.0.1:180")));
    }
    QCOMPARE(*table.value(QStringLiteral("E32")), QStringLiteral("127.0.0.1:18032"));
    QVERIFY(addressOf(*findStation(Page::Form6, 3), table).text.endsWith(QStringLiteral("?url=mms://127.0.0.1:18032/live")));
}

void TestDemoConfig::demoConfigurationIsWhatTheSimulatorWrites()
{
    QFile f(kConfig);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QList<quint16> ports;
    for (quint16 p = 18001; p <= 18065; ++p)
        ports.append(p);
    QCOMPARE(f.readAll(), loopbackConfig(ports));
    QProcess sim;
    sim.start(QStringLiteral(LUMORA_STATION_SIM), {QStringLiteral("--write-config"), QStringLiteral("18001")});
    QVERIFY(sim.waitForFinished(10000));
    QCOMPARE(sim.exitCode(), 0);
    QCOMPARE(sim.readAllStandardOutput(), loopbackConfig(ports));
}

void TestDemoConfig::catalogueToolAcceptsIt()
{
#ifdef LUMORA_CATALOGUE_TOOL
    QProcess tool;
    tool.start(QStringLiteral(LUMORA_CATALOGUE_TOOL), {QStringLiteral("check"), QStringLiteral("--config"), kConfig});
    QVERIFY(tool.waitForFinished(10000));
    const QByteArray out = tool.readAllStandardOutput() + tool.readAllStandardError();
    QVERIFY2(tool.exitCode() == 0, out);
    QVERIFY2(out.contains("0 problems") && out.contains("158 stations: 158 with an address, 0 without"), out);
#else
    QSKIP("lumora-catalogue is not part of this build");
#endif
}

void TestDemoConfig::demoWithoutDisplaySaysSo()
{
    QProcess demo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    demo.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    demo.start(QStringLiteral(LUMORA_SOURCE_DIR "/scripts/demo"), {});
    QVERIFY(demo.waitForFinished(10000));
    QCOMPARE(demo.exitCode(), 1);
    const QByteArray err = demo.readAllStandardError();
    QVERIFY2(err.contains("no display") && err.contains("xvfb-run"), err);
    QVERIFY(clock.elapsed() < 5000); // said before installing or building anything
}

QTEST_GUILESS_MAIN(TestDemoConfig)
#include "tst_demo_config.moc"
