// The endpoint configuration: the file format, validation of every kind of value, and what
// happens with bad, hostile or missing files.

#include "tests/support/scoped_environment.h"

#include "catalogue/address.h"
#include "catalogue/configured_endpoints.h"
#include "catalogue/endpoint_table.h"
#include "catalogue/station.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace lumora;
using lumora::test::ScopedEnvironment;

namespace {

QStringList logged;

void captureMessages(QtMsgType, const QMessageLogContext &ctx, const QString &msg)
{
    if (QByteArray(ctx.category) == "lumora.endpoints")
        logged.append(msg);
}

EndpointTable parse(const QByteArray &text, QList<ConfigMessage> *messages)
{
    return EndpointTable::parse(text, QStringLiteral("test.conf"), messages);
}

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

} // namespace

class TestEndpointConfig : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        logged.clear();
        qInstallMessageHandler(captureMessages);
    }
    void cleanup() { qInstallMessageHandler(nullptr); }

    void readsKeysAndValuesWithAnyLineEnding()
    {
        QList<ConfigMessage> messages;
        const EndpointTable t = parse("\xEF\xBB\xBF# comment\r\n"
                                      "\r\n"
                                      "E01 = radio.example.com\r\n"
                                      "   E07=10.0.0.7:8000   \n"
                                      "\t# indented comment\n"
                                      "E08 =\t[2001:db8::8]:80\n"
                                      "E09 = [::1]\n"
                                      "Form2.Command5.account = party_acct-1.x\n"
                                      "Form4.Command12.id = 0123456789abcdef0123456789abcdef\n"
                                      "Form11.Command1.stream = 01234567-89ab-cdef-0123-456789abcdef\n"
                                      "E02 =\n",
                                      &messages);
        QCOMPARE(messages.size(), 0);
        QCOMPARE(t.value(u"E01"), std::optional<QString>("radio.example.com"));
        QCOMPARE(t.value(u"E07"), std::optional<QString>("10.0.0.7:8000"));
        QCOMPARE(t.value(u"E08"), std::optional<QString>("[2001:db8::8]:80"));
        QCOMPARE(t.value(u"E09"), std::optional<QString>("[::1]"));
        QCOMPARE(t.value(u"Form2.Command5.account"), std::optional<QString>("party_acct-1.x"));
        QCOMPARE(t.value(u"Form4.Command12.id"), std::optional<QString>("0123456789abcdef0123456789abcdef"));
        QVERIFY(t.value(u"Form11.Command1.stream"));
        QVERIFY(!t.value(u"E02")); // left empty: not configured, and no complaint
        QVERIFY(!t.value(u"E03"));
        QCOMPARE(t.size(), 7);
    }

    void validatesEachKindOfValue_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("valid");
        const auto row = [](const char *k, const char *v, bool ok) {
            QTest::addRow("%s=%s", k, v) << QString::fromLatin1(k) << QString::fromUtf8(v) << ok;
        };
        row("E01", "a", true);
        row("E01", "stream-1.radio.example", true);
        row("E01", "host:1", true);
        row("E01", "host:65535", true);
        row("E01", "127.0.0.1:8080", true);
        row("E01", "[fe80::1]:554", true);
        row("E01", "[1:2:3:4:5:6:7:8]", true);
        row("E01", "[::ffff:10.1.2.3]", true);
        row("E01", "host:0", false);
        row("E01", "host:65536", false);
        row("E01", "host:", false);
        row("E01", "host:80x", false);
        row("E01", "host:+80", false);
        row("E01", "http://host", false);
        row("E01", "host/path", false);
        row("E01", "ho st", false);
        row("E01", "-host.example", false);
        row("E01", "host-.example", false);
        row("E01", "host..example", false);
        row("E01", "256.1.1.1", false);
        row("E01", "1.2.3", false);
        row("E01", "fe80::1", false);
        row("E01", "[fe80::1", false);
        row("E01", "[1:2:3:4:5:6:7:8:9]", false);
        row("E01", "[1::2::3]", false);
        row("E01", "[::1]80", false);
        row("E01", "رادیو.example", false);
        row("Form4.Command12.id", "0123456789abcdef0123456789abcdef", true);
        row("Form4.Command12.id", "0123456789ABCDEF0123456789abcdef", false);
        row("Form4.Command12.id", "0123456789abcdef0123456789abcde", false);
        row("Form16.Command19.id", "g123456789abcdef0123456789abcdef", false);
        row("Form17.Command9.stream", "01234567-89ab-cdef-0123-456789abcdef", true);
        row("Form17.Command9.stream", "01234567-89AB-cdef-0123-456789abcdef", false);
        row("Form17.Command9.stream", "0123456789abcdef0123456789abcdef", false);
        row("Form17.Command9.stream", "{01234567-89ab-cdef-0123-456789abcdef}", false);
        row("Form16.Command5.site", "balad-jenin_2.x", true);
        row("Form16.Command5.site", "balad/jenin", false);
        row("Form16.Command5.site", "balad jenin", false);
        row("Form16.Command5.site", "balad%20", false);
        row("Form2.Command5.domain", "a&b", false);
        // A station's whole address, as a listener copies it from the broadcaster's page.
        row("Form2.Command5", "https://live.example.net/hls/ngrp:radio_all/playlist.m3u8", true);
        row("Form2.Command5", "http://[2001:db8::7]:8000/;", true);
        row("Form2.Command5", "mmsh://wm.example.net/station?MSWMExt=.asf", true);
        row("Form2.Command5", "mms://wm.example.net/station", true);
        row("Form18.Command6", "http://127.0.0.1:8000", true);
        row("Form2.Command5", "ftp://files.example.net/radio.mp3", false);
        row("Form2.Command5", "file:///etc/passwd", false);
        row("Form2.Command5", "HTTP://live.example.net/", false);
        row("Form2.Command5", "https://", false);
        row("Form2.Command5", "https://user@live.example.net/", false);
        row("Form2.Command5", "https://live.example.net/a b", false);
        row("Form2.Command5", "https://live.example.net/\u202etxt.mp3", false);
        row("Form2.Command5", "https://live.example.net:99999/", false);
        const QByteArray longAddress = "https://live.example.net/" + QByteArray(3000, 'a');
        row("Form2.Command5", longAddress.constData(), false);
    }

    void validatesEachKindOfValue()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(bool, valid);
        QCOMPARE(EndpointTable::validate(key, value).isEmpty(), valid);
        QList<ConfigMessage> messages;
        const EndpointTable t = parse((key + " = " + value + "\n").toUtf8(), &messages);
        QCOMPARE(t.value(key).has_value(), valid);
        QCOMPARE(messages.size(), valid ? 0 : 1);
    }

    void reportsEachProblemOnceAndKeepsTheRest()
    {
        QList<ConfigMessage> messages;
        const EndpointTable t = parse("E01 = good.example\n"
                                      "E02 = bad host\n"
                                      "E99 = x.example\n"
                                      "just some words\n"
                                      "= value\n"
                                      "E03 = first.example\n"
                                      "E03 = second.example\n"
                                      "E04 = kept.example\n",
                                      &messages);
        QCOMPARE(t.value(u"E01"), std::optional<QString>("good.example"));
        QVERIFY(!t.value(u"E02"));
        QCOMPARE(t.value(u"E03"), std::optional<QString>("second.example")); // the later one wins
        QCOMPARE(t.value(u"E04"), std::optional<QString>("kept.example"));
        QCOMPARE(messages.size(), 5);
        QList<int> lines;
        for (const ConfigMessage &m : messages)
            lines.append(m.line);
        QCOMPARE(lines, (QList<int>{2, 3, 4, 5, 7}));
        QVERIFY(messages[0].text.contains("E02"));
        QVERIFY(messages[1].text.contains("unknown key \"E99\""));
        QVERIFY(messages[4].text.contains("line 6"));
        QCOMPARE(messages[0].toString().left(12), QStringLiteral("test.conf:2:"));
        // Each problem reaches the log once, in the same form.
        QStringList expected;
        for (const ConfigMessage &m : messages)
            expected.append(m.toString());
        QCOMPARE(logged, expected);
    }

    void overrideReplacesTheComposedAddressOfItsStationOnly()
    {
        QList<ConfigMessage> messages;
        const QString hls = QStringLiteral("https://live.example.net/out/v1/abc/index.m3u8?token=a%2Fb");
        const EndpointTable t = EndpointTable::parse("Form2.Command5 = " + hls.toUtf8() + "\n"
                                                     "Form2.Command05 = http://x.example/\n"
                                                     "Form2.Command99 = http://x.example/\n"
                                                     "Form1.Command1 = http://x.example/\n",
                                                     "t.conf", &messages);
        // Unknown stations are unknown keys, each reported; the override is kept byte for byte.
        QCOMPARE(messages.size(), 3);
        QCOMPARE(t.overrides(), QStringList{"Form2.Command5"});
        const Station *overridden = findStation(Page::Form2, 5);
        QVERIFY(overridden);
        QCOMPARE(addressOf(*overridden, t).text, hls);
        QVERIFY(addressOf(*overridden, t).ok()); // no endpoint or piece needed any more
        // Its neighbours still need their keys.
        QVERIFY(!addressOf(*findStation(Page::Form2, 4), t).ok());
    }

    void keysAreCaseSensitiveAndExact()
    {
        QList<ConfigMessage> messages;
        const EndpointTable t = parse("e01 = a.example\nE1 = a.example\nE001 = a.example\n"
                                      "E66 = a.example\nE00 = a.example\n"
                                      "form2.command5.account = x\n",
                                      &messages);
        QCOMPARE(t.size(), 0);
        QCOMPARE(messages.size(), 6);
    }

    void hostileFilesNeverCrashAndCountAsAbsent()
    {
        QTemporaryDir dir;
        const QString junk = dir.filePath("junk.conf");
        QByteArray bytes(4096, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char((i * 131 + 7) & 0xff);
        writeFile(junk, "E01 = a.example\n" + bytes);
        const QString huge = dir.filePath("huge.conf");
        writeFile(huge, QByteArray("E01 = a.example\n") + QByteArray(EndpointTable::kMaxFileSize, '#'));
        const QString utf16 = dir.filePath("utf16.conf");
        writeFile(utf16, QByteArray("\xff\xfe" "E\0" "0\0" "1\0" "=\0" "a\0" "\n\0", 14));
        const QString asDir = dir.filePath("dir.conf");
        QDir().mkpath(asDir);
        const QString fifo = dir.filePath("fifo.conf");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

        for (const QString &path : {junk, huge, utf16, asDir, fifo}) {
            QList<ConfigMessage> messages;
            const EndpointTable t = EndpointTable::load(path, &messages);
            QCOMPARE(t.size(), 0);
            QCOMPARE(messages.size(), 1);
            QCOMPARE(messages[0].file, path);
            QCOMPARE(messages[0].line, 0);
        }

        QList<ConfigMessage> messages;
        QCOMPARE(EndpointTable::load(dir.filePath("absent.conf"), &messages).size(), 0);
        QCOMPARE(messages.size(), 1);
        messages.clear();
        QCOMPARE(EndpointTable::load(dir.filePath("absent.conf"), &messages, true).size(), 0);
        QCOMPARE(messages.size(), 0);
    }

    void oneLineThatIsNotUtf8IsReportedAloneAndTheRestCounts()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("endpoints.conf");
        // An Arabic comment saved as Windows-1256, then a key line with one stray byte.
        writeFile(path, "# \xc7\xe1\xd5\xdd\xcd\xc9 \xc7\xe1\xd1\xc6\xed\xd3\xed\xc9\r\n"
                        "E01 = a.example\r\n"
                        "E02 = b.ex\xe9mple\r\n"
                        "   #\x01\x02 control bytes in a comment\n"
                        "E03 = c.example\n");
        QList<ConfigMessage> messages;
        const EndpointTable t = EndpointTable::load(path, &messages);
        QCOMPARE(t.size(), 2);
        QCOMPARE(t.value(u"E01"), std::optional<QString>("a.example"));
        QCOMPARE(t.value(u"E03"), std::optional<QString>("c.example"));
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0].toString(), path + ":3: is not UTF-8 text; line ignored");
        QCOMPARE(logged, QStringList{messages[0].toString()});

        // Read through the search path too: the file is used, not skipped as unusable.
        ScopedEnvironment env;
        env.set("XDG_CONFIG_HOME", dir.filePath("home"));
        env.set("XDG_CONFIG_DIRS", dir.filePath("none"));
        QCOMPARE(EndpointTable::userFile(), dir.filePath("home/lumora/endpoints.conf"));
        QVERIFY(QDir().mkpath(dir.filePath("home/lumora")));
        QVERIFY(QFile::copy(path, EndpointTable::userFile()));
        QString used;
        QCOMPARE(EndpointTable::loadConfigured(nullptr, &used).size(), 2);
        QCOMPARE(used, EndpointTable::userFile());
    }

    void readErrorIsReportedNotTakenAsEmpty()
    {
        // /proc/self/mem opens and is a regular file, but reading its first page fails.
        QList<ConfigMessage> messages;
        QCOMPARE(EndpointTable::load("/proc/self/mem", &messages).size(), 0);
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].text.startsWith("could not be read ("), qPrintable(messages[0].text));
        // A /proc file whose size is 0 but which has content is read to its end.
        messages.clear();
        EndpointTable::load("/proc/self/status", &messages);
        QVERIFY(!messages.isEmpty());
        QCOMPARE(messages[0].line, 1); // "Name:..." is no KEY = VALUE line: it was read
    }

    void unreadableFileIsReported()
    {
        if (::geteuid() == 0)
            QSKIP("root reads files whatever their mode");
        QTemporaryDir dir;
        const QString path = dir.filePath("locked.conf");
        writeFile(path, "E01 = a.example\n");
        QFile::setPermissions(path, QFileDevice::Permissions{});
        QList<ConfigMessage> messages;
        QCOMPARE(EndpointTable::load(path, &messages).size(), 0);
        QCOMPARE(messages.size(), 1);
    }

    void searchesUserThenSystemLocations()
    {
        QTemporaryDir dir;
        const QString home = dir.filePath("home");
        const QString sys1 = dir.filePath("sys1");
        const QString sys2 = dir.filePath("sys2");
        ScopedEnvironment env;
        env.set("XDG_CONFIG_HOME", home);
        env.set("XDG_CONFIG_DIRS", sys1 + ':' + sys2);

        QString used;
        QCOMPARE(EndpointTable::loadConfigured(nullptr, &used).size(), 0);
        QVERIFY(used.isEmpty());

        writeFile(sys2 + "/lumora/endpoints.conf", "E01 = sys2.example\n");
        QCOMPARE(EndpointTable::loadConfigured(nullptr, &used).value(u"E01"),
                 std::optional<QString>("sys2.example"));
        QCOMPARE(used, sys2 + "/lumora/endpoints.conf");

        writeFile(sys1 + "/lumora/endpoints.conf", "E01 = sys1.example\n");
        QCOMPARE(*EndpointTable::loadConfigured().value(u"E01"), QStringLiteral("sys1.example"));

        writeFile(home + "/lumora/endpoints.conf", "E01 = home.example\n");
        QCOMPARE(*EndpointTable::loadConfigured().value(u"E01"), QStringLiteral("home.example"));

        // A user file that cannot be used counts as absent: the next location serves.
        writeFile(home + "/lumora/endpoints.conf", QByteArray("\0\1\2binary", 9));
        QList<ConfigMessage> messages;
        QCOMPARE(*EndpointTable::loadConfigured(&messages, &used).value(u"E01"),
                 QStringLiteral("sys1.example"));
        QCOMPARE(messages.size(), 1);
        QCOMPARE(used, sys1 + "/lumora/endpoints.conf");

    }

    void configurationIsReadOnceAtFirstUse()
    {
        QTemporaryDir dir;
        ScopedEnvironment env;
        env.set("XDG_CONFIG_HOME", dir.path());
        env.set("XDG_CONFIG_DIRS", dir.filePath("none"));
        ConfiguredEndpoints endpoints;
        writeFile(dir.filePath("lumora/endpoints.conf"), "E01 = before.example\n");
        QVERIFY(!endpoints.loaded());
        const Station &first = allStations()[0];
        QCOMPARE(addressOf(first, endpoints.table()).text, QStringLiteral("http://before.example/16790"));
        QVERIFY(endpoints.loaded());
        // Later changes to the file do not reach this run.
        writeFile(dir.filePath("lumora/endpoints.conf"), "E01 = after.example\n");
        QCOMPARE(addressOf(first, endpoints.table()).text, QStringLiteral("http://before.example/16790"));
    }
};

QTEST_GUILESS_MAIN(TestEndpointConfig)
#include "tst_endpoint_config.moc"
