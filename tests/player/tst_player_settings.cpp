// The player's stored settings: the exact 164 bytes, their decoded values, and damaged
// streams refused with a message that says what is wrong.

#include "player/common/player_settings.h"

#include <QDataStream>
#include <QTest>
#include <cmath>
#include <limits>

using namespace lumora;

namespace {

// The stream written out field by field from the documented layout, independently of the
// table in the player.
struct StreamWriter {
    QByteArray bytes;
    QDataStream out{&bytes, QIODevice::WriteOnly};

    StreamWriter()
    {
        out.setByteOrder(QDataStream::LittleEndian);
        out.setFloatingPointPrecision(QDataStream::DoublePrecision);
    }
    void string(const QString &s)
    {
        const QString withNul = s + QChar(0);
        out << quint16(8) << quint32(withNul.size() * 2);
        for (QChar c : withNul)
            out << quint16(c.unicode());
    }
    void integer(qint32 v) { out << quint16(3) << v; }
    void number(double v) { out << quint16(5) << v; }
    void boolean(bool v) { out << quint16(11) << quint16(v ? 0xFFFF : 0); }
};

QByteArray writeSettings(const QString &uiMode = "full", double rate = 1.0)
{
    StreamWriter w;
    w.out << quint32(0x300);
    w.string("");      // URL
    w.number(rate);    // rate
    w.integer(0);      // balance
    w.number(0.0);     // currentPosition
    w.string("");      // defaultFrame
    w.integer(1);      // playCount
    w.boolean(true);   // autoStart
    w.integer(0);      // currentMarker
    w.boolean(true);   // invokeURLs
    w.string("");      // baseURL
    w.integer(50);     // volume
    w.boolean(false);  // mute
    w.string(uiMode);  // uiMode
    w.boolean(false);  // stretchToFit
    w.boolean(false);  // windowlessVideo
    w.boolean(true);   // enabled
    w.boolean(true);   // enableContextMenu
    w.boolean(false);  // fullScreen
    w.string("");      // SAMIStyle
    w.string("");      // SAMILang
    w.string("");      // SAMIFilename
    w.string("");      // captioningID
    w.boolean(false);  // enableErrorDialogs
    w.out << qint32(12303) << qint32(2566);
    return w.bytes;
}

QByteArray patched(QByteArray b, int offset, const QByteArray &with)
{
    b.replace(offset, with.size(), with);
    return b;
}

} // namespace

class TestPlayerSettings : public QObject {
    Q_OBJECT

private slots:
    void storedFormIsTheDocumentedStream();
    void decodedValues();
    void extentIsThePlayerRectangle();
    void otherValuesDecodeToo();
    void damagedStreamIsRefused_data();
    void damagedStreamIsRefused();
};

void TestPlayerSettings::storedFormIsTheDocumentedStream()
{
    const QByteArrayView stored = PlayerSettings::storedForm();
    QCOMPARE(stored.size(), 164);
    QCOMPARE(stored.toByteArray().toHex(' '), writeSettings().toHex(' '));
}

void TestPlayerSettings::decodedValues()
{
    QString error;
    const std::optional<PlayerSettings> decoded = PlayerSettings::decode(PlayerSettings::storedForm(), &error);
    QVERIFY2(decoded, qPrintable(error));
    const PlayerSettings &s = *decoded;
    QCOMPARE(s.URL, QString());
    QCOMPARE(s.rate, 1.0);
    QCOMPARE(s.balance, 0);
    QCOMPARE(s.currentPosition, 0.0);
    QCOMPARE(s.defaultFrame, QString());
    QCOMPARE(s.playCount, 1);
    QCOMPARE(s.autoStart, true);
    QCOMPARE(s.currentMarker, 0);
    QCOMPARE(s.invokeURLs, true);
    QCOMPARE(s.baseURL, QString());
    QCOMPARE(s.volume, 50);
    QCOMPARE(s.mute, false);
    QCOMPARE(s.uiMode, QString("full"));
    QCOMPARE(s.stretchToFit, false);
    QCOMPARE(s.windowlessVideo, false);
    QCOMPARE(s.enabled, true);
    QCOMPARE(s.enableContextMenu, true);
    QCOMPARE(s.fullScreen, false);
    QCOMPARE(s.SAMIStyle, QString());
    QCOMPARE(s.SAMILang, QString());
    QCOMPARE(s.SAMIFilename, QString());
    QCOMPARE(s.captioningID, QString());
    QCOMPARE(s.enableErrorDialogs, false);
    QCOMPARE(s._cx, 12303);
    QCOMPARE(s._cy, 2566);
    QCOMPARE(PlayerSettings::stored().volume, 50);
}

void TestPlayerSettings::extentIsThePlayerRectangle()
{
    // 6975 x 1455 twips on the page; HIMETRIC is 2540 to the inch, twips 1440.
    const PlayerSettings s = PlayerSettings::stored();
    QCOMPARE(qRound(6975 * 2540.0 / 1440.0), s._cx);
    QCOMPARE(qRound(1455 * 2540.0 / 1440.0), s._cy);
    QCOMPARE(s.pixelSize(), QSize(6975 / 15, 1455 / 15));
}

void TestPlayerSettings::otherValuesDecodeToo()
{
    const std::optional<PlayerSettings> s = PlayerSettings::decode(writeSettings(QString::fromUtf8("مصغّر"), 1.5));
    QVERIFY(s);
    QCOMPARE(s->uiMode, QString::fromUtf8("مصغّر"));
    QCOMPARE(s->rate, 1.5);
    QCOMPARE(s->volume, 50);
}

void TestPlayerSettings::damagedStreamIsRefused_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QString>("complaint");
    const QByteArray good = writeSettings();
    // Offsets: version 0; URL 4; rate 12 (value 14); autoStart 52 (value 54);
    // uiMode 84 (count 86, text 90); stretchToFit 100 (value 102); _cx 156.
    QTest::newRow("empty") << QByteArray() << "no version";
    QTest::newRow("one byte short") << good.left(163) << "before the extent";
    QTest::newRow("cut inside uiMode") << good.left(95) << "uiMode";
    QTest::newRow("a byte too many") << good + '\0' << "1 bytes after the extent";
    QTest::newRow("other version") << patched(good, 0, QByteArray::fromHex("00020000")) << "version 0x200";
    QTest::newRow("rate stored as integer") << patched(good, 12, QByteArray::fromHex("0300")) << "rate at byte 12 has type tag 3";
    QTest::newRow("boolean 1") << patched(good, 54, QByteArray::fromHex("0100")) << "autoStart at byte 52";
    QTest::newRow("odd string count") << patched(good, 86, QByteArray::fromHex("09000000")) << "uiMode at byte 84: bad string length";
    QTest::newRow("huge string count") << patched(good, 86, QByteArray::fromHex("ffffff7f")) << "uiMode at byte 84: bad string length";
    QTest::newRow("string without NUL") << patched(good, 98, QByteArray::fromHex("2100")) << "terminating NUL";
    QTest::newRow("not a number") << patched(good, 14, QByteArray::fromHex("000000000000f87f")) << "rate at byte 12: not a finite number";
    QTest::newRow("no extent") << patched(good, 156, QByteArray::fromHex("00000000")) << "extent 0 x 2566";
    // A setting the player would ignore is refused rather than accepted silently.
    QTest::newRow("stretchToFit true") << patched(good, 102, QByteArray::fromHex("ffff")) << "stretchToFit is true";
}

void TestPlayerSettings::damagedStreamIsRefused()
{
    QFETCH(QByteArray, stream);
    QFETCH(QString, complaint);
    QString error;
    QVERIFY(!PlayerSettings::decode(stream, &error));
    QVERIFY2(error.startsWith("damaged player settings: "), qPrintable(error));
    QVERIFY2(error.contains(complaint), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestPlayerSettings)
#include "tst_player_settings.moc"
