// The lumora program itself in a real X window: started with no arguments it shows its main
// page centred; clicks and shortcuts sent through XTEST (xdotool) move between pages and end it.
// The test starts its own Xvfb, which picks a free display itself (-displayfd), so that
// several such tests on one machine never race for a display number.

#include "tests/support/wait.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QRect>
#include <QTest>

using lumora::test::waitFor;

namespace {

constexpr int kMainClientHeight = 449;

QString lastXdotoolError;

QString xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    p.waitForFinished(10000);
    const QString err = QString::fromUtf8(p.readAllStandardError()).trimmed();
    if (!err.isEmpty())
        lastXdotoolError = err;
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QStringList visibleWindows()
{
    const QString ids = xdotool({"search", "--maxdepth", "1", "--onlyvisible", "--classname", "lumora"});
    return ids.isEmpty() ? QStringList() : ids.split(QLatin1Char('\n'));
}

QStringList visibleTitles()
{
    QStringList titles;
    for (const QString &id : visibleWindows())
        titles << xdotool({"getwindowname", id});
    return titles;
}

bool waitForTitles(const QStringList &expected, int ms = 20000)
{
    return waitFor([&] { return visibleTitles() == expected; }, ms, 50);
}

QRect geometryOf(const QString &id)
{
    QRect r;
    for (const QString &line : xdotool({"getwindowgeometry", "--shell", id}).split('\n')) {
        const QStringList kv = line.split('=');
        if (kv.size() != 2)
            continue;
        const int v = kv[1].toInt();
        if (kv[0] == "X") r.moveLeft(v);
        if (kv[0] == "Y") r.moveTop(v);
        if (kv[0] == "WIDTH") r.setWidth(v);
        if (kv[0] == "HEIGHT") r.setHeight(v);
    }
    return r;
}

// Waits until the visible window is width pixels wide: without a window manager the geometry
// settles just after mapping.
bool waitForWidth(int width)
{
    return waitFor([&] { return geometryOf(visibleWindows().value(0)).width() == width; }, 5000, 50);
}

QSize screenSize()
{
    const QStringList wh = xdotool({"getdisplaygeometry"}).split(' ');
    return wh.size() == 2 ? QSize(wh[0].toInt(), wh[1].toInt()) : QSize();
}

// Clicks the point (client-area pixels) of the only visible window.
void clickClient(const QPoint &point, int clientHeight)
{
    const QRect window = geometryOf(visibleWindows().value(0));
    const int menuHeight = window.height() - clientHeight;
    xdotool({"mousemove", QString::number(window.x() + point.x()),
             QString::number(window.y() + menuHeight + point.y())});
    xdotool({"click", "1"});
}

// Empty when the expected windows show up; otherwise what is there, and how the program fares.
QString tryTitles(const QStringList &expected, QProcess &program)
{
    if (waitForTitles(expected))
        return QString();
    program.waitForFinished(500); // collects the exit and the output of a program that ended
    return QStringLiteral("visible: [%1] (all its windows: %5 on %6); lumora %2, exit code %3; "
                          "its output: %4")
        .arg(visibleTitles().join(" | "))
        .arg(program.state() == QProcess::Running ? "running" : "not running")
        .arg(program.exitCode())
        .arg(QString::fromLocal8Bit(program.readAll()))
        .arg(xdotool({"search", "--classname", "lumora"}).replace('\n', ' '))
        .arg(qEnvironmentVariable("DISPLAY"))
        + QStringLiteral("; xdotool said: ") + lastXdotoolError + QStringLiteral("; screen ")
        + xdotool({"getdisplaygeometry"});
}

} // namespace

class RealWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void startsOnTheMainPageAndIsDrivenByTheUser();

private:
    QProcess m_xvfb;
};

void RealWindow::initTestCase()
{
    // -noreset: by default the server resets whenever its last client leaves, and a program
    // connecting during that reset is refused.
    m_xvfb.setProcessChannelMode(QProcess::SeparateChannels);
    m_xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1024x768x24",
                                          "-nolisten", "tcp", "-noreset"});
    QVERIFY2(m_xvfb.waitForStarted(), "Xvfb is not installed");
    QByteArray number;
    while (!number.endsWith('\n') && m_xvfb.waitForReadyRead(10000))
        number += m_xvfb.readAllStandardOutput();
    bool isNumber = false;
    number.trimmed().toInt(&isNumber);
    QVERIFY2(isNumber, qPrintable(QString::fromLocal8Bit(m_xvfb.readAllStandardError())));
    qputenv("DISPLAY", ":" + number.trimmed());
    qunsetenv("XAUTHORITY");
    QVERIFY2(xdotool({"getdisplaygeometry"}) == QStringLiteral("1024 768"),
             qPrintable(QStringLiteral("xdotool cannot reach the display: ") + lastXdotoolError));
}

void RealWindow::cleanupTestCase()
{
    m_xvfb.terminate();
    m_xvfb.waitForFinished(5000);
}

void RealWindow::startsOnTheMainPageAndIsDrivenByTheUser()
{
    QProcess lumora;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // What the program remembers goes to folders of the test's own.
    QTemporaryDir home;
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_STATE_HOME"), home.filePath(QStringLiteral("state")));
    lumora.setProcessEnvironment(env);
    lumora.setProcessChannelMode(QProcess::MergedChannels);
    lumora.start(QStringLiteral(LUMORA_BINARY), QStringList());
    QVERIFY(lumora.waitForStarted());

    // The main page, alone, centred, its client area 337 x 449 below the menu bar.
    const QString err = tryTitles({QStringLiteral("Lumora")}, lumora);
    QVERIFY2(err.isEmpty(), qPrintable(err));
    QVERIFY(waitForWidth(337));
    const QRect main = geometryOf(visibleWindows().value(0));
    QCOMPARE(main.width(), 337);
    QVERIFY(main.height() > kMainClientHeight && main.height() < kMainClientHeight + 40);
    const QSize screen = screenSize();
    QVERIFY2(qAbs(main.center().x() - screen.width() / 2) <= 2, qPrintable(QString::number(main.x())));
    QVERIFY2(qAbs(main.center().y() - screen.height() / 2) <= 2, qPrintable(QString::number(main.y())));

    // Command2 (top right) opens the Egyptian page and hides the main page.
    clickClient(QPoint(184 + 68, 16 + 16), kMainClientHeight);
    QString e = tryTitles({QStringLiteral("إذاعات مصرية")}, lumora);
    QVERIFY2(e.isEmpty(), qPrintable(e));
    QVERIFY(waitForWidth(525));

    // Ctrl+Z goes back to the main page.
    xdotool({"key", "ctrl+z"});
    e = tryTitles({QStringLiteral("Lumora")}, lumora);
    QVERIFY2(e.isEmpty(), qPrintable(e));

    // Command1 (top left) opens the Sudanese page.
    QVERIFY(waitForWidth(337));
    clickClient(QPoint(16 + 68, 16 + 16), kMainClientHeight);
    e = tryTitles({QStringLiteral("إذاعات سودانية")}, lumora);
    QVERIFY2(e.isEmpty(), qPrintable(e));
    QCOMPARE(lumora.state(), QProcess::Running);

    // Ctrl+W ends the program at once.
    xdotool({"key", "ctrl+w"});
    QVERIFY(lumora.waitForFinished(5000));
    // What the program said goes with a failure: a sanitizer's report, a warning at exit.
    QVERIFY2(lumora.exitStatus() == QProcess::NormalExit && lumora.exitCode() == 0,
             qPrintable(QStringLiteral("exit code %1, output:\n%2")
                            .arg(lumora.exitCode())
                            .arg(QString::fromLocal8Bit(lumora.readAll()))));
}

QTEST_GUILESS_MAIN(RealWindow)
#include "tst_real_window.moc"
