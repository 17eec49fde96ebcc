// What the players remember between runs: page sets made one after the other on the same
// folders are runs of the program, each ended as the listener ends it. The players run on
// recording engines; tests/integration plays a remembered station again for real.

#include "tests/support/config_home.h"
#include "tests/support/context_menu.h"
#include "tests/support/page_set_driver.h"
#include "tests/support/recording_backend.h"
#include "tests/support/wait.h"

#include "app/memory_files.h"
#include "app/player_memory.h"
#include "app/station_page.h"
#include "catalogue/address.h"
#include "player/widget/player_control.h"
#include "player/widget/player_texts.h"
#include "tools/station-sim/station_simulator.h"
#include "ui/page_window.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <map>

using namespace lumora;
using namespace lumora::test;

namespace {

QByteArray endpointsConf()
{
    QList<quint16> ports;
    for (int i = 0; i < 65; ++i)
        ports << quint16(20001 + i);
    return sim::loopbackConfig(ports);
}

// One run of the program on recording engines, remembering in the user's folders (those of
// the test's ConfigHome).
struct Run {
    std::map<Page, RecordingBackend *> engines;
    PageSetDriver shell{[this](QWidget *clientArea) {
                            auto engine = std::make_unique<RecordingBackend>();
                            const Page page = qobject_cast<PageWindow *>(clientArea->window())->layout().page;
                            engines[page] = engine.get();
                            return new PlayerControl(PlayerSettings::stored(), std::move(engine), clientArea);
                        },
                        MemoryFiles::user()};

    PlayerControl *player(Page page) { return shell.player(page); }
    // Ends the program from the page in front, as its "exit" item does.
    void exit()
    {
        PageSetDriver::menuItem(shell.window(shell.visible()), QStringLiteral("exit"))->trigger();
    }
    // The addresses each page's engine was asked to open, in order.
    QStringList opened(Page page)
    {
        QStringList out;
        if (engines.count(page))
            for (const QString &call : engines.at(page)->calls)
                if (call.startsWith(u"open:"))
                    out << call.mid(5);
        return out;
    }
};

QString addressOf(Page page, int number)
{
    return lumora::addressOf(station(page, number), EndpointTable::parse(endpointsConf(), "test")).text;
}

QString stateFile()
{
    return MemoryFiles::user().state;
}

QJsonObject readJson(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
}

// A value of a page's record in the state file.
QJsonValue kept(const QString &page, const QString &key)
{
    return readJson(stateFile()).value("pages").toObject().value(page).toObject().value(key);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// Collects the warnings of lumora.memory while it lives.
struct MemoryWarnings {
    static inline QStringList seen;
    QtMessageHandler previous;
    MemoryWarnings()
    {
        seen.clear();
        previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
            if (type == QtWarningMsg && context.category == QByteArray("lumora.memory"))
                seen << text;
        });
    }
    ~MemoryWarnings() { qInstallMessageHandler(previous); }
};

} // namespace

class TestRemembered : public QObject {
    Q_OBJECT

private slots:
    void volumeMuteAndStationComeBack();
    void playingPagesPlayAgainOnlyWhenAsked();
    void titlesSurviveAndStayBounded();
    void damagedFileStartsWithDefaultsAndSaysSoOnce_data();
    void damagedFileStartsWithDefaultsAndSaysSoOnce();
};

void TestRemembered::volumeMuteAndStationComeBack()
{
    ConfigHome home(endpointsConf());
    {
        Run first;
        first.shell.click(station(Page::Form2, 3));
        first.player(Page::Form2)->findChild<QSlider *>("volumeSlider")->setValue(72);
        first.shell.goTo(Page::Form5);
        first.player(Page::Form5)->findChild<QToolButton *>("muteButton")->click();
        // Written after a short delay, without waiting for the program's end.
        QVERIFY(waitFor([] { return kept("Form2", "volume").toInt() == 72; }, 10000));
        first.exit();
    }
    Run second;
    QCOMPARE(second.shell.visiblePages(), QList<Page>{Page::Form1});
    QVERIFY(second.opened(Page::Form2).isEmpty()); // not asked to play again: nothing plays
    second.shell.goTo(Page::Form2);
    QCOMPARE(second.player(Page::Form2)->volume(), 72);
    QVERIFY(!second.player(Page::Form2)->model().isMuted());
    QVERIFY(second.engines.at(Page::Form2)->calls.contains("volume:72")); // the engine was told
    second.shell.goTo(Page::Form5);
    QVERIFY(second.player(Page::Form5)->model().isMuted());
    QVERIFY(second.engines.at(Page::Form5)->calls.contains("mute:1"));
    QCOMPARE(second.player(Page::Form5)->volume(), PlayerSettings::stored().volume);
    QCOMPARE(second.shell.pages.memory()->lastStation(Page::Form2), 3);
    // A page never opened keeps the player's defaults.
    second.shell.goTo(Page::Form7);
    QCOMPARE(second.player(Page::Form7)->volume(), PlayerSettings::stored().volume);
    QVERIFY(!second.player(Page::Form7)->model().isMuted());
}

void TestRemembered::playingPagesPlayAgainOnlyWhenAsked()
{
    ConfigHome home(endpointsConf());
    const QByteArray endpoints = endpointsConf();
    const QString resume = playerLabel(PlayerLabel::ResumePlaying);
    {
        Run first;
        first.shell.click(station(Page::Form2, 4));
        first.shell.click(station(Page::Form6, 2));
        first.exit();
    }
    {
        Run second; // off by default: nothing plays
        for (Page p : {Page::Form2, Page::Form6})
            QVERIFY(!second.engines.count(p));
        // Three pages play, one of them stopped by its own button.
        second.shell.click(station(Page::Form3, 1));
        second.shell.click(station(Page::Form4, 2));
        second.shell.click(station(Page::Form8, 5));
        second.player(Page::Form8)->findChild<QToolButton *>("stopButton")->click();
        second.shell.goTo(Page::Form4);
        const QStringList menu = contextMenu(second.player(Page::Form4), resume);
        QVERIFY2(menu.contains(resume), qPrintable(menu.join(u'|')));
        QVERIFY(contextMenu(second.player(Page::Form3)).contains(resume + " (checked)")); // one switch for all
        // Closing the page in front from its frame ends the program, its station playing.
        second.shell.goTo(Page::Form3);
        second.shell.closeFront();
        QCOMPARE(second.shell.ends, QList<int>{0});
    }
    Run third;
    // The pages playing at the end play again, unseen, each its last station; the one
    // stopped does not.
    QCOMPARE(third.opened(Page::Form3), QStringList{addressOf(Page::Form3, 1)});
    QCOMPARE(third.opened(Page::Form4), QStringList{addressOf(Page::Form4, 2)});
    QCOMPARE(third.player(Page::Form4)->stationCaption(), station(Page::Form4, 2).caption());
    QVERIFY(third.opened(Page::Form8).isEmpty());
    QCOMPARE(third.shell.visiblePages(), QList<Page>{Page::Form1});
    QVERIFY(third.shell.stationPage(Page::Form4)->isOpen());
    // Turned off again from any player: the next run plays nothing by itself.
    third.shell.goTo(Page::Form4);
    QVERIFY(contextMenu(third.player(Page::Form4), resume).contains(resume + " (checked)"));
    third.exit();
    QVERIFY(!readJson(MemoryFiles::user().choices).value(PlayerMemory::kResumePlaying).toBool(true));
    QCOMPARE(kept("Form4", "playing").toBool(), true);
    {
        QFile conf(QFileInfo(MemoryFiles::user().choices).dir().filePath("endpoints.conf"));
        QVERIFY(conf.open(QIODevice::ReadOnly));
        QCOMPARE(conf.readAll(), endpoints); // the listener's file is never written
    }
    Run fourth;
    QVERIFY(fourth.opened(Page::Form4).isEmpty());
}

void TestRemembered::titlesSurviveAndStayBounded()
{
    ConfigHome home(endpointsConf());
    const int sent = int(TitleHistory::kCapacity) + 20;
    {
        Run first;
        first.shell.click(station(Page::Form2, 1));
        RecordingBackend *engine = first.engines.at(Page::Form2);
        for (int i = 0; i < sent; ++i) {
            engine->publish(PlaybackState::Playing, 0, QString::fromUtf8("أغنية رقم %1").arg(i));
            // The server repeats a title (after a reconnection, or just so): one entry.
            engine->publish(PlaybackState::Reconnecting);
            engine->publish(PlaybackState::Playing, 0, QString::fromUtf8("أغنية رقم %1").arg(i));
        }
        engine->publish(PlaybackState::Playing, 0, QStringLiteral("Latin Title - Artist"));
        first.exit();
    }
    Run second;
    second.shell.goTo(Page::Form2);
    const QList<TitleEntry> kept = second.player(Page::Form2)->model().history().newestFirst();
    QCOMPARE(kept.size(), TitleHistory::kCapacity);
    QCOMPARE(kept.first().title, QStringLiteral("Latin Title - Artist"));
    QCOMPARE(kept.first().station, station(Page::Form2, 1).caption());
    QCOMPARE(kept.at(1).title, QString::fromUtf8("أغنية رقم %1").arg(sent - 1));
    QCOMPARE(kept.last().title, QString::fromUtf8("أغنية رقم %1").arg(sent - int(TitleHistory::kCapacity) + 1));
    QVERIFY(kept.first().began >= kept.last().began);
    QVERIFY(qAbs(kept.first().began.secsTo(QDateTime::currentDateTimeUtc())) < 600);
    // Another page heard nothing.
    second.shell.goTo(Page::Form3);
    QVERIFY(second.player(Page::Form3)->model().history().isEmpty());
}

void TestRemembered::damagedFileStartsWithDefaultsAndSaysSoOnce_data()
{
    QTest::addColumn<bool>("stateFile");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("said");
    QTest::newRow("cut short") << true << QByteArray("{\"format\": \"lumora-state\", \"pages\": {\"Form2\": {\"vol")
                               << "not JSON";
    QTest::newRow("binary") << true << QByteArray("\x00\xff\xfe garbage", 11) << "not JSON";
    QTest::newRow("foreign") << true << QByteArray("{\"format\": \"something-else\", \"pages\": {}}")
                             << "not a file Lumora wrote";
    QTest::newRow("a list") << true << QByteArray("[1, 2, 3]") << "not a file Lumora wrote";
    QTest::newRow("volume out of range")
        << true << QByteArray("{\"format\": \"lumora-state\", \"pages\": {\"Form2\": {\"volume\": 1000}}}")
        << "pages.Form2.volume";
    QTest::newRow("a title not text")
        << true
        << QByteArray("{\"format\": \"lumora-state\", \"pages\": {\"Form2\": {\"titles\": [{\"title\": 5,"
                      " \"began\": \"2026-01-01T00:00:00Z\", \"station\": \"x\"}]}}}")
        << "pages.Form2.titles[0].title";
    QTest::newRow("no such page")
        << true << QByteArray("{\"format\": \"lumora-state\", \"pages\": {\"Form99\": {}}}") << "pages.Form99";
    QTest::newRow("choices damaged") << false << QByteArray("{{{{") << "not JSON";
}

void TestRemembered::damagedFileStartsWithDefaultsAndSaysSoOnce()
{
    QFETCH(bool, stateFile);
    QFETCH(QByteArray, content);
    QFETCH(QString, said);
    ConfigHome home(endpointsConf());
    const QString path = stateFile ? MemoryFiles::user().state : MemoryFiles::user().choices;
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    writeFile(path, content);
    {
        MemoryWarnings warnings;
        Run first;
        QCOMPARE(warnings.seen.size(), 1);
        QVERIFY2(warnings.seen.first().contains(path) && warnings.seen.first().contains(said),
                 qPrintable(warnings.seen.first()));
        // The first player the listener meets says so too, until it plays.
        first.shell.goTo(Page::Form2);
        PlayerControl *player = first.player(Page::Form2);
        QCOMPARE(player->volume(), PlayerSettings::stored().volume);
        const QString line = player->findChild<QLabel *>("statusLine")->toolTip();
        QVERIFY2(line.contains(playerLabel(PlayerLabel::MemoryReset).arg(QString()).left(20)) && line.contains(path),
                 qPrintable(line));
        first.shell.click(station(Page::Form2, 1));
        QVERIFY(!player->findChild<QLabel *>("statusLine")->toolTip().contains(path));
        first.exit();
    }
    MemoryWarnings warnings;
    Run second; // replaced by defaults: said once only
    QVERIFY2(warnings.seen.isEmpty(), qPrintable(warnings.seen.join(u'\n')));
    QCOMPARE(readJson(path).value("format").toString(), stateFile ? "lumora-state" : "lumora-settings");
}

QTEST_MAIN(TestRemembered)
#include "tst_remembered.moc"
