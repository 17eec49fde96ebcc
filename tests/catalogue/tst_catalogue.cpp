// Integrity of the station catalogue: the checks that catch data-entry faults in the tables
// (a lost row, a mistyped key, a trimmed caption) and the composition of addresses.

#include "catalogue/address.h"
#include "catalogue/page_directory.h"
#include "catalogue/station.h"
#include "complete_table.h"

#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTest>

using namespace lumora;

namespace {

const Station &station(Page page, int number)
{
    const Station *s = findStation(page, number);
    if (!s)
        qFatal("no station %s Command%d", qPrintable(pageName(page)), number);
    return *s;
}

QString address(Page page, int number)
{
    return addressOf(station(page, number), test::completeTable()).text;
}

// The kind that a remainder's form names, worked out from the text alone.
Kind kindFromRemainder(const QString &remainder)
{
    const qsizetype q = remainder.indexOf(u'?');
    const QString path = q < 0 ? remainder : remainder.left(q);
    if (path.isEmpty() || path == u"/")
        return q < 0 ? Kind::Root : Kind::RootQuery;
    const QString last = path.section(u'/', -1);
    const qsizetype dot = last.lastIndexOf(u'.');
    if (dot < 0)
        return Kind::NoExtension;
    static const QMap<QString, Kind> byExtension{
        {"asx", Kind::Asx}, {"m3u", Kind::M3u}, {"pls", Kind::Pls}, {"wpl", Kind::Wpl},
        {"wvx", Kind::Wvx}, {"mp3", Kind::Mp3}, {"rm", Kind::Rm},   {"wm", Kind::Wm},
        {"wav", Kind::Wav}, {"html", Kind::Html}, {"htm", Kind::Html}, {"php", Kind::Php},
        {"asp", Kind::Asp},
    };
    return byExtension.value(last.mid(dot + 1), Kind::NoExtension);
}

QByteArray toWindows1256(const QString &text, bool *ok)
{
    QStringEncoder encoder("windows-1256");
    const QByteArray bytes = encoder(text);
    QStringDecoder decoder("windows-1256");
    const QString back = decoder(bytes);
    *ok = encoder.isValid() && !encoder.hasError() && back == text;
    return bytes;
}

} // namespace

class TestCatalogue : public QObject {
    Q_OBJECT

private slots:
    void directoryHoldsSeventeenPagesInOrder()
    {
        const auto entries = PageDirectory::entries();
        int total = 0;
        QSet<int> buttons;
        for (size_t i = 0; i < entries.size(); ++i) {
            const PageEntry &e = entries[i];
            QCOMPARE(pageNumber(e.page), int(i) + 2);
            QCOMPARE(PageDirectory::byPage(e.page), &e);
            QCOMPARE(PageDirectory::byMainButton(e.mainButton), &e);
            QVERIFY(e.title().startsWith(QString::fromUtf8(u8"إذاعات ")));
            const int count = int(stationsOf(e.page).size());
            QVERIFY(count >= 2 && count <= 28);
            buttons.insert(e.mainButton);
            total += count;
        }
        QCOMPARE(total, 158);
        QCOMPARE(total, int(allStations().size())); // the directory's counts are the table's
        QCOMPARE(buttons.size(), 17);
        QVERIFY(!buttons.contains(0) && !buttons.contains(18));
        QCOMPARE(PageDirectory::byPage(Page::Form1), nullptr);
        QCOMPARE(PageDirectory::byMainButton(0), nullptr);
        QCOMPARE(PageDirectory::byMainButton(18), nullptr);
        // The main page's buttons do not follow the page numbers.
        QCOMPARE(PageDirectory::byMainButton(1)->page, Page::Form3);
        QCOMPARE(PageDirectory::byMainButton(2)->page, Page::Form2);
        QCOMPARE(PageDirectory::byMainButton(17)->title(), QString::fromUtf8(u8"إذاعات عربية منوعة"));
        QCOMPARE(stationsOf(Page::Form12).size(), size_t(2));
        QCOMPARE(stationsOf(Page::Form16).size(), size_t(28));
    }

    void pageNamesRoundTrip()
    {
        for (int n = 1; n <= 18; ++n) {
            const Page p = static_cast<Page>(n);
            QCOMPARE(pageFromName(pageName(p)), std::optional<Page>(p));
        }
        for (const char *bad : {"Form0", "Form19", "Form02", "form2", "Form", "Form2x", ""})
            QVERIFY2(!pageFromName(QString::fromLatin1(bad)), bad);
    }

    void stationsAreNumberedWithoutGaps()
    {
        Page previous = Page::Form1;
        int expected = 0;
        for (const Station &s : allStations()) {
            QVERIFY(isStationPage(s.page));
            QVERIFY2(s.page >= previous, "pages out of order");
            expected = (s.page == previous) ? expected + 1 : 1;
            previous = s.page;
            QCOMPARE(s.number, expected);
            QCOMPARE(findStation(s.page, s.number), &s);
        }
        QCOMPARE(findStation(Page::Form2, 0), nullptr);
        QCOMPARE(findStation(Page::Form2, 19), nullptr);
        QVERIFY(stationsOf(Page::Form1).empty());
    }

    void captionsAreUniqueAndWithinLimits()
    {
        QSet<QString> seen;
        int arabicOnly = 0, latinOnly = 0, mixed = 0;
        static const QRegularExpression arabic(QStringLiteral("[\\x{0600}-\\x{06FF}]"));
        static const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
        for (const Station &s : allStations()) {
            const QString c = s.caption();
            QVERIFY2(!seen.contains(c), qPrintable(c));
            seen.insert(c);
            QVERIFY2(c.size() >= 7 && c.size() <= 34, qPrintable(c));
            const bool a = c.contains(arabic), l = c.contains(latin);
            (a && l ? mixed : a ? arabicOnly : latinOnly)++;
        }
        QCOMPARE(arabicOnly, 121);
        QCOMPARE(latinOnly, 28);
        QCOMPARE(mixed, 9);
    }

    void textIsOneByteACharacterInWindows1256()
    {
        for (const Station &s : allStations()) {
            bool ok = false;
            const QByteArray bytes = toWindows1256(s.caption(), &ok);
            QVERIFY2(ok, qPrintable(s.caption()));
            QCOMPARE(bytes.size(), s.caption().size());
            QVERIFY(bytes.size() >= 7 && bytes.size() <= 34);
        }
        for (const PageEntry &e : PageDirectory::entries()) {
            bool ok = false;
            const QByteArray bytes = toWindows1256(e.title(), &ok);
            QVERIFY2(ok, qPrintable(e.title()));
            QCOMPARE(bytes.size(), e.title().size());
            QVERIFY2(bytes.size() >= 12 && bytes.size() <= 18, qPrintable(e.title()));
        }
    }

    void captionsKeepTheirOddities()
    {
        QCOMPARE(station(Page::Form16, 8).caption(), QString::fromUtf8(u8" حياة أف أم "));
        QCOMPARE(station(Page::Form16, 10).caption(), QString::fromUtf8(u8" صوت النجاح"));
        QCOMPARE(station(Page::Form10, 6).caption(), QString::fromUtf8(u8"رااديو Mosaique"));
        QCOMPARE(station(Page::Form16, 28).caption(), QString::fromUtf8(u8"راديوالشمال"));
        QCOMPARE(station(Page::Form6, 2).caption(), QString::fromUtf8(u8"FM الليبية إف إم ليبيا"));
        // One broadcaster, two stations.
        QVERIFY(station(Page::Form4, 3).caption() != station(Page::Form4, 8).caption());
        QVERIFY(address(Page::Form4, 3) != address(Page::Form4, 8));
    }

    void endpointKeysAreNumberedInOrderOfFirstUse()
    {
        int next = 1;
        for (const Station &s : allStations()) {
            QStringList used{s.endpointKey()};
            for (const QString &piece : s.pieceKeys())
                if (EndpointTable::keyType(piece) == EndpointTable::KeyType::Endpoint)
                    used.append(piece);
            for (const QString &key : used) {
                const int n = key.mid(1).toInt();
                QVERIFY2(n <= next, qPrintable(QStringLiteral("%1 %2 uses %3 before E%4")
                                                   .arg(pageName(s.page), s.buttonName(), key)
                                                   .arg(next, 2, 10, QLatin1Char('0'))));
                if (n == next)
                    ++next;
            }
        }
        QCOMPARE(next, 66);
    }

    void sharedEndpointsServeTheirStations()
    {
        QMap<int, int> uses;
        for (const Station &s : allStations())
            uses[s.endpoint]++;
        QCOMPARE(uses.value(3), 72);
        QCOMPARE(uses.value(20), 7);
        for (int k : {10, 14, 16, 36, 39, 42})
            QCOMPARE(uses.value(k), 3);
        for (int k : {26, 33, 40, 47, 60})
            QCOMPARE(uses.value(k), 2);
        QVERIFY(!uses.contains(32)); // only inside a query
        int single = 0;
        for (int k = 1; k <= 65; ++k)
            single += uses.value(k) == 1;
        QCOMPARE(single, 65 - 13 - 1); // 13 shared keys, and E32
        QCOMPARE(72 + 7 + 6 * 3 + 5 * 2 + single, 158);
    }

    void portsAreWhereTheCatalogueSays()
    {
        QMap<int, bool> port;
        int stationsWithPort = 0;
        for (const Station &s : allStations()) {
            if (port.contains(s.endpoint))
                QCOMPARE(port[s.endpoint], s.explicitPort); // one answer per key
            port[s.endpoint] = s.explicitPort;
            stationsWithPort += s.explicitPort;
        }
        QList<int> keys;
        for (auto it = port.cbegin(); it != port.cend(); ++it)
            if (it.value())
                keys.append(it.key());
        QCOMPARE(keys, (QList<int>{7, 13, 18, 19, 22, 24, 25, 26, 28, 29, 37, 38, 46, 49, 52, 53, 55, 63}));
        QCOMPARE(stationsWithPort, 19);
    }

    void kindsMatchTheFormOfTheRemainder()
    {
        QMap<Kind, int> count;
        int mms = 0;
        for (const Station &s : allStations()) {
            QCOMPARE(kindName(kindFromRemainder(s.remainderTemplate())), kindName(s.kind));
            count[s.kind]++;
            mms += s.scheme == Scheme::Mms;
        }
        QCOMPARE(mms, 10);
        const QMap<Kind, int> expected{
            {Kind::Asx, 104}, {Kind::M3u, 2}, {Kind::Pls, 1}, {Kind::Wpl, 1}, {Kind::Wvx, 1},
            {Kind::Mp3, 4}, {Kind::Rm, 1}, {Kind::Wm, 1}, {Kind::Wav, 1}, {Kind::Html, 3},
            {Kind::Php, 3}, {Kind::Asp, 1}, {Kind::Root, 14}, {Kind::RootQuery, 5},
            {Kind::NoExtension, 16},
        };
        QCOMPARE(count, expected);
        int emptyRemainder = 0, slashOnly = 0, rootWithPort = 0;
        for (const Station &s : allStations()) {
            if (s.kind != Kind::Root)
                continue;
            emptyRemainder += s.remainderTemplate().isEmpty();
            slashOnly += s.remainderTemplate() == u"/";
            rootWithPort += s.explicitPort;
        }
        QCOMPARE(emptyRemainder, 7);
        QCOMPARE(slashOnly, 7);
        QCOMPARE(rootWithPort, 13);
    }

    void remaindersOnTheSharedServerShareOneShape()
    {
        static const QRegularExpression shape(QStringLiteral(
            "^/Video/(Arabic-Radio|Arabic|Radio-francais)/((02|03)/)?[^/]+(/[^/]+)?/[^/]+$"));
        QMap<QString, int> sections;
        int videoAsx = 0;
        for (const Station &s : allStations()) {
            if (s.endpoint != 3)
                continue;
            const auto m = shape.match(s.remainderTemplate());
            QVERIFY2(m.hasMatch(), qPrintable(s.remainderTemplate()));
            sections[m.captured(1)]++;
            videoAsx += s.remainderTemplate().endsWith(u"/video.asx");
        }
        QCOMPARE(sections.value("Arabic-Radio"), 59);
        QCOMPARE(sections.value("Arabic"), 11);
        QCOMPARE(sections.value("Radio-francais"), 2);
        QCOMPARE(videoAsx, 69);
    }

    void remaindersStayWithinLength()
    {
        for (const Station &s : allStations()) {
            QString literal = s.remainderTemplate();
            literal.remove(QRegularExpression(QStringLiteral("\\{[^}]*\\}")));
            QVERIFY2(literal.size() <= 97, qPrintable(literal));
            for (const QString &key : s.pieceKeys())
                QVERIFY2(EndpointTable::isKnownKey(key), qPrintable(key));
        }
    }

    void everyConfiguredPieceBelongsToItsStation()
    {
        // Piece keys name the station whose address holds them; each is used exactly once.
        QMap<QString, int> uses;
        for (const Station &s : allStations())
            for (const QString &key : s.pieceKeys()) {
                uses[key]++;
                if (EndpointTable::keyType(key) != EndpointTable::KeyType::Endpoint)
                    QVERIFY2(key.startsWith(pageName(s.page) + u'.' + s.buttonName() + u'.'),
                             qPrintable(key));
            }
        QCOMPARE(uses.size(), 12); // 11 pieces and E32
        for (auto it = uses.cbegin(); it != uses.cend(); ++it)
            QCOMPARE(it.value(), 1);
        QCOMPARE(EndpointTable::allKeys().size(), 76);
    }

    void addressesAreComposedExactly()
    {
        QCOMPARE(address(Page::Form2, 1), QStringLiteral("http://e01.example.net/16790"));
        QCOMPARE(address(Page::Form2, 11),
                 QString::fromUtf8(u8"http://e10.example.net/game/game/701/إذاعة_راديو_إسماعيلية_مول.html"));
        QCOMPARE(address(Page::Form12, 1),
                 QString::fromUtf8(u8"http://e10.example.net/game/game/536/راديو_البحرين_fm_93.html"));
        QCOMPARE(address(Page::Form12, 2),
                 QStringLiteral("http://e42.example.net/player/Radio Bahrain 96.5 FM/390"));
        QCOMPARE(address(Page::Form17, 4),
                 QStringLiteral("http://e42.example.net/player/Al Khaleejiya 100.9 FM/5421"));
        QCOMPARE(address(Page::Form17, 6),
                 QStringLiteral("http://e42.example.net/player/Dubai Eye 103.8 FM/42"));
        QCOMPARE(address(Page::Form4, 1),
                 QStringLiteral("http://e03.example.net/Video/Arabic-Radio/CAP-%20Radio/video.asx"));
        QCOMPARE(address(Page::Form4, 9),
                 QStringLiteral("http://e03.example.net/Video/Arabic-Radio/02/Radio%202M%20maroc/video.asx"));
        QCOMPARE(address(Page::Form7, 8),
                 QStringLiteral("http://e03.example.net/Video/Arabic-Radio/Radio-Fm-Jordan%20-2/video.asx"));
        // Empty remainders end with the port, "/" remainders with "/".
        QCOMPARE(address(Page::Form2, 8), QStringLiteral("http://e07.example.net:8007"));
        QCOMPARE(address(Page::Form2, 18), QStringLiteral("http://e13.example.net:8013"));
        QCOMPARE(address(Page::Form9, 7), QStringLiteral("mms://e38.example.net:8038"));
        QCOMPARE(address(Page::Form16, 2), QStringLiteral("http://e49.example.net:8049"));
        QCOMPARE(address(Page::Form14, 6), QStringLiteral("http://e46.example.net:8046/"));
        QCOMPARE(address(Page::Form16, 16), QStringLiteral("http://e55.example.net:8055/"));
    }

    void configuredPiecesGoInTheirPlaces()
    {
        QCOMPARE(address(Page::Form2, 5),
                 QStringLiteral("mms://e05.example.net/live_partyacct_stream_provider_net_party-encoder"));
        QCOMPARE(address(Page::Form2, 10), QStringLiteral("http://e09.example.net/NogoumFm.com_Fmnew.asx"));
        QCOMPARE(address(Page::Form4, 12),
                 QStringLiteral("http://e21.example.net/radio-station/stream/1000041907/default.wpl?"
                                "0123456789abcdef0123456789abcdef"));
        QCOMPARE(address(Page::Form6, 3),
                 QStringLiteral("http://e31.example.net/players/playasx.php?url=mms://e32.example.net/live"));
        QCOMPARE(address(Page::Form11, 1),
                 QStringLiteral("http://e39.example.net/?id=01234567-89ab-cdef-0123-456789abcdef"));
        QCOMPARE(address(Page::Form16, 4),
                 QStringLiteral("http://e50.example.net/cgi-bin/plist.asx?user=buraq&type=asx&ext=file.asx"));
        QCOMPARE(address(Page::Form16, 5), QStringLiteral("http://e51.example.net/baladjenin.asx"));
        QCOMPARE(address(Page::Form16, 19),
                 QStringLiteral("http://e20.example.net/asx/fedcba9876543210fedcba9876543210-radio-soleil.asx"));
        QCOMPARE(address(Page::Form16, 21),
                 QStringLiteral("http://e57.example.net/copyright-almanar-net-jazeera-en.asx"));
        QCOMPARE(address(Page::Form17, 9),
                 QStringLiteral("http://e39.example.net/?id=11111111-2222-3333-4444-555555555555"));
        QCOMPARE(address(Page::Form17, 14),
                 QStringLiteral("http://e39.example.net/?id=aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee"));
    }

    void exactlyTwoPairsShareAnAddress()
    {
        const EndpointTable table = test::completeTable();
        QMap<QString, QStringList> byAddress;
        for (const Station &s : allStations()) {
            const StationAddress a = addressOf(s, table);
            QVERIFY(a.ok());
            byAddress[a.text].append(pageName(s.page) + u' ' + s.buttonName());
        }
        QList<QStringList> shared;
        for (const QStringList &v : byAddress)
            if (v.size() > 1)
                shared.append(v);
        std::sort(shared.begin(), shared.end());
        QCOMPARE(shared, (QList<QStringList>{{"Form4 Command16", "Form10 Command1"},
                                             {"Form5 Command5", "Form5 Command10"}}));
    }

    void missingKeysGiveNoHalfAddress()
    {
        const EndpointTable empty;
        const StationAddress party = addressOf(station(Page::Form2, 5), empty);
        QVERIFY(!party.ok());
        QVERIFY(party.text.isEmpty());
        QCOMPARE(party.missing,
                 (QStringList{"E05", "Form2.Command5.account", "Form2.Command5.domain"}));

        EndpointTable noE32 = test::completeTable();
        EndpointTable withoutE32;
        for (const QString &key : EndpointTable::allKeys())
            if (key != u"E32")
                withoutE32.set(key, *noE32.value(key));
        const StationAddress script = addressOf(station(Page::Form6, 3), withoutE32);
        QCOMPARE(script.missing, QStringList{"E32"});
        QVERIFY(script.text.isEmpty());
        // Stations that do not use E32 are unaffected.
        QVERIFY(addressOf(station(Page::Form6, 1), withoutE32).ok());
    }

    // One reading of a template serves both the keys a station needs and its address; a
    // brace left open is text, not a key that never ends.
    void templatesAreReadOneWay()
    {
        auto parts = [](const QString &t) {
            QStringList out;
            for (const RemainderPart &p : remainderParts(t))
                out << (p.isKey ? u'[' + p.text + u']' : p.text);
            return out;
        };
        QCOMPARE(parts("/?id={A}&x={B}"), (QStringList{"/?id=", "[A]", "&x=", "[B]"}));
        QCOMPARE(parts("{A}{B}"), (QStringList{"[A]", "[B]"}));
        QCOMPARE(parts("/live{x"), QStringList{"/live{x"});
        QCOMPARE(parts("/a}b{c"), QStringList{"/a}b{c"});
        QCOMPARE(parts(""), QStringList());
        for (const Station &s : allStations()) {
            QString rebuilt;
            for (const RemainderPart &p : remainderParts(s.remainderTemplate()))
                rebuilt += p.isKey ? u'{' + p.text + u'}' : p.text;
            QCOMPARE(rebuilt, s.remainderTemplate());
        }
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
