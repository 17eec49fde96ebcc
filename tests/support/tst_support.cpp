// The toolkit's own promises that the suites lean on without seeing them: a config home gives
// back the environment exactly as it found it, and the waits tell a condition met from a
// deadline passed.

#include "config_home.h"
#include "wait.h"

#include "catalogue/endpoint_table.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QTimer>

using namespace lumora;
using namespace lumora::test;

class TestSupport : public QObject {
    Q_OBJECT

private slots:
    void configHomeRestoresWhatItChanged()
    {
        qputenv("XDG_CONFIG_HOME", "/home/listener/.config");
        qunsetenv("XDG_CONFIG_DIRS");
        {
            ConfigHome home("E01 = a.example\n");
            QVERIFY(qgetenv("XDG_CONFIG_HOME") != "/home/listener/.config");
            QVERIFY(qEnvironmentVariableIsSet("XDG_CONFIG_DIRS"));
            QVERIFY(QFile::exists(EndpointTable::userFile())); // where the program looks
            QCOMPARE(EndpointTable::loadConfigured().value(u"E01"), std::optional<QString>("a.example"));
        }
        QCOMPARE(qgetenv("XDG_CONFIG_HOME"), QByteArray("/home/listener/.config"));
        QVERIFY(!qEnvironmentVariableIsSet("XDG_CONFIG_DIRS"));
    }

    void waitsTellMetFromTimedOut()
    {
        bool fired = false;
        QTimer::singleShot(50, this, [&] { fired = true; });
        QVERIFY(!holdsFor([&] { return !fired; }, 5000)); // ends as soon as it breaks
        QVERIFY(fired);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!waitFor([] { return false; }, 100));
        QVERIFY(clock.elapsed() >= 100);
        QVERIFY(holdsFor([] { return true; }, 20));
        int asked = 0;
        QVERIFY(waitFor([&] { return ++asked == 3; }, 5000));
        QCOMPARE(asked, 3); // not asked again once met
    }
};

QTEST_GUILESS_MAIN(TestSupport)
#include "tst_support.moc"
