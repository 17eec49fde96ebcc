// libVLC plays stations of every kind from the simulator and hears each station's own tone.

#include "tests/support/sim_fixture.h"
#include "tests/support/vlc_capture.h"
#include "tests/support/wait.h"

#include <QSignalSpy>

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

using namespace lumora;
using namespace lumora::sim;
using namespace lumora::test;

namespace {

// libVLC finds no playlist behind these answers (WPL is recognised by extension only, an ASX
// only by extension or MIME type, and a page is not a playlist): a player reads the document
// and plays the stream it names, and so does this test.
bool libVlcNeedsTheLink(Answer a)
{
    return a == Answer::Wpl || a == Answer::ScriptAsx || a == Answer::HtmlEmbed
        || a == Answer::HtmlAudio || a == Answer::HtmlObject;
}

QByteArray fetch(const QString &address)
{
    QNetworkAccessManager nam;
    QNetworkReply *reply = nam.get(QNetworkRequest(QUrl(address)));
    QSignalSpy done(reply, &QNetworkReply::finished);
    done.wait(5000);
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

// The stream address a playlist or page names.
QString linkIn(const QByteArray &document)
{
    static const QRegularExpression attr(QStringLiteral("(?:href|src|value)=\"((?:http|mms)://[^\"]+)\""),
                                         QRegularExpression::CaseInsensitiveOption);
    const auto m = attr.match(QString::fromUtf8(document));
    return m.hasMatch() ? m.captured(1) : QString();
}

} // namespace

class TestSimPlayback : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void everyKindPlaysItsTone();
    void libVlcRequestsAreMatchedExactly();
    void faultyStreamsStillCarryTheTone();

private:
    std::unique_ptr<StationSimulator> m_sim;
};

void TestSimPlayback::initTestCase()
{
    m_sim = startLoopbackSimulator();
    QVERIFY(m_sim);
}

void TestSimPlayback::everyKindPlaysItsTone()
{
    struct Case {
        Kind kind;
        Scheme scheme;
    };
    const Case cases[] = {
        {Kind::Asx, Scheme::Http}, {Kind::M3u, Scheme::Http}, {Kind::Pls, Scheme::Http},
        {Kind::Wpl, Scheme::Http}, {Kind::Wvx, Scheme::Http}, {Kind::Mp3, Scheme::Http},
        {Kind::Rm, Scheme::Http}, {Kind::Wm, Scheme::Mms}, {Kind::Wav, Scheme::Mms},
        {Kind::Html, Scheme::Http}, {Kind::Php, Scheme::Http}, {Kind::Asp, Scheme::Http},
        {Kind::Root, Scheme::Http}, {Kind::Root, Scheme::Mms}, {Kind::RootQuery, Scheme::Http},
        {Kind::NoExtension, Scheme::Http}, {Kind::NoExtension, Scheme::Mms},
    };
    VlcInstance vlc;
    QVERIFY(vlc.get());
    struct Running {
        const ServedStation *station;
        std::unique_ptr<VlcCapture> capture;
    };
    std::vector<Running> running;
    for (const Case &c : cases) {
        const ServedStation *s = firstOfKind(*m_sim, c.kind, c.scheme);
        QVERIFY2(s, qPrintable(kindName(c.kind)));
        QString address = s->address;
        if (libVlcNeedsTheLink(s->answer)) {
            address = linkIn(fetch(s->address));
            QVERIFY2(!address.isEmpty(), qPrintable(s->label()));
        }
        running.push_back({s, std::make_unique<VlcCapture>(vlc, address)});
        running.back().capture->play();
    }
    // The mms address that Form6 Command3 carries in its query.
    running.push_back({&m_sim->served().last(), std::make_unique<VlcCapture>(vlc, m_sim->served().last().address)});
    running.back().capture->play();
    QVERIFY(running.back().station->stations.isEmpty());

    waitFor([&] {
        for (const Running &r : running)
            if (r.capture->capturedMs() < 800)
                return false;
        return true;
    }, 15000);
    for (const Running &r : running) {
        const double hz = r.capture->dominantHz();
        qInfo("%-16s %-22s %-18s %4d Hz expected, %6.1f Hz heard, %lld ms audio", qPrintable(kindName(r.station->kind)),
              qPrintable(r.station->label()), qPrintable(answerName(r.station->answer)),
              r.station->toneHz(), hz, r.capture->capturedMs());
    }
    for (Running &r : running)
        r.capture->stop();
    for (const Running &r : running) {
        QVERIFY2(r.capture->capturedMs() >= 800, qPrintable(r.station->label()));
        QCOMPARE(r.capture->dominantHz(), double(r.station->toneHz()));
    }

    // libVLC spoke MMST first (not HTTP: closed at once), then MMSH on the same port:
    // a describe request and a play request from NSPlayer, both answered.
    const ServedStation *wm = firstOfKind(*m_sim, Kind::Wm, Scheme::Mms);
    int mmst = 0, describe = 0, play = 0;
    for (const RequestRecord &r : m_sim->requestLog()) {
        if (r.port != wm->port)
            continue;
        if (r.method == "-")
            ++mmst;
        else if (r.header("User-Agent").startsWith("NSPlayer/") && r.status == 200 && r.target == wm->target)
            ++(r.header("Pragma").contains("xPlayStrm=1") ? play : describe);
    }
    QVERIFY(mmst >= 1);
    QVERIFY(describe >= 1);
    QVERIFY(play >= 1);
}

void TestSimPlayback::libVlcRequestsAreMatchedExactly()
{
    // Arabic letters (percent-encoded by libVLC), "%20" kept, and a query with '&'.
    const Station *stations[] = {findStation(Page::Form12, 1), findStation(Page::Form2, 11),
                                 findStation(Page::Form4, 1), findStation(Page::Form7, 8),
                                 findStation(Page::Form15, 1), findStation(Page::Form4, 12)};
    VlcInstance vlc;
    m_sim->clearRequestLog();
    std::vector<std::unique_ptr<VlcCapture>> captures;
    for (const Station *st : stations) {
        captures.push_back(std::make_unique<VlcCapture>(vlc, m_sim->servedFor(*st)->address));
        captures.back()->play();
    }
    auto answered = [&](const Station *st) {
        const ServedStation *s = m_sim->servedFor(*st);
        for (const RequestRecord &r : m_sim->requestLog())
            if (r.station == s->label() && r.status == 200 && r.target == s->target)
                return true;
        return false;
    };
    for (const Station *st : stations)
        QTRY_VERIFY2_WITH_TIMEOUT(answered(st), qPrintable(m_sim->servedFor(*st)->label()), 5000);
    for (auto &c : captures)
        c->stop();
    for (const RequestRecord &r : m_sim->requestLog())
        QVERIFY2(r.status != 404, r.target);
}

void TestSimPlayback::faultyStreamsStillCarryTheTone()
{
    // The sparse Ogg pages, and the MP3 under Windows-1256 and hostile titles, are real audio
    // of the station's tone: what a player that copes with them must hear.
    m_sim->setSparsePageMs(1000);
    const auto restore = qScopeGuard([this] {
        m_sim->setSparsePageMs(4000);
        m_sim->clearFaults();
    });
    const std::pair<const Station *, Fault> cases[] = {
        {findStation(Page::Form2, 4), Fault::SparseOgg},
        {findStation(Page::Form2, 8), Fault::Cp1256Title},
        {findStation(Page::Form2, 1), Fault::HostileTitle},
    };
    VlcInstance vlc;
    std::vector<std::unique_ptr<VlcCapture>> captures;
    for (const auto &[station, fault] : cases) {
        m_sim->setFault(*station, fault);
        captures.push_back(std::make_unique<VlcCapture>(vlc, m_sim->servedFor(*station)->address));
        captures.back()->play();
    }
    for (const auto &c : captures)
        QTRY_VERIFY_WITH_TIMEOUT(c->capturedMs() >= 1500, 15000);
    for (auto &c : captures)
        c->stop();
    const QList<RequestRecord> log = m_sim->requestLog();
    for (size_t i = 0; i < captures.size(); ++i) {
        const auto &[station, fault] = cases[i];
        const QString label = m_sim->servedFor(*station)->label();
        QVERIFY2(std::any_of(log.begin(), log.end(), [&, fault = fault](const RequestRecord &r) {
                     return r.station == label && r.fault == faultName(fault) && r.status == 200;
                 }),
                 qPrintable(label));
        QCOMPARE(captures[i]->dominantHz(), double(StationSimulator::toneHz(*station)));
    }
}

QTEST_GUILESS_MAIN(TestSimPlayback)
#include "tst_sim_playback.moc"
