// lumora-catalogue as its user runs it: list, template and check, with and without a
// configuration.

#include "catalogue/endpoint_table.h"
#include "complete_table.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace lumora;

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run runTool(const QStringList &args, const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(LUMORA_CATALOGUE_TOOL), args);
    if (!p.waitForFinished(20000))
        qFatal("lumora-catalogue did not finish");
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

QString writeConfig(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(content);
    return path;
}

QByteArray completeConfig()
{
    const EndpointTable t = test::completeTable();
    QByteArray text;
    for (const QString &key : EndpointTable::allKeys())
        text += (key + " = " + *t.value(key) + "\n").toUtf8();
    return text;
}

// An environment whose config locations hold nothing.
QProcessEnvironment emptyConfigEnvironment(const QTemporaryDir &dir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.filePath("home"));
    env.insert("XDG_CONFIG_DIRS", dir.filePath("sys"));
    return env;
}

} // namespace

class TestCatalogueTool : public QObject {
    Q_OBJECT

private slots:
    void listsEveryStationWithItsAddress()
    {
        QTemporaryDir dir;
        const QString conf = writeConfig(dir, "all.conf", completeConfig());
        const Run r = runTool({"list", "--config", conf});
        QCOMPARE(r.exitCode, 0);
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 159);
        QCOMPARE(lines[0], QStringLiteral("page\tbutton\tcaption\taddress\tmissing"));
        for (const QString &line : lines.mid(1)) {
            const QStringList f = line.split('\t');
            QCOMPARE(f.size(), 5);
            QVERIFY2(f[3].startsWith("http://") || f[3].startsWith("mms://"), qPrintable(line));
            QVERIFY(f[4].isEmpty());
        }
        QCOMPARE(lines[1], QStringLiteral("Form2\tCommand1\tradio goal fm\thttp://e01.example.net/16790\t"));
        // Captions come out exactly, spaces included.
        QVERIFY(lines.contains(QString::fromUtf8(u8"Form16\tCommand8\t حياة أف أم \t"
                                                 "http://e03.example.net/Video/Arabic-Radio/03/Hayat-FM-ps/video.asx\t")));
        QCOMPARE(lines.last().section('\t', 0, 1), QStringLiteral("Form18\tCommand6"));
    }

    void listNamesWhatIsMissing()
    {
        QTemporaryDir dir;
        const QString conf = writeConfig(dir, "some.conf", "E01 = one.example\nE05 = five.example\n");
        const Run r = runTool({"list", "--config", conf});
        QCOMPARE(r.exitCode, 0);
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines[1], QStringLiteral("Form2\tCommand1\tradio goal fm\thttp://one.example/16790\t"));
        QCOMPARE(lines[5], QString::fromUtf8(u8"Form2\tCommand5\tراديو بارتي\t\t"
                                             "Form2.Command5.account,Form2.Command5.domain"));
    }

    void templateIsTheShippedExampleAndParsesClean()
    {
        const Run r = runTool({"template"});
        QCOMPARE(r.exitCode, 0);
        QFile example(QStringLiteral(LUMORA_EXAMPLE_CONF));
        QVERIFY(example.open(QIODevice::ReadOnly));
        QCOMPARE(r.out, QString::fromUtf8(example.readAll()));

        QList<ConfigMessage> messages;
        const EndpointTable t = EndpointTable::parse(r.out.toUtf8(), "template", &messages);
        QCOMPARE(messages.size(), 0);
        QCOMPARE(t.size(), 0);
        for (const QString &key : EndpointTable::allKeys())
            QVERIFY2(r.out.contains("\n" + key + " =\n"), qPrintable(key));
        // Each key names the stations it serves.
        QVERIFY(r.out.contains(QString::fromUtf8(u8"#   إذاعات ليبية Command3 \"راديو المدينة من ليبيا\"\nE32 =")));
        QCOMPARE(r.out.count(QStringLiteral("\n#   ")), 158 + 11 + 1); // every use of a key
    }

    void checkPassesOnlyWhenEverythingIsValid()
    {
        QTemporaryDir dir;
        const QString good = writeConfig(dir, "good.conf", completeConfig());
        Run r = runTool({"check", "--config", good});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.contains("158 stations: 158 with an address, 0 without"));
        QVERIFY(r.err.isEmpty());

        // A station given its whole address is reported, listed with it, and not a problem.
        const QString moved = writeConfig(dir, "moved.conf", completeConfig()
                                          + "Form2.Command5 = https://live.example.net/hls/playlist.m3u8\n");
        r = runTool({"check", "--config", moved});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.contains("1 station has an address of the listener's own: Form2.Command5"));
        r = runTool({"list", "--config", moved});
        QVERIFY(r.out.contains("\tCommand5\t" + QString::fromUtf8(u8"راديو بارتي")
                               + "\thttps://live.example.net/hls/playlist.m3u8\t\n"));

        const QString bad = writeConfig(dir, "bad.conf", completeConfig() + "E07 = host:99999\nE77 = x\n");
        r = runTool({"check", "--config", bad});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains(bad + ":77: bad value for E07"));
        QVERIFY(r.err.contains(bad + ":78: unknown key \"E77\""));
        QVERIFY(r.err.contains(bad + ":77: E07 is given again; this value replaces the one on line 7"));
        QVERIFY(r.out.contains("3 problems"));
        QVERIFY(r.out.contains("1 of 76 keys without a valid value: E07"));
        QVERIFY(r.out.contains("158 stations: 157 with an address, 1 without"));

        r = runTool({"check", "--config", dir.filePath("absent.conf")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains("no such file"));
        QVERIFY(r.out.contains("158 stations: 0 with an address, 158 without"));
    }

    void checkReadsTheBandwidthLimit()
    {
        // A valid limit is no problem, and check says what it does.
        QTemporaryDir dir;
        const QString limited = writeConfig(dir, "limited.conf", completeConfig() + "Hls.MaxBandwidth = 64000\n");
        Run r = runTool({"check", "--config", limited});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains("HTTP Live Streaming: the version of highest bandwidth up to 64000 bit/s"), qPrintable(r.out));
        QCOMPARE(EndpointTable::load(limited).hlsMaxBandwidth(), 64000);

        // Bad values are reported with what to write instead, and ignored: the rest counts.
        const struct {
            const char *value;
            const char *advice;
        } bad[] = {
            {"128k", "write 128000 for 128 kbit/s"},
            {"128", "is 128 meant in kbit/s? then write 128000"},
            {"fast", "for example 128000"},
            {"-5", "for example 128000"},
            {"128000 bit/s", "without a unit"},
            {"999999999999", "from 8000 to 100000000"},
        };
        for (const auto &b : bad) {
            const QString conf = writeConfig(dir, "bad.conf", completeConfig() + "Hls.MaxBandwidth = " + b.value + "\n");
            r = runTool({"check", "--config", conf});
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(r.err.contains(conf + ":77: bad value for Hls.MaxBandwidth: must be a whole number of bits "
                                           "per second from 8000 to 100000000"), qPrintable(r.err));
            QVERIFY2(r.err.contains(QLatin1StringView(b.advice)), qPrintable(r.err));
            QVERIFY(r.out.contains("158 stations: 158 with an address, 0 without"));
            QVERIFY(!r.out.contains("HTTP Live Streaming"));
            QCOMPARE(EndpointTable::load(conf).hlsMaxBandwidth(), 0);
        }
    }

    void checkSearchesTheConfigLocations()
    {
        QTemporaryDir dir;
        const QProcessEnvironment env = emptyConfigEnvironment(dir);
        Run r = runTool({"check"}, env);
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.out.contains("no configuration file found in: " + dir.filePath("home")));

        QDir().mkpath(dir.filePath("sys/lumora"));
        writeConfig(dir, "sys/lumora/endpoints.conf", completeConfig());
        r = runTool({"check"}, env);
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.contains("configuration: " + dir.filePath("sys/lumora/endpoints.conf")));
    }

    void initWritesTheTemplateOnceToTheUserFile()
    {
        QTemporaryDir dir;
        const QProcessEnvironment env = emptyConfigEnvironment(dir);
        const QString userFile = dir.filePath("home/lumora/endpoints.conf");
        const Run first = runTool({"init"}, env);
        QCOMPARE(first.exitCode, 0);
        QCOMPARE(first.out, userFile + "\n"); // the folder did not exist: init created it
        QFile written(userFile);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(written.readAll()), runTool({"template"}, env).out);
        QCOMPARE(runTool({"check"}, env).out.section('\n', 0, 0), "configuration: " + userFile);

        // A second init leaves the file, now being filled in, as it is.
        QVERIFY(QFile::remove(userFile));
        writeConfig(dir, "home/lumora/endpoints.conf", "E01 = mine.example\n");
        const Run second = runTool({"init"}, env);
        QCOMPARE(second.exitCode, 1);
        QCOMPARE(second.out, userFile + "\n");
        QVERIFY(second.err.contains("left as it is"));
        QFile kept(userFile);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("E01 = mine.example\n"));

        // --config names another file.
        const QString other = dir.filePath("elsewhere/e.conf");
        QCOMPARE(runTool({"init", "--config", other}, env).out, other + "\n");
        QVERIFY(QFileInfo(other).size() > 1000);
    }

    void badCommandLinesAreRefusedWithHelp()
    {
        const Run help = runTool({"--help"});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains("--config FILE"));
        for (const QStringList &args : {QStringList{}, QStringList{"frobnicate"},
                                        QStringList{"list", "--config"}, QStringList{"list", "--bogus"}}) {
            const Run r = runTool(args);
            QCOMPARE(r.exitCode, 2);
            QVERIFY(r.err.contains("Usage: lumora-catalogue"));
        }
    }
};

QTEST_GUILESS_MAIN(TestCatalogueTool)
#include "tst_catalogue_tool.moc"
