// Title notifications as the desktop receives them: a notification service of the test's own
// on the private session bus of dbus-run-session counts every call. Players on the recording
// stand-in engine, their time on a hand-driven clock.

#include "app/player_extras.h"
#include "app/program_extras.h"
#include "player/extras/title_notifier.h"
#include "player/widget/player_texts.h"
#include "tests/support/config_home.h"
#include "tests/support/context_menu.h"
#include "tests/support/hand_clock.h"
#include "tests/support/recording_backend.h"
#include "tests/support/wait.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace lumora;
using namespace lumora::test;

namespace {

struct Notice {
    uint replaces;
    QString summary;
    QString body;
};

// org.freedesktop.Notifications on a connection of its own: records each Notify and answers
// with the id it replaced, or a new one.
class NotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    NotificationService() : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("service"))) {}
    ~NotificationService() override { stop(); QDBusConnection::disconnectFromBus(QStringLiteral("service")); }
    bool start()
    {
        return m_bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this, QDBusConnection::ExportAllSlots)
            && m_bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    void stop()
    {
        m_bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        m_bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    }
    QList<Notice> notices;

public slots:
    uint Notify(const QString &, uint replaces, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &, int)
    {
        notices << Notice{replaces, summary, body};
        return replaces ? replaces : ++m_lastId;
    }
    QStringList GetCapabilities() { return {QStringLiteral("body"), QStringLiteral("body-markup")}; }

private:
    QDBusConnection m_bus;
    uint m_lastId = 0;
};

struct Player : RecordedPlayer {
    Player(ProgramExtras &program, const QString &caption)
    {
        player->setStationCaption(caption);
        extras = program.attach(player);
    }
    void title(const QString &t) { backend->publish(PlaybackState::Playing, 0, t); }
    PlayerExtras *extras;
};

const QString kEgypt = QString::fromUtf8("إذاعة القاهرة");
const QString kSudan = QString::fromUtf8("إذاعة أم درمان");

} // namespace

class TestTitleNotifier : public QObject {
    Q_OBJECT
private slots:
    void offUntilTurnedOnFromTheMenuAndRemembered();
    void onePerPlayerReplacedAtMostEveryTenSeconds();
    void noServiceNoNotification();
    void aDamagedSettingsFileGivesTheDefaults();
};

void TestTitleNotifier::offUntilTurnedOnFromTheMenuAndRemembered()
{
    ConfigHome home;
    NotificationService service;
    QVERIFY(service.start());
    auto clock = std::make_unique<HandClock>();
    HandClock &time = *clock;
    ProgramExtras program(std::move(clock));
    Player p(program, kEgypt);

    p.title(QStringLiteral("First"));
    time.advance(20000);
    QVERIFY(holdsFor([&] { return service.notices.isEmpty(); }, 500)); // off by default

    const QString item = playerLabel(PlayerLabel::NotifyTitles);
    QVERIFY(contextMenu(p.player, item).contains(item));
    QVERIFY(program.settings().notifyTitles);
    p.title(QStringLiteral("Second <b>bold</b> & more"));
    QTRY_COMPARE(service.notices.size(), 1);
    QCOMPARE(service.notices[0].summary, kEgypt);
    QCOMPARE(service.notices[0].body, QStringLiteral("Second &lt;b&gt;bold&lt;/b&gt; &amp; more"));

    // The choice is kept: the next run starts with it.
    ProgramExtras next(std::make_unique<HandClock>());
    QVERIFY(next.settings().notifyTitles);
    QVERIFY(next.settingsError().isEmpty());
    // Turned off again from the keyboard while the player has the focus.
    p.player->show();
    p.player->activateWindow();
    p.player->setFocus();
    QTRY_VERIFY(p.player->hasFocus());
    QTest::keyClick(p.player, Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(!program.settings().notifyTitles);
    time.advance(20000);
    p.title(QStringLiteral("Third"));
    QVERIFY(holdsFor([&] { return service.notices.size() == 1; }, 500));
}

void TestTitleNotifier::onePerPlayerReplacedAtMostEveryTenSeconds()
{
    ConfigHome home;
    NotificationService service;
    QVERIFY(service.start());
    auto clock = std::make_unique<HandClock>();
    HandClock &time = *clock;
    ProgramExtras program(std::move(clock));
    ExtrasSettings on;
    on.notifyTitles = true;
    program.setSettings(on);
    Player egypt(program, kEgypt), sudan(program, kSudan);

    egypt.title(QStringLiteral("A1"));
    sudan.title(QStringLiteral("B1"));
    QTRY_COMPARE(service.notices.size(), 2);
    QCOMPARE(service.notices[0].replaces, 0u);
    QCOMPARE(service.notices[1].replaces, 0u); // each page its own notification

    // Titles that change quickly: none within ten seconds, then the latest one, in place.
    time.advance(3000);
    egypt.title(QStringLiteral("A2"));
    egypt.title(QStringLiteral("A3"));
    egypt.backend->publish(PlaybackState::Buffering); // not a title
    egypt.title(QStringLiteral("A4"));
    time.advance(6900);
    QVERIFY(holdsFor([&] { return service.notices.size() == 2; }, 300));
    time.advance(100);
    QTRY_COMPARE(service.notices.size(), 3);
    QCOMPARE(service.notices[2].body, QStringLiteral("A4"));
    QCOMPARE(service.notices[2].summary, kEgypt);
    QCOMPARE(service.notices[2].replaces, 1u);
    // The same title again is no news.
    time.advance(20000);
    egypt.title(QStringLiteral("A4"));
    QVERIFY(holdsFor([&] { return service.notices.size() == 3; }, 300));
    sudan.title(QStringLiteral("B2"));
    QTRY_COMPARE(service.notices.size(), 4);
    QCOMPARE(service.notices[3].replaces, 2u);
}

void TestTitleNotifier::noServiceNoNotification()
{
    ConfigHome home;
    NotificationService service; // not on the bus
    HandClock time;
    TitleNotifier notifier(time, QDBusConnection::sessionBus());
    notifier.setEnabled(true);
    notifier.setCaption(kEgypt);
    PlayerStatus s;
    s.state = PlaybackState::Playing;
    s.title = QStringLiteral("Nobody hears this");
    notifier.setStatus(s);
    // The bus answers this connection's calls in order: once this answer is in, the title
    // above has met a bus without the service (on a busy machine it could otherwise still
    // be on its way when the service comes up, and be delivered to it).
    QVERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(
        QStringLiteral("org.freedesktop.Notifications")));
    // A service that comes later hears the next title, and only that: what nobody could be
    // told is not told late.
    QVERIFY(service.start());
    time.advance(TitleNotifier::kIntervalMs);
    s.title = QStringLiteral("Now heard");
    notifier.setStatus(s);
    QTRY_COMPARE(service.notices.size(), 1);
    QCOMPARE(service.notices[0].body, s.title);
    QVERIFY(holdsFor([&] { return service.notices.size() == 1; }, 300));
}

void TestTitleNotifier::aDamagedSettingsFileGivesTheDefaults()
{
    ConfigHome home;
    QDir().mkpath(QFileInfo(ExtrasSettings::filePath()).absolutePath());
    QFile file(ExtrasSettings::filePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("{\"notifyTitles\": true, "); // cut short
    file.close();
    ProgramExtras program(std::make_unique<HandClock>());
    QVERIFY2(program.settingsError().contains(ExtrasSettings::filePath()), qPrintable(program.settingsError()));
    QCOMPARE(program.settings(), ExtrasSettings{});
    // The next choice replaces it with a whole file.
    ExtrasSettings on;
    on.evenLoudness = true;
    program.setSettings(on);
    QString error;
    QCOMPARE(ExtrasSettings::load(&error), on);
    QVERIFY(error.isEmpty());
}

QTEST_MAIN(TestTitleNotifier)
#include "tst_title_notifier.moc"
