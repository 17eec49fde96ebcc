// The Debian package as a user receives it. CPack makes it from this build tree; the test
// unpacks it into a scratch root with dpkg -x (nothing is installed on the machine), checks its
// control data and its files, and runs what it installed from there: lumora on an Xvfb of the
// test's own, the companion tools, and the validators of the desktop entry, the AppStream
// metainfo and the manual pages.

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QXmlStreamReader>

namespace {

constexpr int kThemeSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
constexpr auto kAppId = "org.lumora.Lumora";
constexpr auto kDocDir = "usr/share/doc/lumora";
const QStringList kPrograms = {"lumora", "lumora-catalogue",
                               "lumora-station-sim"};
const QStringList kManPages = {"lumora", "lumora-catalogue",
                               "lumora-station-sim"};

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
    void controlDataDescribesThePackage();
    void dependenciesAreDeclaredAndNothingIsBundled();
    void filesGoWhereTheDesktopLooksForThem();
    void desktopEntryAndMetainfoAreValid();
    void manPagesRenderAndCoverTheOptions();
    void installedToolsRun();
    void installedProgramOpensItsMainWindow();

private:
    QString installed(const QString &relative) const { return m_root.filePath(relative); }
    QProcessEnvironment toolEnvironment() const;

    QTemporaryDir m_work;
    QDir m_root;
    QString m_deb;
    QMap<QString, QString> m_control;
    QProcess m_xvfb;
};

void Package::initTestCase()
{
    QVERIFY(m_work.isValid());
    const QString out = m_work.filePath(QStringLiteral("out"));
    const Run cpack = run(QStringLiteral(CPACK_COMMAND),
                          {"-G", "DEB", "--config",
                           QStringLiteral(LUMORA_BINARY_DIR "/CPackConfig.cmake"),
                           "-B", out},
                          200000);
    QVERIFY2(cpack.ok(), qPrintable(QStringLiteral("cpack: ") + cpack.report()));
    const QStringList debs = QDir(out).entryList({"*.deb"}, QDir::Files);
    QVERIFY2(debs.size() == 1, qPrintable(debs.join(QLatin1Char(' '))));
    m_deb = QDir(out).filePath(debs.first());

    const Run fields = run(QStringLiteral("dpkg-deb"), {"-f", m_deb});
    QVERIFY2(fields.ok(), qPrintable(fields.report()));
    m_control = controlFields(QString::fromUtf8(fields.out));

    m_root.setPath(m_work.filePath(QStringLiteral("root")));
    const Run unpack = run(QStringLiteral("dpkg"), {"-x", m_deb, m_root.path()});
    QVERIFY2(unpack.ok(), qPrintable(QStringLiteral("dpkg -x: ") + unpack.report()));
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
    env.remove(QStringLiteral("LD_LIBRARY_PATH"));
    return env;
}

void Package::controlDataDescribesThePackage()
{
    QCOMPARE(QFileInfo(m_deb).fileName(),
             QStringLiteral("lumora_" LUMORA_VERSION "_%1.deb")
                 .arg(m_control.value("Architecture")));
    QCOMPARE(m_control.value("Package"), QStringLiteral("lumora"));
    QCOMPARE(m_control.value("Version"), QStringLiteral(LUMORA_VERSION));
    const Run arch = run(QStringLiteral("dpkg"), {"--print-architecture"});
    QCOMPARE(m_control.value("Architecture"), QString::fromUtf8(arch.out).trimmed());
    QCOMPARE(m_control.value("Section"), QStringLiteral("sound"));
    QCOMPARE(m_control.value("Priority"), QStringLiteral("optional"));
    QVERIFY(QRegularExpression(QStringLiteral("^.+ <[^@ ]+@[^@ ]+>$"))
                .match(m_control.value("Maintainer")).hasMatch());
    QVERIFY(m_control.value("Installed-Size").toInt() > 0);

    // A synopsis line, then paragraphs that fit a terminal.
    const QStringList description = m_control.value("Description").split(QLatin1Char('\n'));
    QCOMPARE(description.first(), QStringLiteral("catalogue and player of Arabic internet radio"));
    QVERIFY(description.size() > 3);
    for (const QString &line : description)
        QVERIFY2(line.size() <= 80, qPrintable(line));
}

void Package::dependenciesAreDeclaredAndNothingIsBundled()
{
    QString error;
    const QList<DependsGroup> depends = parseDepends(m_control.value("Depends"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QSet<QString> names = dependedOn(depends);

    // What is loaded by name at run time: libVLC's plugins and their cache generator, a font
    // with Arabic letters.
    for (const char *runtime : {"libvlc-bin", "vlc-plugin-base", "vlc-plugin-video-output"})
        QVERIFY2(names.contains(QLatin1StringView(runtime)), runtime);
    bool font = false;
    for (const DependsGroup &g : depends)
        for (const Alternative &a : g)
            font = font || a.name == QLatin1StringView("fonts-dejavu-core");
    QVERIFY(font);

    // Every library an installed program links comes from a package the control data names,
    // and no program looks for libraries in a folder of its own.
    const QStringList programs = QDir(installed("usr/bin")).entryList(QDir::Files);
    QCOMPARE(QSet<QString>(programs.begin(), programs.end()),
             QSet<QString>(kPrograms.begin(), kPrograms.end()));
    for (const QString &program : programs) {
        const QString path = installed("usr/bin/" + program);
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
            const QString package = owningPackage(resolved.value(library));
            QVERIFY2(!package.isEmpty(), qPrintable(resolved.value(library) + " is in no package"));
            QVERIFY2(names.contains(package),
                     qPrintable(program + " links " + library + " of " + package
                                + ", which Depends does not name: " + m_control.value("Depends")));
        }
    }

    // Nothing but the three programs is executable code.
    QDirIterator it(m_root.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (isElf(path))
            QVERIFY2(QFileInfo(path).dir() == QDir(installed("usr/bin")), qPrintable(path));
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

void Package::filesGoWhereTheDesktopLooksForThem()
{
    const QString doc = QLatin1StringView(kDocDir);
    QMap<QString, QString> expected; // path -> mode
    for (const QString &program : kPrograms)
        expected["usr/bin/" + program] = QStringLiteral("-rwxr-xr-x");
    const QString id = QLatin1StringView(kAppId);
    expected["usr/share/applications/" + id + ".desktop"] = QStringLiteral("-rw-r--r--");
    expected["usr/share/metainfo/" + id + ".metainfo.xml"] = QStringLiteral("-rw-r--r--");
    for (const int size : kThemeSizes)
        expected[QStringLiteral("usr/share/icons/hicolor/%1x%1/apps/").arg(size) + id + ".png"] =
            QStringLiteral("-rw-r--r--");
    expected["usr/share/icons/hicolor/scalable/apps/" + id + ".svg"] = QStringLiteral("-rw-r--r--");
    for (const QString &page : kManPages)
        expected["usr/share/man/man1/" + page + ".1.gz"] = QStringLiteral("-rw-r--r--");
    expected[doc + "/endpoints.conf.example"] = QStringLiteral("-rw-r--r--");
    expected[doc + "/copyright"] = QStringLiteral("-rw-r--r--");
    expected[doc + "/changelog.gz"] = QStringLiteral("-rw-r--r--");

    // "-rw-r--r-- root/root 500 2026-12-08 02:40 ./usr/share/..."
    const Run list = run(QStringLiteral("dpkg-deb"), {"-c", m_deb});
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
    const QString control = m_work.filePath(QStringLiteral("control"));
    const Run extract = run(QStringLiteral("dpkg-deb"), {"-e", m_deb, control});
    QVERIFY2(extract.ok(), qPrintable(extract.report()));
    QSet<QString> summed;
    for (const QByteArray &line : readAll(control + "/md5sums").split('\n')) {
        if (line.isEmpty())
            continue;
        const QString path = QString::fromUtf8(line.mid(34));
        summed.insert(path);
        const QByteArray md5 =
            QCryptographicHash::hash(readAll(installed(path)), QCryptographicHash::Md5).toHex();
        QVERIFY2(md5 == line.left(32), qPrintable(path));
    }
    QCOMPARE(summed, QSet<QString>(expected.keyBegin(), expected.keyEnd()));

    // The pictures are the committed theme icons, the example the catalogue's template.
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (it.key().startsWith(QLatin1StringView("usr/share/icons/"))) {
            const QString committed = QStringLiteral(LUMORA_SOURCE_DIR "/assets/icons/")
                + it.key().mid(QStringLiteral("usr/share/icons/").size());
            QVERIFY2(readAll(installed(it.key())) == readAll(committed), qPrintable(it.key()));
        }
    }
    QCOMPARE(readAll(installed(doc + "/endpoints.conf.example")),
             readAll(QStringLiteral(LUMORA_SOURCE_DIR "/catalogue/endpoints.conf.example")));
    QVERIFY(readAll(installed(doc + "/copyright")).startsWith("Format: "));
    const Run changelog = run(QStringLiteral("gzip"), {"-dc", installed(doc + "/changelog.gz")});
    QVERIFY2(changelog.ok(), qPrintable(changelog.report()));
    QVERIFY2(changelog.out.startsWith("lumora (" LUMORA_VERSION ") "),
             qPrintable(QStringLiteral("packaging/changelog does not begin with this version: ")
                        + QString::fromUtf8(changelog.out.left(80))));
}

void Package::desktopEntryAndMetainfoAreValid()
{
    const QString id = QLatin1StringView(kAppId);
    const QString desktopFile = installed("usr/share/applications/" + id + ".desktop");
    const QString metainfoFile = installed("usr/share/metainfo/" + id + ".metainfo.xml");

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
    QVERIFY2(QFileInfo(installed("usr/bin/" + exec)).isExecutable(), qPrintable(exec));
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
        QVERIFY2(QFileInfo(installed("usr/bin/" + binary)).isExecutable(), qPrintable(binary));
}

void Package::manPagesRenderAndCoverTheOptions()
{
    QProcessEnvironment env = toolEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("MANROFFSEQ"), QString());
    env.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
    for (const QString &page : kManPages) {
        const QString path = installed("usr/share/man/man1/" + page + ".1.gz");
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

        // Every option the program's --help names is in its page. Lumora itself takes no
        // command line: its page has no options to cover.
        if (page == u"lumora")
            continue;
        const Run source = run(QStringLiteral("gzip"), {"-dc", path});
        QVERIFY2(source.ok(), qPrintable(source.report()));
        const QString roff = QString::fromUtf8(source.out).replace("\\-", "-");
        const Run help = run(installed("usr/bin/" + page), {"--help"}, 30000, env);
        QVERIFY2(help.ok(), qPrintable(help.report()));
        static const QRegularExpression option(QStringLiteral("--[a-z0-9][a-z0-9-]*"));
        QSet<QString> options;
        for (auto it = option.globalMatch(QString::fromUtf8(help.out)); it.hasNext();)
            options.insert(it.next().captured());
        options.remove(QStringLiteral("--help-all")); // Qt's own, for its generic options
        QVERIFY2(!options.isEmpty(), help.out.constData());
        for (const QString &o : options)
            QVERIFY2(roff.contains(o), qPrintable(page + ".1 does not mention " + o));
    }
}

void Package::installedToolsRun()
{
    const QProcessEnvironment env = toolEnvironment();
    const Run help = run(installed("usr/bin/lumora-catalogue"), {"--help"}, 30000, env);
    QVERIFY2(help.ok(), qPrintable(help.report()));
    QVERIFY2(help.out.startsWith("Usage: lumora-catalogue COMMAND"), help.out.constData());
    for (const char *command : {"list", "template", "check", "--config"})
        QVERIFY2(help.out.contains(command), command);

    // The example shipped as documentation is what the installed tool writes.
    const Run tmpl = run(installed("usr/bin/lumora-catalogue"), {"template"}, 30000, env);
    QVERIFY2(tmpl.ok(), qPrintable(tmpl.report()));
    QCOMPARE(tmpl.out, readAll(installed(QLatin1StringView(kDocDir) + "/endpoints.conf.example")));

    // With no configuration anywhere, every station lacks its address.
    const Run check = run(installed("usr/bin/lumora-catalogue"), {"check"}, 30000, env);
    QVERIFY2(check.finished && check.code == 1, qPrintable(check.report()));

    const Run sim = run(installed("usr/bin/lumora-station-sim"), {"--help"}, 30000, env);
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
    lumora.start(installed("usr/bin/lumora"), QStringList());
    QVERIFY2(lumora.waitForStarted(), qPrintable(lumora.errorString()));

    // The main page maps, titled "Lumora", of the class the desktop entry names.
    QString window;
    QElapsedTimer clock;
    clock.start();
    while (window.isEmpty() && clock.elapsed() < 60000 && lumora.state() == QProcess::Running) {
        window = xdotool({"search", "--onlyvisible", "--name", "^Lumora$"}).section('\n', 0, 0);
        if (window.isEmpty())
            QThread::msleep(100);
    }
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

QTEST_GUILESS_MAIN(Package)
#include "tst_package.moc"
