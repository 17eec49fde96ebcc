// Where no session bus can be reached (a desktop-less session, a container): the players work
// as ever and nothing is printed but one debug line per player, and that only when asked for.

#include "app/play_station.h"
#include "player/mpris/mpris_presence.h"
#include "player/widget/player_control.h"
#include "tests/support/recording_backend.h"
#include "tests/support/wait.h"

#include <QDBusConnection>
#include <QLoggingCategory>
#include <QSlider>
#include <QTest>

using namespace lumora;
using namespace lumora::test;

namespace {

struct Message {
    QtMsgType type;
    QString category;
    QString text;
};

QList<Message> g_messages;

void record(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    g_messages.append({type, QString::fromLatin1(context.category ? context.category : ""), text});
}

EndpointTable table()
{
    EndpointTable t;
    for (const QString &key : EndpointTable::allKeys())
        t.set(key, key.startsWith(u'E') ? QStringLiteral("127.0.0.1:9") : QStringLiteral("x"));
    return t;
}

struct Recorded : RecordedPlayer {
    explicit Recorded(const QString &page) { new MprisPresence(&player->model(), page, QStringLiteral("title")); }
};

// Two pages play, are controlled as by their buttons and are destroyed.
void playTwoPages()
{
    Recorded egypt("Form2");
    Recorded sudan("Form3");
    playStation(*egypt.player, *findStation(Page::Form2, 1), table());
    playStation(*sudan.player, *findStation(Page::Form3, 1), table());
    // One tries the bus at its first sound; the other, still opening, a second after its
    // click, and it goes on opening all the while.
    QVERIFY(holdsFor([&] { return egypt.player->status().state == PlaybackState::Opening; }, 200));
    egypt.backend->publish(PlaybackState::Playing);
    egypt.player->togglePlay();
    egypt.player->setVolume(20);
    QVERIFY(holdsFor([&] { return sudan.player->status().state == PlaybackState::Opening; },
                     MprisPresence::kAppearAfterMs + 300));
    sudan.player->ownStop();
    QTRY_COMPARE(egypt.backend->calls.mid(egypt.backend->calls.size() - 2), (QStringList{"pause", "volume:20"}));
    QCOMPARE(sudan.backend->calls.last(), QString("stop"));
}

} // namespace

class TestMprisNoBus : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void silentByDefault();
    void oneDebugLineEachWhenAskedFor();
    void cleanupTestCase();
};

void TestMprisNoBus::initTestCase()
{
    qInstallMessageHandler(record);
}

void TestMprisNoBus::silentByDefault()
{
    g_messages.clear();
    playTwoPages();
    QString printed;
    for (const Message &m : g_messages)
        printed += QStringLiteral("[%1] %2\n").arg(m.category, m.text);
    QVERIFY2(g_messages.isEmpty(), qPrintable(printed));
}

void TestMprisNoBus::oneDebugLineEachWhenAskedFor()
{
    QLoggingCategory::setFilterRules(QStringLiteral("lumora.player.mpris.debug=true"));
    g_messages.clear();
    playTwoPages();
    QLoggingCategory::setFilterRules(QString());
    QCOMPARE(g_messages.size(), 2);
    for (const Message &m : g_messages) {
        QCOMPARE(m.type, QtDebugMsg);
        QCOMPARE(m.category, QString("lumora.player.mpris"));
        QVERIFY2(m.text.contains("not on the session bus"), qPrintable(m.text));
    }
    QVERIFY(g_messages[0].text.startsWith("Form2"));
    QVERIFY(g_messages[1].text.startsWith("Form3"));
}

void TestMprisNoBus::cleanupTestCase()
{
    qInstallMessageHandler(nullptr);
    // The premise: there really is no bus here.
    QVERIFY(!QDBusConnection::connectToBus(QDBusConnection::SessionBus, "probe").isConnected());
}

QTEST_MAIN(TestMprisNoBus)
#include "tst_mpris_nobus.moc"
