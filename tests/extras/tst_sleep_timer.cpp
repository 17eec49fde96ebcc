// The program's sleep timer on a hand-driven clock, with players on the recording stand-in
// engine: the time left in each playing player's tool tip, the fade over the last 30 s as the
// volume the engine is given, every playing player stopped at the end, and cancelling.

#include "app/program_extras.h"
#include "player/widget/player_texts.h"
#include "tests/support/config_home.h"
#include "tests/support/context_menu.h"
#include "tests/support/hand_clock.h"
#include "tests/support/recording_backend.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimeEdit>
#include <QTimer>
#include <QTest>

using namespace lumora;
using namespace lumora::test;

namespace {

struct Player : RecordedPlayer {
    explicit Player(ProgramExtras &program) { program.attach(player); }
    QString toolTip() const { return player->findChild<QLabel *>(QStringLiteral("statusLine"))->toolTip(); }
    // The last volume the engine was given.
    int engineVolume() const
    {
        for (qsizetype i = backend->calls.size() - 1; i >= 0; --i)
            if (backend->calls[i].startsWith(u"volume:"))
                return backend->calls[i].mid(7).toInt();
        return -1;
    }
    int stops() const { return int(backend->calls.count(QStringLiteral("stop"))); }
};

} // namespace

class TestSleepTimer : public QObject {
    Q_OBJECT
private slots:
    void fadesAndStopsEveryPlayingPlayer();
    void cancelGivesTheSoundBack();
    void endsAtATimeOfDayChosen();
};

void TestSleepTimer::fadesAndStopsEveryPlayingPlayer()
{
    ConfigHome home;
    auto clock = std::make_unique<HandClock>();
    HandClock &time = *clock;
    ProgramExtras program(std::move(clock));
    Player playing(program), idle(program), opening(program);
    playing.player->setVolume(80);
    playing.backend->publish(PlaybackState::Playing);
    opening.backend->publish(PlaybackState::Opening);

    // From the context menu of any player.
    const QString item = playerLabel(PlayerLabel::SleepTimer) + u'/' + sleepMinutesLabel(30);
    contextMenu(idle.player, item);
    QVERIFY(program.sleepTimer().isActive());
    QCOMPARE(program.sleepTimer().remainingMs(), 30 * 60000);
    QVERIFY2(playing.toolTip().contains(sleepNote(30 * 60000)), qPrintable(playing.toolTip()));
    QVERIFY(opening.toolTip().contains(sleepNote(30 * 60000)));
    QVERIFY(!idle.toolTip().contains(sleepNote(30 * 60000)));

    time.advance(29 * 60000 + 1000); // 59 s left: the time ticks, the sound is whole
    QVERIFY2(playing.toolTip().contains(sleepNote(59000)), qPrintable(playing.toolTip()));
    QCOMPARE(playing.engineVolume(), 80);
    time.advance(44000); // 15 s left: half way down
    QVERIFY(qAbs(playing.engineVolume() - 40) <= 2);
    QCOMPARE(playing.player->volume(), 80); // the listener's volume control does not move
    time.advance(14000);
    QVERIFY(playing.engineVolume() <= 3);
    QCOMPARE(playing.stops(), 0);

    time.advance(1000);
    QCOMPARE(playing.stops(), 1);
    QCOMPARE(opening.stops(), 1);
    QCOMPARE(idle.stops(), 0); // nothing played there
    QVERIFY(!program.sleepTimer().isActive());
    QCOMPARE(playing.engineVolume(), 80); // the next station plays at the volume set
    QVERIFY(!playing.toolTip().contains(sleepNote(0)));
}

void TestSleepTimer::cancelGivesTheSoundBack()
{
    ConfigHome home;
    auto clock = std::make_unique<HandClock>();
    HandClock &time = *clock;
    ProgramExtras program(std::move(clock));
    Player p(program);
    p.player->setVolume(60);
    p.backend->publish(PlaybackState::Playing);
    program.sleepTimer().start(60000);
    time.advance(45000);
    QVERIFY(p.engineVolume() < 60);
    const QString cancel = playerLabel(PlayerLabel::SleepTimer) + u'/' + playerLabel(PlayerLabel::SleepCancel);
    contextMenu(p.player, cancel);
    QVERIFY(!program.sleepTimer().isActive());
    QCOMPARE(p.engineVolume(), 60);
    QVERIFY(!p.toolTip().contains(sleepNote(15000)));
    time.advance(60000);
    QCOMPARE(p.stops(), 0);
}

void TestSleepTimer::endsAtATimeOfDayChosen()
{
    ConfigHome home;
    ProgramExtras program(std::make_unique<HandClock>());
    Player p(program);
    const QTime at = QTime::currentTime().addSecs(2 * 3600);
    bool chosen = false;
    QTimer watch; // the dialog opens from inside the menu
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, p.player, [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        watch.stop();
        QCOMPARE(dialog->layoutDirection(), Qt::RightToLeft);
        auto *time = dialog->findChild<QTimeEdit *>(QStringLiteral("sleepTime"));
        QVERIFY(time && !time->accessibleName().isEmpty());
        for (QPushButton *b : dialog->findChildren<QPushButton *>()) // Arabic, like the rest
            QVERIFY(b->text() == playerLabel(PlayerLabel::Accept) || b->text() == playerLabel(PlayerLabel::Cancel));
        time->setTime(QTime(at.hour(), at.minute()));
        QCOMPARE(time->text(), QTime(at.hour(), at.minute()).toString(QStringLiteral("HH:mm")));
        if (!qEnvironmentVariableIsEmpty("LUMORA_SCREENSHOTS"))
            dialog->grab().save(qEnvironmentVariable("LUMORA_SCREENSHOTS") + QStringLiteral("/sleep-time.png"));
        chosen = true;
        dialog->accept();
    });
    watch.start();
    const QStringList items =
        contextMenu(p.player, playerLabel(PlayerLabel::SleepTimer) + u'/' + playerLabel(PlayerLabel::SleepAtTime));
    QVERIFY(chosen);
    // The extras follow the player's own items, and recording waits for a station.
    QVERIFY2(items.contains(playerLabel(PlayerLabel::Record) + QStringLiteral(" (disabled)")), qPrintable(items.join(u'|')));
    QVERIFY(items.contains(playerLabel(PlayerLabel::EvenLoudness)));
    if (!qEnvironmentVariableIsEmpty("LUMORA_SCREENSHOTS")) {
        QMenu menu;
        menu.setLayoutDirection(Qt::RightToLeft);
        emit p.player->contextMenuOpening(&menu);
        menu.grab().save(qEnvironmentVariable("LUMORA_SCREENSHOTS") + QStringLiteral("/player-extras-menu.png"));
    }
    // Two hours from now, to the minute.
    QVERIFY2(qAbs(program.sleepTimer().remainingMs() - 2 * 3600000) <= 61000,
             qPrintable(QString::number(program.sleepTimer().remainingMs())));
}

QTEST_MAIN(TestSleepTimer)
#include "tst_sleep_timer.moc"
