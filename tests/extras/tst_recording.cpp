// Recording a live station with real libVLC, its audio captured: a loopback ICY server sends a
// tone stream whose titles change, and what the files hold is compared with what was sent.

#include "app/player_extras.h"
#include "app/program_extras.h"
#include "player/engine/vlc_backend.h"
#include "player/extras/safe_file_name.h"
#include "player/extras/stream_recorder.h"
#include "player/widget/player_control.h"
#include "player/widget/player_texts.h"
#include "tests/player/tone.h"
#include "tests/support/audio_capture.h"
#include "tests/support/config_home.h"
#include "tests/support/loopback_server.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/wait.h"

#include <QDir>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace lumora;
using namespace lumora::test;

namespace {

const QString kCaption = QString::fromUtf8("إذاعة الاختبار");

// A page's player on real libVLC with its audio captured and its extras attached.
struct RecordedStation {
    explicit RecordedStation(ProgramExtras &program)
    {
        auto backend = std::make_unique<VlcBackend>();
        tap = std::make_unique<AudioCapture>(*backend);
        player = std::make_unique<PlayerControl>(PlayerSettings::stored(), std::move(backend));
        player->setStationCaption(kCaption);
        extras = program.attach(player.get());
    }
    ~RecordedStation() { player.reset(); }
    QString toolTip() const { return player->findChild<QLabel *>(QStringLiteral("statusLine"))->toolTip(); }

    std::unique_ptr<AudioCapture> tap;
    std::unique_ptr<PlayerControl> player;
    PlayerExtras *extras = nullptr;
};

// Where data sits in the endless repetition of body: the one offset (mod body's size) at
// which all of data follows body; -1 when there is none or more than one.
qint64 offsetInCycle(const QByteArray &body, const QByteArray &data)
{
    qint64 found = -1;
    for (qint64 o = 0; o < body.size(); ++o) {
        bool same = true;
        for (qint64 i = 0; i < data.size() && same; ++i)
            same = data[i] == body[(o + i) % body.size()];
        if (same) {
            if (found >= 0)
                return -1;
            found = o;
        }
    }
    return found;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList filesIn(const QString &folder)
{
    QDir dir(folder);
    QStringList out;
    for (const QString &name : dir.entryList(QDir::Files, QDir::Time | QDir::Reversed))
        out << dir.filePath(name);
    return out;
}

bool hasDirectionOrControl(const QString &s)
{
    for (QChar c : s)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return true;
    return false;
}

} // namespace

class TestRecording : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void recordsTheStreamsBytesWithoutTitles();
    void oneFilePerTitle();
    void hostileTitlesGiveSafeNames();
    void aFullDiskStopsTheRecordingNotThePlayback();
    void mmsJoinedMidwayIsWholeAsf();

private:
    // Plays the live route and starts recording into a folder of its own.
    void playAndRecord(RecordedStation &s, ProgramExtras &program, const QString &folder, bool perTitle);

    LoopbackServer m_server;
    QByteArray m_tone;
};

void TestRecording::initTestCase()
{
    // A tone whose period fits no whole number of frames, so that any stretch of it is found
    // at one place of the repetition only.
    m_tone = toneMp3(437.3, 3);
    QVERIFY2(!m_tone.isEmpty(), "lame is needed to make test tones");
    Route live;
    live.head = "ICY 200 OK\r\nicy-name: Test FM\r\n";
    live.contentType = "audio/mpeg";
    live.body = m_tone;
    live.endless = true;
    live.icyMetaInt = int(m_tone.size()); // one metadata block after each repetition
    for (int n = 0; n < 100; ++n)
        live.icyTitles << "Title " + QByteArray::number(n);
    m_server.route("/live", live);
    Route hostile = live;
    hostile.icyTitles = {QByteArray("../../x\x01\x1b[2J") + QString::fromUtf8("\u202e\u2066.نشيد <b>").toUtf8()
                         + QByteArray(3000, 'y')};
    m_server.route("/hostile", hostile);
}

void TestRecording::playAndRecord(RecordedStation &s, ProgramExtras &program, const QString &folder, bool perTitle)
{
    ExtrasSettings settings = program.settings();
    settings.recordFolder = folder;
    settings.recordPerTitle = perTitle;
    program.setSettings(settings);
    QVERIFY(!s.extras->recorder().canRecord());
    s.player->setURL(m_server.url(QStringLiteral("/live")));
    QTRY_COMPARE_WITH_TIMEOUT(s.player->status().state, PlaybackState::Playing, 15000);
    s.extras->toggleRecording();
    QVERIFY2(s.extras->recorder().isRecording(), qPrintable(s.extras->recorder().lastError()));
}

void TestRecording::recordsTheStreamsBytesWithoutTitles()
{
    ConfigHome home;
    QTemporaryDir folder;
    ProgramExtras program;
    RecordedStation s(program);
    playAndRecord(s, program, folder.path() + QStringLiteral("/new/folder"), false);
    QTRY_VERIFY_WITH_TIMEOUT(s.extras->recorder().bytesWritten() > 2 * m_tone.size(), 20000);
    // The time and the size show while it records.
    QTRY_VERIFY2(s.toolTip().contains(QString::fromUtf8("التسجيل: ")), qPrintable(s.toolTip()));
    const QString path = s.extras->recorder().filePath();
    QVERIFY2(QFileInfo(path).fileName().startsWith(kCaption + QStringLiteral(" - Title ")), qPrintable(path));
    QVERIFY(path.endsWith(QStringLiteral(".mp3")));

    // Stopping the station closes the file, complete: every byte the server sent from the
    // first one recorded, the metadata blocks taken out.
    s.player->ownStop();
    QVERIFY(!s.extras->recorder().isRecording());
    const QByteArray bytes = readFile(path);
    QCOMPARE(bytes.size(), s.extras->recorder().bytesWritten());
    QVERIFY(bytes.size() > 2 * m_tone.size());
    QVERIFY(offsetInCycle(m_tone, bytes) >= 0);
    QVERIFY(!bytes.contains("StreamTitle"));
    QTRY_VERIFY(!s.toolTip().contains(QString::fromUtf8("التسجيل: ")));
}

void TestRecording::oneFilePerTitle()
{
    ConfigHome home;
    QTemporaryDir folder;
    ProgramExtras program;
    RecordedStation s(program);
    playAndRecord(s, program, folder.path(), true);
    QTRY_VERIFY_WITH_TIMEOUT(filesIn(folder.path()).size() >= 4, 30000);
    s.player.reset(); // the page goes: the file under way is closed with all it was given
    const QStringList files = filesIn(folder.path());

    // The files follow one another: together they are the stream, nothing lost between them.
    QByteArray all;
    QList<qint64> starts;
    for (const QString &f : files) {
        starts << all.size();
        all += readFile(f);
    }
    const qint64 origin = offsetInCycle(m_tone, all);
    QVERIFY(origin >= 0);
    // Each title begins where a repetition begins; every file after the first starts within
    // a second of audio (128 kbit/s: 16000 bytes) of its title's start.
    for (int i = 1; i < files.size(); ++i) {
        const qint64 at = (origin + starts[i]) % m_tone.size();
        const qint64 off = qMin(at, m_tone.size() - at);
        QVERIFY2(off <= 16000, qPrintable(QStringLiteral("%1 starts %2 bytes off its title").arg(files[i]).arg(off)));
    }
    // Named by their titles, one after another.
    for (int i = 2; i < files.size(); ++i) {
        const int a = QFileInfo(files[i - 1]).fileName().section(u' ', 4, 4).toInt();
        const int b = QFileInfo(files[i]).fileName().section(u' ', 4, 4).toInt();
        QVERIFY2(b == a + 1, qPrintable(files.join(u'\n')));
    }
}

void TestRecording::hostileTitlesGiveSafeNames()
{
    const QString hostile = QStringLiteral("../../x") + QChar(0x1) + QChar(0x202e) + QChar(0x2066) + QChar(0x200f)
        + QString::fromUtf8("نشيد\tالصباح") + QString(10000, u'y');
    const QString name = safeFileName(hostile, 180);
    QVERIFY(!name.contains(u'/') && !name.contains(u'\\'));
    QVERIFY(!name.startsWith(u'.'));
    QVERIFY(!hasDirectionOrControl(name));
    QVERIFY2(name.contains(QString::fromUtf8("نشيد الصباح")), qPrintable(name));
    QVERIFY(name.toUtf8().size() <= 180);
    QVERIFY(name.toUtf8().size() > 170); // cut at the bound, not far before it
    QCOMPARE(safeFileName(QStringLiteral(" ... "), 180), QStringLiteral("Lumora"));
    QCOMPARE(safeFileName(QString::fromUtf8("ااا"), 5), QString::fromUtf8("اا")); // whole letters

    // Through a station that sends such a title: the file lands in the folder chosen.
    ConfigHome home;
    QTemporaryDir folder;
    ProgramExtras program;
    RecordedStation s(program);
    ExtrasSettings settings;
    settings.recordFolder = folder.path() + QStringLiteral("/in");
    program.setSettings(settings);
    s.player->setURL(m_server.url(QStringLiteral("/hostile")));
    QTRY_COMPARE_WITH_TIMEOUT(s.player->status().state, PlaybackState::Playing, 15000);
    QTRY_VERIFY(!s.player->status().title.isEmpty());
    s.extras->toggleRecording();
    QTRY_VERIFY_WITH_TIMEOUT(s.extras->recorder().bytesWritten() > 0, 10000);
    const QFileInfo file(s.extras->recorder().filePath());
    QCOMPARE(file.absolutePath(), QDir(settings.recordFolder).absolutePath());
    QVERIFY(!hasDirectionOrControl(file.fileName()));
    QVERIFY(file.fileName().toUtf8().size() < 255);
    QVERIFY(!file.fileName().startsWith(u'.'));
    // Never over a file that exists: a second recording of the same second gets a name of its own.
    s.extras->recorder().stop();
    s.extras->toggleRecording();
    QTRY_VERIFY_WITH_TIMEOUT(s.extras->recorder().bytesWritten() > 0, 10000);
    QVERIFY(s.extras->recorder().filePath() != file.filePath());
    QVERIFY(readFile(file.filePath()).size() > 0);
}

void TestRecording::aFullDiskStopsTheRecordingNotThePlayback()
{
    ConfigHome home;
    QTemporaryDir folder;
    ProgramExtras program;
    RecordedStation s(program);
    QSignalSpy failed(&s.extras->recorder(), &StreamRecorder::failed);

    // The files of this process may hold 100 kB: a write past that fails (EFBIG) as on a
    // full disk, instead of the signal that would end the process.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 100 * 1024;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    auto restore = qScopeGuard([&] { setrlimit(RLIMIT_FSIZE, &old); });

    playAndRecord(s, program, folder.path(), false);
    QVERIFY(failed.wait(30000));
    restore.dismiss();
    setrlimit(RLIMIT_FSIZE, &old);
    QVERIFY(!s.extras->recorder().isRecording());
    QVERIFY2(s.toolTip().contains(recordingFailedNote(QString())), qPrintable(s.toolTip()));
    QCOMPARE(filesIn(folder.path()).size(), 1);
    const QByteArray bytes = readFile(filesIn(folder.path()).value(0));
    QVERIFY(bytes.size() <= 100 * 1024);
    QVERIFY(offsetInCycle(m_tone, bytes) >= 0); // what was written is whole
    // The station plays on.
    const qsizetype heard = s.tap->samples().size();
    QTRY_VERIFY_WITH_TIMEOUT(s.tap->samples().size() > heard + AudioCapture::kRate, 10000);
    QCOMPARE(s.player->status().state, PlaybackState::Playing);
}

// Decodes a file with ffmpeg into mono 16-bit samples at 22.05 kHz; empty when it cannot.
QByteArray decoded(const QString &path)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-v", "error", "-i", path, "-f", "s16le", "-ac", "1", "-ar", "22050", "-"});
    if (!ffmpeg.waitForFinished(30000) || ffmpeg.exitCode() != 0)
        return {};
    return ffmpeg.readAllStandardOutput();
}

void TestRecording::mmsJoinedMidwayIsWholeAsf()
{
    const auto sim = startLoopbackSimulator();
    QVERIFY(sim);
    const sim::ServedStation *mms = nullptr;
    for (const sim::ServedStation &st : sim->served())
        if (st.scheme == Scheme::Mms && !st.stations.isEmpty() && !mms)
            mms = &st;
    QVERIFY(mms);
    ConfigHome home;
    QTemporaryDir folder;
    ProgramExtras program;
    RecordedStation s(program);
    ExtrasSettings settings;
    settings.recordFolder = folder.path();
    program.setSettings(settings);
    s.player->setURL(mms->address);
    QTRY_COMPARE_WITH_TIMEOUT(s.player->status().state, PlaybackState::Playing, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(s.tap->totalSeconds() > 2, 10000); // well into the stream
    s.extras->toggleRecording();
    QTRY_VERIFY_WITH_TIMEOUT(s.extras->recorder().bytesWritten() > 16000, 20000);
    const QString path = s.extras->recorder().filePath();
    s.extras->recorder().stop();
    QVERIFY2(path.endsWith(QStringLiteral(".asf")), qPrintable(path));
    // It begins with the stream's header, and plays by itself: more than a second of audio.
    QVERIFY(readFile(path).startsWith(QByteArray::fromHex("3026B2758E66CF11A6D900AA0062CE6C")));
    const QByteArray pcm = decoded(path);
    QVERIFY2(pcm.size() > 2 * 22050, qPrintable(QStringLiteral("%1 bytes decoded").arg(pcm.size())));
}

QTEST_MAIN(TestRecording)
#include "tst_recording.moc"
