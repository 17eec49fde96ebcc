// The two Debian packages as a user receives them: lumora (the program and lumora-catalogue)
// and lumora-station-sim (the loopback simulator). One CPack run makes both from this build
// tree; the test unpacks each into a scratch root of its own with dpkg -x (nothing is installed
// on the machine), checks its control data and its files, and runs what it holds from there:
// lumora on an Xvfb of the test's own, the companion tools, and the validators of the desktop
// entry, the AppStream metainfo and the manual pages. Then it installs and removes both with
// dpkg in a scratch root with a package database of its own.

#include "tests/support/wait.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

using lumora::test::waitFor;

namespace {

constexpr int kThemeSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
constexpr auto kAppId = "org.lumora.Lumora";

// What each package holds: its programs and their manual pages.
struct PackageContents {
    QString name;
    QString synopsis;
    QStringList programs;
};
const PackageContents kPackages[] = {
    {QStringLiteral("lumora"), QStringLiteral("catalogue and player of Arabic internet radio"),
     {QStringLiteral("lumora"), QStringLiteral("lumora-catalogue")}},
    {QStringLiteral("lumora-station-sim"),
     QStringLiteral("loopback stand-in for the stations of Lumora"),
     {QStringLiteral("lumora-station-sim")}},
};
// lumora takes no command line: its page has no options to compare with a --help.
const QString kNoCommandLine = QStringLiteral("lumora");

const PackageContents &contentsOf(const QString &name)
{
    for (const PackageContents &p : kPackages)
        if (p.name == name)
            return p;
    qFatal("no package %s", qPrintable(name));
}

struct Run {
    bool finished = false;
    int code = -1;
    QByteArray out;
    QByteArray err;

    bool ok() const { return finished && code == 0; }
    QString report() const
    {
        return QStringLiteral("exit %1%2; stdout: %3; stderr: %4")
            .arg(code)
            .arg(finished ? QString() : QStringLiteral(" (timed out)"))
            .arg(QString::fromUtf8(out.right(3000)), QString::fromUtf8(err.right(3000)));
    }
};

Run run(const QString &program, const QStringList &args, int timeoutMs = 60000,
        const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    Run r;
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForStarted(10000)) {
        r.err = (program + QStringLiteral(": ") + p.errorString()).toUtf8();
        return r;
    }
    p.closeWriteChannel();
    r.finished = p.waitForFinished(timeoutMs);
    if (!r.finished) {
        p.kill();
        p.waitForFinished(5000);
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// "Key: value" lines of a control file; continuation lines (starting with a space) are joined.
QMap<QString, QString> controlFields(const QString &text)
{
    QMap<QString, QString> fields;
    QString key;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char(' ')) && !key.isEmpty()) {
            fields[key] += QLatin1Char('\n') + line.mid(1);
        } else if (const qsizetype colon = line.indexOf(QLatin1Char(':')); colon > 0) {
            key = line.left(colon);
            fields[key] = line.mid(colon + 1).trimmed();
        }
    }
    return fields;
}

struct Alternative {
    QString name;
    QString relation; // empty, or "<<", "<=", "=", ">=", ">>"
    QString version;
};
using DependsGroup = QList<Alternative>;

QList<DependsGroup> parseDepends(const QString &field, QString *error)
{
    static const QRegularExpression one(QStringLiteral(
        R"(^([a-z0-9][a-z0-9+.-]+)(?::[a-z0-9]+)?\s*(?:\(\s*(<<|<=|=|>=|>>)\s*([^)\s]+)\s*\))?$)"));
    QList<DependsGroup> groups;
    for (const QString &group : field.split(QLatin1Char(','))) {
        DependsGroup alternatives;
        for (const QString &alt : group.split(QLatin1Char('|'))) {
            const QRegularExpressionMatch m = one.match(alt.trimmed());
            if (!m.hasMatch()) {
                *error = QStringLiteral("cannot read \"%1\" in Depends").arg(alt.trimmed());
                return {};
            }
            alternatives.append({m.captured(1), m.captured(2), m.captured(3)});
        }
        groups.append(alternatives);
    }
    return groups;
}

QSet<QString> dependedOn(const QList<DependsGroup> &groups)
{
    QSet<QString> names;
    for (const DependsGroup &g : groups)
        for (const Alternative &a : g)
            names.insert(a.name);
    return names;
}

// The Debian package that holds a library path; with merged /usr the database may list the
// file under /usr/lib or /lib.
QString owningPackage(const QString &path)
{
    QStringList candidates = {path};
    if (path.startsWith(QLatin1StringView("/usr/")))
        candidates << path.mid(4);
    else
        candidates << QStringLiteral("/usr") + path;
    for (const QString &candidate : candidates) {
        const Run r = run(QStringLiteral("dpkg-query"), {"-S", candidate});
        if (!r.ok())
            continue;
        // "libqt6core6:amd64: /usr/lib/x86_64-linux-gnu/libQt6Core.so.6"
        const QString line = QString::fromUtf8(r.out).section(QLatin1Char('\n'), 0, 0);
        return line.section(QStringLiteral(": "), 0, 0).section(QLatin1Char(','), 0, 0)
            .section(QLatin1Char(':'), 0, 0).trimmed();
    }
    return QString();
}

bool isElf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) && f.read(4) == QByteArray("\x7f" "ELF");
}

// The keys of the [Desktop Entry] group.
QMap<QString, QString> desktopEntry(const QByteArray &text)
{
    QMap<QString, QString> keys;
    bool inEntry = false;
    for (const QString &line : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('[')))
            inEntry = line == QLatin1StringView("[Desktop Entry]");
        else if (const qsizetype eq = line.indexOf(QLatin1Char('=')); inEntry && eq > 0)
            keys[line.left(eq).trimmed()] = line.mid(eq + 1).trimmed();
    }
    return keys;
}

} // namespace

class Package : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void controlDataDescribesThePackage_data() { eachPackage(); }
    void controlDataDescribesThePackage();
    void dependenciesAreDeclaredAndNothingIsBundled_data() { eachPackage(); }
    void dependenciesAreDeclaredAndNothingIsBundled();
    void filesGoWhereTheDesktopLooksForThem_data() { eachPackage(); }
    void filesGoWhereTheDesktopLooksForThem();
    void desktopEntryAndMetainfoAreValid();
    void manPagesRenderAndCoverTheOptions_data() { eachPackage(); }
    void manPagesRenderAndCoverTheOptions();
    void installedToolsRun();
    void installedProgramOpensItsMainWindow();
    void packagesInstallAndRemoveCleanly();

private:
    struct Deb {
        QString path;
        QMap<QString, QString> control;
        QDir root; // where dpkg -x unpacked it
    };

    static void eachPackage();
    QString installed(const QString &package, const QString &relative) const
    {
        return m_debs.value(package).root.filePath(relative);
    }
    QProcessEnvironment toolEnvironment() const;
    QMap<QString, QString> expectedFiles(const QString &package) const;

    QTemporaryDir m_work;
    QMap<QString, Deb> m_debs; // by package name
    QProcess m_xvfb;
};

void Package::eachPackage()
{
    QTest::addColumn<QString>("package");
    for (const PackageContents &p : kPackages)
        QTest::newRow(qPrintable(p.name)) << p.name;
}

void Package::initTestCase()
{
    QVERIFY(m_work.isValid());
    const QString out = m_work.filePath(QStringLiteral("out"));
    // A sanitized tree's cpack takes 85 s on an idle machine and once passed 200 s beside
    // other suites: the deadline is for a hang, not a measure.
    const Run cpack =
        run(QStringLiteral(CPACK_COMMAND),
            {"-G", "DEB", "--config", QStringLiteral(LUMORA_BINARY_DIR "/CPackConfig.cmake"), "-B", out}, 450000);
    QVERIFY2(cpack.ok(), qPrintable(QStringLiteral("cpack: ") + cpack.report()));

    // One run, two packages, named as Debian names them.
    const Run arch = run(QStringLiteral("dpkg"), {"--print-architecture"});
    QVERIFY2(arch.ok(), qPrintable(arch.report()));
    QStringList wanted;
    for (const PackageContents &p : kPackages)
        wanted << QStringLiteral("%1_" LUMORA_VERSION "_%2.deb")
                      .arg(p.name, QString::fromUtf8(arch.out).trimmed());
    QStringList debs = QDir(out).entryList({"*.deb"}, QDir::Files);
    debs.sort();
    wanted.sort();
    QCOMPARE(debs, wanted);

    for (const PackageContents &p : kPackages) {
        Deb deb;
        deb.path = QDir(out).filePath(
            QStringLiteral("%1_" LUMORA_VERSION "_%2.deb")
                .arg(p.name, QString::fromUtf8(arch.out).trimmed()));
        const Run fields = run(QStringLiteral("dpkg-deb"), {"-f", deb.path});
        QVERIFY2(fields.ok(), qPrintable(fields.report()));
        deb.control = controlFields(QString::fromUtf8(fields.out));
        deb.root.setPath(m_work.filePath(QStringLiteral("unpacked/") + p.name));
        QVERIFY(QDir().mkpath(deb.root.path()));
        const Run unpack = run(QStringLiteral("dpkg"), {"-x", deb.path, deb.root.path()});
        QVERIFY2(unpack.ok(), qPrintable(QStringLiteral("dpkg -x: ") + unpack.report()));
        m_debs.insert(p.name, deb);
    }
}

void Package::cleanupTestCase()
{
    if (m_xvfb.state() != QProcess::NotRunning) {
        m_xvfb.terminate();
        m_xvfb.waitForFinished(5000);
    }
}

QProcessEnvironment Package::toolEnvironment() const
{
    // Nothing of the user's or the machine's configuration is read.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_work.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CONFIG_DIRS"), m_work.filePath(QStringLiteral("config-dirs")));
    env.insert(QStringLiteral("XDG_STATE_HOME"), m_work.filePath(QStringLiteral("state")));
    env.remove(QStringLiteral("LD_LIBRARY_PATH"));
    return env;
}

void Package::controlDataDescribesThePackage()
{
    QFETCH(QString, package);
    const Deb &deb = m_debs[package];
    QCOMPARE(QFileInfo(deb.path).fileName(),
             QStringLiteral("%1_" LUMORA_VERSION "_%2.deb")
                 .arg(package, deb.control.value("Architecture")));
    QCOMPARE(deb.control.value("Package"), package);
    QCOMPARE(deb.control.value("Version"), QStringLiteral(LUMORA_VERSION));
    const Run arch = run(QStringLiteral("dpkg"), {"--print-architecture"});
    QCOMPARE(deb.control.value("Architecture"), QString::fromUtf8(arch.out).trimmed());
    QCOMPARE(deb.control.value("Section"), QStringLiteral("sound"));
    QCOMPARE(deb.control.value("Priority"), QStringLiteral("optional"));
    QVERIFY(QRegularExpression(QStringLiteral("^.+ <[^@ ]+@[^@ ]+>$"))
                .match(deb.control.value("Maintainer")).hasMatch());
    QVERIFY(deb.control.value("Installed-Size").toInt() > 0);

    // A synopsis line of its own, then paragraphs that fit a terminal.
    const QStringList description = deb.control.value("Description").split(QLatin1Char('\n'));
    QCOMPARE(description.first(), contentsOf(package).synopsis);
    QVERIFY(description.size() > 3);
    for (const QString &line : description)
        QVERIFY2(line.size() <= 80, qPrintable(line));
}

void Package::dependenciesAreDeclaredAndNothingIsBundled()
{
    QFETCH(QString, package);
    const Deb &deb = m_debs[package];
    QString error;
    const QList<DependsGroup> depends = parseDepends(deb.control.value("Depends"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QSet<QString> names = dependedOn(depends);
    const QString dependsField = deb.control.value("Depends");

    const auto dependsOnPrefix = [&names](const QString &prefix) {
        for (const QString &name : names)
            if (name.startsWith(prefix))
                return true;
        return false;
    };
    if (package == QLatin1StringView("lumora")) {
        // What is loaded by name at run time: libVLC's plugins and their cache generator, a
        // font with Arabic letters. The simulator's encoders are not the program's.
        for (const char *runtime : {"libvlc-bin", "vlc-plugin-base", "vlc-plugin-video-output"})
            QVERIFY2(names.contains(QLatin1StringView(runtime)), runtime);
        QVERIFY(names.contains(QStringLiteral("fonts-dejavu-core")));
        for (const char *encoder : {"libavcodec", "libavformat", "libavutil", "libmp3lame"})
            QVERIFY2(!dependsOnPrefix(QLatin1StringView(encoder)),
                     qPrintable(QStringLiteral("lumora depends on ") + encoder + ": "
                                + dependsField));
    } else {
        // The simulator encodes with libav and plays nothing itself.
        QVERIFY2(dependsOnPrefix(QStringLiteral("libavcodec"))
                     && dependsOnPrefix(QStringLiteral("libavformat")),
                 qPrintable(dependsField));
        QVERIFY2(!dependsOnPrefix(QStringLiteral("libvlc"))
                     && !dependsOnPrefix(QStringLiteral("vlc-plugin"))
                     && !dependsOnPrefix(QStringLiteral("fonts-"))
                     && !names.contains(QStringLiteral("lumora")),
                 qPrintable(dependsField));
    }

    // Every library an installed program links comes from a package the control data names,
    // and no program looks for libraries in a folder of its own.
    const QStringList programs = QDir(installed(package, "usr/bin")).entryList(QDir::Files);
    const QStringList &wanted = contentsOf(package).programs;
    QCOMPARE(QSet<QString>(programs.begin(), programs.end()),
             QSet<QString>(wanted.begin(), wanted.end()));
    for (const QString &program : programs) {
        const QString path = installed(package, "usr/bin/" + program);
        const Run dynamic = run(QStringLiteral("objdump"), {"-p", path});
        QVERIFY2(dynamic.ok(), qPrintable(dynamic.report()));
        QVERIFY2(!dynamic.out.contains("RPATH") && !dynamic.out.contains("RUNPATH"),
                 qPrintable(program));
        QStringList needed;
        for (const QByteArray &line : dynamic.out.split('\n'))
            if (line.trimmed().startsWith("NEEDED"))
                needed << QString::fromUtf8(line.trimmed().mid(6).trimmed());
        QVERIFY2(!needed.isEmpty(), qPrintable(program));

        const Run ldd = run(QStringLiteral("ldd"), {path}, 60000, toolEnvironment());
        QVERIFY2(ldd.ok(), qPrintable(ldd.report()));
        QMap<QString, QString> resolved;
        for (const QByteArray &line : ldd.out.split('\n')) {
            const QList<QByteArray> parts = line.trimmed().split(' ');
            if (parts.size() >= 3 && parts[1] == "=>")
                resolved[QString::fromUtf8(parts[0])] = QString::fromUtf8(parts[2]);
            else if (parts.size() >= 2 && parts[0].startsWith('/')) // the dynamic loader
                resolved[QFileInfo(QString::fromUtf8(parts[0])).fileName()] =
                    QString::fromUtf8(parts[0]);
        }
        for (const QString &library : needed) {
            QVERIFY2(resolved.value(library).startsWith(QLatin1Char('/')),
                     qPrintable(program + ": " + library + " is not found"));
            const QString owner = owningPackage(resolved.value(library));
            QVERIFY2(!owner.isEmpty(), qPrintable(resolved.value(library) + " is in no package"));
            QVERIFY2(names.contains(owner),
                     qPrintable(program + " links " + library + " of " + owner
                                + ", which Depends does not name: " + dependsField));
        }
    }

    // Nothing but the package's programs is executable code.
    QDirIterator it(deb.root.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (isElf(path))
            QVERIFY2(QFileInfo(path).dir() == QDir(installed(package, "usr/bin")),
                     qPrintable(path));
    }

    // The package installs on this machine: every dependency is met by what is installed.
    for (const DependsGroup &g : depends) {
        QStringList tried;
        bool met = false;
        for (const Alternative &a : g) {
            const Run q = run(QStringLiteral("dpkg-query"),
                              {"-W", "-f=${db:Status-Status} ${Version}", a.name});
            const QString status = QString::fromUtf8(q.out).trimmed();
            tried << a.name + ": " + (status.isEmpty() ? QStringLiteral("absent") : status);
            if (!q.ok() || !status.startsWith(QLatin1StringView("installed ")))
                continue;
            const QString version = status.section(QLatin1Char(' '), 1);
            met = a.relation.isEmpty()
                || run(QStringLiteral("dpkg"), {"--compare-versions", version,
                                                a.relation, a.version}).ok();
            if (met)
                break;
        }
        QVERIFY2(met, qPrintable(tried.join(QStringLiteral("; "))));
    }
}

// Path -> mode of every file the package should hold, and nothing else.
QMap<QString, QString> Package::expectedFiles(const QString &package) const
{
    const QString program = QStringLiteral("-rwxr-xr-x");
    const QString data = QStringLiteral("-rw-r--r--");
    const QString doc = QStringLiteral("usr/share/doc/") + package;
    QMap<QString, QString> expected;
    for (const QString &name : contentsOf(package).programs) {
        expected["usr/bin/" + name] = program;
        expected["usr/share/man/man1/" + name + ".1.gz"] = data;
    }
    expected[doc + "/copyright"] = data;
    expected[doc + "/changelog.gz"] = data;
    if (package == QLatin1StringView("lumora")) {
        const QString id = QLatin1StringView(kAppId);
        expected["usr/share/applications/" + id + ".desktop"] = data;
        expected["usr/share/metainfo/" + id + ".metainfo.xml"] = data;
        for (const int size : kThemeSizes)
            expected[QStringLiteral("usr/share/icons/hicolor/%1x%1/apps/").arg(size) + id
                     + ".png"] = data;
        expected["usr/share/icons/hicolor/scalable/apps/" + id + ".svg"] = data;
        expected[doc + "/endpoints.conf.example"] = data;
    }
    return expected;
}

void Package::filesGoWhereTheDesktopLooksForThem()
{
    QFETCH(QString, package);
    const Deb &deb = m_debs[package];
    const QString doc = QStringLiteral("usr/share/doc/") + package;
    const QMap<QString, QString> expected = expectedFiles(package);

    // "-rw-r--r-- root/root 500 2026-12-08 02:40 ./usr/share/..."
    const Run list = run(QStringLiteral("dpkg-deb"), {"-c", deb.path});
    QVERIFY2(list.ok(), qPrintable(list.report()));
    QMap<QString, QString> files;
    const QStringList listing = QString::fromUtf8(list.out).split('\n', Qt::SkipEmptyParts);
    for (const QString &line : listing) {
        const QStringList f = line.simplified().split(QLatin1Char(' '));
        QVERIFY2(f.size() == 6, qPrintable(line));
        QCOMPARE(f[1], QStringLiteral("root/root"));
        QVERIFY2(f[5].startsWith(QLatin1StringView("./usr/")), qPrintable(line));
        if (f[0].startsWith(QLatin1Char('d')))
            QCOMPARE(f[0], QStringLiteral("drwxr-xr-x"));
        else
            files[f[5].mid(2)] = f[0];
    }
    QStringList wrong;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        if (files.value(it.key()) != it.value())
            wrong << QStringLiteral("%1 (%2, wanted %3)")
                         .arg(it.key(), files.value(it.key(), "missing"), it.value());
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        if (!expected.contains(it.key()))
            wrong << it.key() + QStringLiteral(" (not wanted)");
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));

    // The package's checksums cover every file and match what was unpacked.
    const QString control = m_work.filePath(QStringLiteral("control/") + package);
    QVERIFY(QDir().mkpath(control));
    const Run extract = run(QStringLiteral("dpkg-deb"), {"-e", deb.path, control});
    QVERIFY2(extract.ok(), qPrintable(extract.report()));
    QSet<QString> summed;
    for (const QByteArray &line : readAll(control + "/md5sums").split('\n')) {
        if (line.isEmpty())
            continue;
        const QString path = QString::fromUtf8(line.mid(34));
        summed.insert(path);
        const QByteArray md5 = QCryptographicHash::hash(readAll(installed(package, path)),
                                                        QCryptographicHash::Md5).toHex();
        QVERIFY2(md5 == line.left(32), qPrintable(path));
    }
    QCOMPARE(summed, QSet<QString>(expected.keyBegin(), expected.keyEnd()));

    // The pictures are the committed theme icons, the example the catalogue's template.
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (it.key().startsWith(QLatin1StringView("usr/share/icons/"))) {
            const QString committed = QStringLiteral(LUMORA_SOURCE_DIR "/assets/icons/")
                + it.key().mid(QStringLiteral("usr/share/icons/").size());
            QVERIFY2(readAll(installed(package, it.key())) == readAll(committed),
                     qPrintable(it.key()));
        }
    }
    if (expected.contains(doc + "/endpoints.conf.example"))
        QCOMPARE(readAll(installed(package, doc + "/endpoints.conf.example")),
                 readAll(QStringLiteral(LUMORA_SOURCE_DIR "/catalogue/endpoints.conf.example")));
    QVERIFY(readAll(installed(package, doc + "/copyright")).startsWith("Format: "));
    const Run changelog =
        run(QStringLiteral("gzip"), {"-dc", installed(package, doc + "/changelog.gz")});
    QVERIFY2(changelog.ok(), qPrintable(changelog.report()));
    QVERIFY2(changelog.out.startsWith("lumora (" LUMORA_VERSION ") "),
             qPrintable(QStringLiteral("packaging/changelog does not begin with this version: ")
                        + QString::fromUtf8(changelog.out.left(80))));
}

void Package::desktopEntryAndMetainfoAreValid()
{
    const QString id = QLatin1StringView(kAppId);
    const QString desktopFile = installed("lumora", "usr/share/applications/" + id + ".desktop");
    const QString metainfoFile = installed("lumora", "usr/share/metainfo/" + id + ".metainfo.xml");

    const Run desktop = run(QStringLiteral("desktop-file-validate"), {desktopFile});
    QVERIFY2(desktop.ok(), qPrintable(desktop.report()));
    for (const QByteArray &line : (desktop.out + desktop.err).split('\n'))
        QVERIFY2(!line.contains("error") && !line.contains("warning"), line.constData());
    const Run appstream = run(QStringLiteral("appstreamcli"),
                              {"validate", "--no-net", metainfoFile});
    QVERIFY2(appstream.ok(), qPrintable(appstream.report()));

    // The entry starts the installed program, shows the installed icon, and speaks Arabic
    // as well as English.
    const QMap<QString, QString> entry = desktopEntry(readAll(desktopFile));
    QCOMPARE(entry.value("Type"), QStringLiteral("Application"));
    const QString exec = entry.value("Exec").section(QLatin1Char(' '), 0, 0);
    QVERIFY2(QFileInfo(installed("lumora", "usr/bin/" + exec)).isExecutable(), qPrintable(exec));
    QCOMPARE(entry.value("Icon"), id);
    QVERIFY(QRegularExpression(QStringLiteral(R"(^[A-Za-z][\w-]*(\.[A-Za-z][\w-]*){2,}$)"))
                .match(id).hasMatch());
    for (const char *key : {"Name", "Name[ar]", "Comment", "Comment[ar]"})
        QVERIFY2(!entry.value(QLatin1StringView(key)).isEmpty(), key);
    static const QRegularExpression arabic(QStringLiteral("[\\x{0600}-\\x{06FF}]"));
    QVERIFY(arabic.match(entry.value("Name[ar]")).hasMatch());
    QVERIFY(arabic.match(entry.value("Comment[ar]")).hasMatch());
    QVERIFY(!arabic.match(entry.value("Comment")).hasMatch());
    // The window's class, so that a dock matches the running program to its entry.
    QCOMPARE(entry.value("StartupWMClass"), QStringLiteral("lumora"));

    // The metainfo names the same id and entry, and programs that are installed.
    QXmlStreamReader xml(readAll(metainfoFile));
    QString componentId, launchable;
    QStringList binaries;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1StringView("id"))
            componentId = xml.readElementText();
        else if (xml.name() == QLatin1StringView("launchable"))
            launchable = xml.readElementText();
        else if (xml.name() == QLatin1StringView("binary"))
            binaries << xml.readElementText();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(componentId, id);
    QCOMPARE(launchable, id + ".desktop");
    QVERIFY(binaries.contains(QStringLiteral("lumora")));
    for (const QString &binary : binaries)
        QVERIFY2(QFileInfo(installed("lumora", "usr/bin/" + binary)).isExecutable(),
                 qPrintable(binary));
}

void Package::manPagesRenderAndCoverTheOptions()
{
    QFETCH(QString, package);
    QProcessEnvironment env = toolEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("MANROFFSEQ"), QString());
    env.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
    for (const QString &page : contentsOf(package).programs) {
        const QString path = installed(package, "usr/share/man/man1/" + page + ".1.gz");
        // groff's warnings (unknown macros, lines that cannot be set) end up on stderr.
        const Run render = run(QStringLiteral("man"),
                               {"--warnings", "-E", "UTF-8",
                                "-l", "-Tutf8", "-Z", path},
                               60000, env);
        QVERIFY2(render.ok() && render.err.isEmpty(), qPrintable(page + ": " + render.report()));
        const Run text = run(QStringLiteral("man"),
                             {"-E", "ascii", "-P",
                              "cat", "-l", path},
                             60000, env);
        QVERIFY2(text.ok(), qPrintable(text.report()));
        QVERIFY2(text.out.contains("NAME") && text.out.contains("SYNOPSIS")
                     && text.out.contains("EXIT STATUS"),
                 text.out.left(400).constData());
        QVERIFY2(QRegularExpression(page + QStringLiteral("\\s+-\\s+\\S"))
                     .match(QString::fromUtf8(text.out)).hasMatch(),
                 text.out.left(400).constData());
        // The page names the version the package has (the footer shows the source).
        QVERIFY2(text.out.contains("Lumora " LUMORA_VERSION), text.out.right(200).constData());
        if (page == kNoCommandLine)
            continue;

        // Every option the program's --help names is in its page.
        const Run source = run(QStringLiteral("gzip"), {"-dc", path});
        QVERIFY2(source.ok(), qPrintable(source.report()));
        const QString roff = QString::fromUtf8(source.out).replace("\\-", "-");
        const Run help = run(installed(package, "usr/bin/" + page), {"--help"}, 30000, env);
        QVERIFY2(help.ok(), qPrintable(help.report()));
        static const QRegularExpression option(QStringLiteral("--[a-z0-9][a-z0-9-]*"));
        QSet<QString> options;
        for (auto it = option.globalMatch(QString::fromUtf8(help.out)); it.hasNext();)
            options.insert(it.next().captured());
        options.remove(QStringLiteral("--help-all")); // Qt's own, for its generic options
        QVERIFY2(!options.isEmpty(), help.out.constData());
        for (const QString &o : options)
            QVERIFY2(roff.contains(o), qPrintable(page + ".1 does not mention " + o));
        const Run version = run(installed(package, "usr/bin/" + page), {"--version"}, 30000, env);
        QVERIFY2(version.ok(), qPrintable(version.report()));
        QCOMPARE(version.out.trimmed(), (page + QStringLiteral(" " LUMORA_VERSION)).toUtf8());
    }
}

void Package::installedToolsRun()
{
    const QProcessEnvironment env = toolEnvironment();
    const QString catalogue = installed("lumora", "usr/bin/lumora-catalogue");
    const Run help = run(catalogue, {"--help"}, 30000, env);
    QVERIFY2(help.ok(), qPrintable(help.report()));
    QVERIFY2(help.out.startsWith("Usage: lumora-catalogue COMMAND"), help.out.constData());
    for (const char *command : {"list", "template", "check", "--config"})
        QVERIFY2(help.out.contains(command), command);

    // The example shipped as documentation is what the installed tool writes.
    const Run tmpl = run(catalogue, {"template"}, 30000, env);
    QVERIFY2(tmpl.ok(), qPrintable(tmpl.report()));
    QCOMPARE(tmpl.out, readAll(installed("lumora", "usr/share/doc/lumora/endpoints.conf.example")));

    // With no configuration anywhere, every station lacks its address.
    const Run check = run(catalogue, {"check"}, 30000, env);
    QVERIFY2(check.finished && check.code == 1, qPrintable(check.report()));

    const Run sim =
        run(installed("lumora-station-sim", "usr/bin/lumora-station-sim"), {"--help"}, 30000, env);
    QVERIFY2(sim.ok(), qPrintable(sim.report()));
    QVERIFY2(sim.out.contains("--config") && sim.out.contains("--fault"), sim.out.constData());
}

void Package::installedProgramOpensItsMainWindow()
{
    // -displayfd: Xvfb picks a free display itself; -noreset: no reset when the last client
    // leaves, during which a new client would be refused.
    m_xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1024x768x24",
                                          "-nolisten", "tcp", "-noreset"});
    QVERIFY2(m_xvfb.waitForStarted(), "Xvfb is not installed");
    QByteArray number;
    while (!number.endsWith('\n') && m_xvfb.waitForReadyRead(20000))
        number += m_xvfb.readAllStandardOutput();
    bool isNumber = false;
    number.trimmed().toInt(&isNumber);
    QVERIFY2(isNumber, qPrintable(QString::fromLocal8Bit(m_xvfb.readAllStandardError())));

    QProcessEnvironment env = toolEnvironment();
    env.insert(QStringLiteral("DISPLAY"), ":" + QString::fromLatin1(number.trimmed()));
    env.remove(QStringLiteral("XAUTHORITY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    const auto xdotool = [&env](const QStringList &args) {
        return QString::fromUtf8(run(QStringLiteral("xdotool"), args, 10000, env).out).trimmed();
    };

    QProcess lumora;
    lumora.setProcessEnvironment(env);
    lumora.setProcessChannelMode(QProcess::MergedChannels);
    lumora.start(installed("lumora", "usr/bin/lumora"), QStringList());
    QVERIFY2(lumora.waitForStarted(), qPrintable(lumora.errorString()));

    // The main page maps, titled "Lumora", of the class the desktop entry names.
    QString window;
    waitFor([&] {
        window = xdotool({"search", "--onlyvisible", "--name", "^Lumora$"}).section('\n', 0, 0);
        return !window.isEmpty() || lumora.state() != QProcess::Running;
    }, 60000, 100);
    if (window.isEmpty()) {
        lumora.kill();
        lumora.waitForFinished(5000);
        QFAIL(qPrintable(QStringLiteral("no Lumora window; exit code %1, output: %2")
                             .arg(lumora.exitCode())
                             .arg(QString::fromLocal8Bit(lumora.readAll()))));
    }
    QCOMPARE(xdotool({"getwindowname", window}), QStringLiteral("Lumora"));
    QVERIFY(xdotool({"search", "--classname", "lumora"}).split('\n').contains(window));
    QCOMPARE(lumora.state(), QProcess::Running);

    // Ctrl+W ends it.
    xdotool({"windowfocus", "--sync", window});
    xdotool({"key", "ctrl+w"});
    const bool ended = lumora.waitForFinished(20000);
    if (!ended) {
        lumora.kill();
        lumora.waitForFinished(5000);
    }
    QVERIFY2(ended, qPrintable(QString::fromLocal8Bit(lumora.readAll())));
    QCOMPARE(lumora.exitStatus(), QProcess::NormalExit);
    QCOMPARE(lumora.exitCode(), 0);
}


// Every file of a package as dpkg lists it once installed under root, directories left out.
static QStringList filesOf(const QString &root, const QString &package)
{
    const Run list = run(QStringLiteral("dpkg"), {"--root=" + root, "-L", package});
    QStringList files;
    for (const QString &path : QString::fromUtf8(list.out).split('\n', Qt::SkipEmptyParts))
        if (QFileInfo(root + path).isFile())
            files << path;
    return files;
}

void Package::packagesInstallAndRemoveCleanly()
{
    // A scratch root with an empty package database of its own; the packages' dependencies are
    // not there (dependenciesAreDeclaredAndNothingIsBundled checks them against this machine),
    // so dpkg is told to go on without them. --log keeps the machine's dpkg log untouched.
    const QString root = m_work.filePath(QStringLiteral("dpkg-root"));
    for (const char *dir : {"var/lib/dpkg/info", "var/lib/dpkg/updates", "var/lib/dpkg/triggers"})
        QVERIFY(QDir().mkpath(root + "/" + dir));
    for (const char *file : {"var/lib/dpkg/status", "var/lib/dpkg/available"}) {
        QFile f(root + "/" + file);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    const QStringList dpkg = {"--root=" + root, "--log=/dev/null", "--force-depends"};
    const auto installedHere = [&root](const QString &package) {
        const Run q = run(QStringLiteral("dpkg-query"),
                          {"--root=" + root, "-W", "-f=${db:Status-Status}", package});
        return q.ok() && q.out == "installed";
    };

    // lumora alone: its files, and neither the simulator nor its manual page.
    Run step = run(QStringLiteral("dpkg"), dpkg + QStringList{"-i", m_debs["lumora"].path});
    QVERIFY2(step.ok(), qPrintable(step.report()));
    QVERIFY(installedHere(QStringLiteral("lumora")));
    QStringList files = filesOf(root, QStringLiteral("lumora"));
    QStringList expected;
    for (const QString &path : expectedFiles(QStringLiteral("lumora")).keys())
        expected << "/" + path;
    files.sort();
    expected.sort();
    QCOMPARE(files, expected);
    QVERIFY(!QFileInfo::exists(root + "/usr/bin/lumora-station-sim"));
    QVERIFY(!QFileInfo::exists(root + "/usr/share/man/man1/lumora-station-sim.1.gz"));

    // The simulator beside it: no file of one is a file of the other.
    step = run(QStringLiteral("dpkg"), dpkg + QStringList{"-i", m_debs["lumora-station-sim"].path});
    QVERIFY2(step.ok(), qPrintable(step.report()));
    QVERIFY(installedHere(QStringLiteral("lumora-station-sim")));
    QVERIFY(QFileInfo(root + "/usr/bin/lumora-station-sim").isExecutable());
    const Run audit = run(QStringLiteral("dpkg"), {"--root=" + root, "--audit"});
    QVERIFY2(audit.ok() && audit.out.trimmed().isEmpty(), qPrintable(audit.report()));

    // Removing one leaves the other whole; removing both leaves no file behind.
    step = run(QStringLiteral("dpkg"), dpkg + QStringList{"--purge", "lumora"});
    QVERIFY2(step.ok(), qPrintable(step.report()));
    QVERIFY(!installedHere(QStringLiteral("lumora")));
    for (const QString &path : expected)
        QVERIFY2(!QFileInfo::exists(root + path), qPrintable(path));
    for (const QString &path : expectedFiles(QStringLiteral("lumora-station-sim")).keys())
        QVERIFY2(QFileInfo(root + "/" + path).isFile(), qPrintable(path));
    step = run(QStringLiteral("dpkg"), dpkg + QStringList{"--purge", "lumora-station-sim"});
    QVERIFY2(step.ok(), qPrintable(step.report()));
    QStringList left;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next().mid(root.size());
        if (!path.startsWith(QLatin1StringView("/var/lib/dpkg/")))
            left << path;
    }
    QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char(' '))));
    QVERIFY2(!QFileInfo::exists(root + "/usr"), "the packages' folders are left behind");
}

QTEST_GUILESS_MAIN(Package)
#include "tst_package.moc"
