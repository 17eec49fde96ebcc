// What a station click does to the players, seen through a recording stand-in for the media
// engine: stop comes before the address, the exact address reaches the page's own player and
// no other, navigation touches no player, and failures end in the run-time error report.

#include "tests/support/config_home.h"
#include "tests/support/page_set_driver.h"

#include "app/page_instance.h"
#include "app/station_page.h"
#include "catalogue/address.h"
#include "catalogue/page_directory.h"
#include "player/widget/player_control.h"
#include "ui/page_window.h"
#include "ui/station_button.h"

#include "tests/support/recording_backend.h"
#include "tools/station-sim/station_simulator.h"

#include <QAction>
#include <QApplication>
#include <QTest>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTimer>
#include <map>

using namespace lumora;
using namespace lumora::test;

namespace {

// Players on recording engines, one per station page, remembered by page.
struct RecordedPlayers {
    std::map<Page, RecordingBackend *> engines;

    PlayerFactory factory()
    {
        return [this](QWidget *clientArea) {
            auto engine = std::make_unique<RecordingBackend>();
            // The window being built is the page's; its layout names the page.
            const Page page = qobject_cast<PageWindow *>(clientArea->window())->layout().page;
            engines[page] = engine.get();
            return new PlayerControl(PlayerSettings::stored(), std::move(engine), clientArea);
        };
    }
};

QByteArray demoLikeConfig()
{
    QList<quint16> ports;
    for (int i = 0; i < 65; ++i)
        ports << quint16(20001 + i);
    return sim::loopbackConfig(ports);
}

// Dismisses the run-time error report when it shows and remembers its text.
struct ReportWatcher {
    QString text;
    QTimer poll;
    ReportWatcher()
    {
        QObject::connect(&poll, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                text = box->text();
                box->button(QMessageBox::Ok)->click();
            }
        });
        poll.start(10);
    }
};

} // namespace

class TestStationSelection : public QObject {
    Q_OBJECT

    ConfigHome m_config;
    EndpointTable m_table;

private slots:
    void initTestCase()
    {
        m_config.write(demoLikeConfig());
        m_table = EndpointTable::parse(demoLikeConfig(), "demo");
    }

    void everyButtonPlaysItsStationOnItsOwnPlayer()
    {
        RecordedPlayers players;
        PageSetDriver shell(players.factory());
        for (const PageEntry &entry : PageDirectory::entries()) {
            shell.goTo(entry.page);
        }
        QCOMPARE(int(players.engines.size()), 17);
        QMap<Page, QStringList> before;
        for (auto &[page, engine] : players.engines)
            before[page] = engine->actions();

        for (const Station &s : allStations()) {
            shell.click(s);
            const QString address = addressOf(s, m_table).text;
            QVERIFY(!address.isEmpty());
            QStringList expected = before[s.page];
            expected << QStringLiteral("stop") << QStringLiteral("open:") + address;
            before[s.page] = expected;
            for (auto &[page, engine] : players.engines)
                QCOMPARE(engine->actions(), before[page]); // only the clicked page's player moved
            QCOMPARE(shell.player(s.page)->URL(), address); // kept exactly, spaces and Arabic too
        }
        QVERIFY(shell.ends.isEmpty());
    }

    void aRepeatedClickStopsAndOpensAgain()
    {
        RecordedPlayers players;
        PageSetDriver shell(players.factory());
        const Station &s = station(Page::Form12, 2);
        shell.click(s);
        shell.click(s);
        shell.click(station(Page::Form12, 1));
        const QString a2 = addressOf(s, m_table).text;
        const QString a1 = addressOf(station(Page::Form12, 1), m_table).text;
        QCOMPARE(players.engines[Page::Form12]->actions(),
                 (QStringList{"stop", "open:" + a2, "stop", "open:" + a2, "stop", "open:" + a1}));
        QVERIFY(a2.contains(QLatin1String("Radio Bahrain 96.5 FM")));
    }

    void navigationNeverTouchesAPlayer()
    {
        RecordedPlayers players;
        PageSetDriver shell(players.factory());
        for (const PageEntry &entry : PageDirectory::entries()) {
            shell.click(stationsOf(entry.page).front());
        }
        QMap<Page, QStringList> before;
        for (auto &[page, engine] : players.engines)
            before[page] = engine->calls;

        QRandomGenerator rng(20261208);
        for (int step = 0; step < 300; ++step) {
            const int n = rng.bounded(1, kPageCount + 1);
            shell.goTo(Page(n));
        }
        shell.goTo(Page::Form1);
        for (auto &[page, engine] : players.engines)
            QCOMPARE(engine->calls, before[page]);
    }

    void aStationWithoutAnAddressSaysWhichKeysAreMissing()
    {
        ConfigHome partial;
        QByteArray text = demoLikeConfig();
        text.replace("\nE05 =", "\n# E05 =");
        partial.write(text);
        RecordedPlayers players;
        PageSetDriver shell(players.factory());
        ReportWatcher report;
        shell.click(station(Page::Form2, 5));
        PlayerControl *player = shell.player(Page::Form2);
        QCOMPARE(players.engines[Page::Form2]->actions(), QStringList{"stop"});
        QCOMPARE(player->status().state, PlaybackState::NoAddress);
        QCOMPARE(player->status().missingKeys, QStringList{"E05"});
        QVERIFY(player->findChild<QLabel *>("statusLine")->toolTip().contains(QLatin1String("E05")));
        // The page goes on working.
        shell.click(station(Page::Form2, 6));
        QCOMPARE(players.engines[Page::Form2]->actions().last(),
                 "open:" + addressOf(station(Page::Form2, 6), m_table).text);
        QVERIFY(report.text.isEmpty());
        QVERIFY(shell.ends.isEmpty());
    }

    void aFactoryThatMakesNoPlayerIsAnInternalError()
    {
        // A page always has its player: a factory that gives none is caught when the page
        // is built, as a run-time error, instead of failing later at a station's click.
        PageSetDriver shell([](QWidget *) -> PlayerControl * { return nullptr; });
        ReportWatcher report;
        PageSetDriver::click(shell.window(Page::Form1), PageDirectory::byPage(Page::Form3)->mainButton);
        QTRY_VERIFY(!report.text.isEmpty());
        QCOMPARE(report.text,
                 QStringLiteral("Run-time error '51':\n\nInternal error: the player factory made no player"));
        QVERIFY(!shell.pages.slot(Page::Form3)->isOpen());
        QCOMPARE(shell.ends, QList<int>{ClickDispatcher::kErrorExitCode});
    }
};

QTEST_MAIN(TestStationSelection)
#include "tst_station_selection.moc"
