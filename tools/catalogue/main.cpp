// lumora-catalogue: lists the catalogue with its composed addresses, writes a configuration
// template, checks a configuration and checks which stations answer. For the person who fills
// in the endpoints; Lumora itself takes no command line.

#include "catalogue/address.h"
#include "catalogue/endpoint_table.h"
#include "catalogue/page_directory.h"
#include "catalogue/station.h"
#include "lumora_version.h"
#include "probe_report.h"
#include "station_probe.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QStandardPaths>
#include <QTextStream>

#include <cstdio>

using namespace lumora;

namespace {

// clang-format off
const char kHelp[] =
    "Usage: lumora-catalogue COMMAND [--config FILE]\n"
    "       lumora-catalogue probe [--config FILE] [--timeout S] [--jobs N] [--json]\n"
    "\n"
    "Commands:\n"
    "  list      one line per station, tab-separated:\n"
    "            page, button, caption, address, missing keys\n"
    "            (address is empty when keys are missing)\n"
    "  init      write that template to the user's configuration file,\n"
    "            $XDG_CONFIG_HOME/lumora/endpoints.conf (default\n"
    "            ~/.config/lumora/endpoints.conf, or FILE with --config),\n"
    "            creating its folder; an existing file is never overwritten;\n"
    "            prints the file's path\n"
    "  template  print a complete endpoints.conf with every key empty and\n"
    "            a comment naming the stations each key serves\n"
    "  check     report every problem of the configuration and count the\n"
    "            stations with and without an address; exit status 0 only\n"
    "            when every key has a valid value and nothing is wrong\n"
    "  probe     resolve every station's address as the player does (playlists,\n"
    "            redirects, MMS over HTTP; no audio is played) and print, per\n"
    "            station, tab-separated: page, button, caption, result (working,\n"
    "            failing, no address), stream address, content type, icy-name,\n"
    "            reason; then a summary line; exit status 0 only when every\n"
    "            station works\n"
    "\n"
    "Options:\n"
    "  --config FILE  read FILE instead of searching lumora/endpoints.conf in\n"
    "                 $XDG_CONFIG_HOME (default ~/.config), then in each of\n"
    "                 $XDG_CONFIG_DIRS (default /etc/xdg)\n"
    "  --timeout S    probe: seconds allowed per station (default 10)\n"
    "  --jobs N       probe: stations checked at once (default 8)\n"
    "  --json         probe: print a JSON array instead of the table (the\n"
    "                 summary line goes to standard error)\n"
    "  --help         show this text\n"
    "  --version      show the version of Lumora this tool belongs to\n"
    "\n"
    "Configuration lines are KEY = VALUE; '#' starts a comment line. Keys E01..E65\n"
    "take a host name, IPv4 address or [IPv6] address with an optional :port; the\n"
    "address pieces take the text that goes into the address, Hls.MaxBandwidth\n"
    "the highest bandwidth in bits per second of an HLS station's version (see\n"
    "'template').\n";
// clang-format on

struct Options {
    QString command;
    QString config;
    ProbeOptions probe;
    bool probeOptionGiven = false;
    bool json = false;
    bool help = false;
    bool version = false;
    QString error;
};

// "--name VALUE" or "--name=VALUE": true when args[i] is the option; value empty when missing.
bool takeValue(const QStringList &args, qsizetype &i, QStringView name, QString *value)
{
    const QString &a = args[i];
    if (a == name) {
        *value = i + 1 < args.size() ? args[++i] : QString();
        return true;
    }
    if (a.startsWith(name) && a.mid(name.size()).startsWith(u'=')) {
        *value = a.mid(name.size() + 1);
        return true;
    }
    return false;
}

Options parseArguments(const QStringList &args)
{
    Options o;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &a = args[i];
        QString value;
        if (a == u"--help" || a == u"-h") {
            o.help = true;
        } else if (a == u"--version") {
            o.version = true;
        } else if (a == u"--config") {
            if (i + 1 >= args.size()) {
                o.error = QStringLiteral("--config needs a file name");
                return o;
            }
            o.config = args[++i];
        } else if (a.startsWith(u"--config=")) {
            o.config = a.mid(9);
        } else if (takeValue(args, i, u"--timeout", &value)) {
            bool ok = false;
            const double seconds = value.toDouble(&ok);
            if (!ok || !(seconds >= 0.1 && seconds <= 600)) {
                o.error = QStringLiteral("--timeout takes a number of seconds from 0.1 to 600");
                return o;
            }
            o.probe.timeoutMs = int(seconds * 1000);
            o.probeOptionGiven = true;
        } else if (takeValue(args, i, u"--jobs", &value)) {
            bool ok = false;
            const int jobs = value.toInt(&ok);
            if (!ok || jobs < 1 || jobs > 64) {
                o.error = QStringLiteral("--jobs takes a whole number from 1 to 64");
                return o;
            }
            o.probe.jobs = jobs;
            o.probeOptionGiven = true;
        } else if (a == u"--json") {
            o.json = true;
            o.probeOptionGiven = true;
        } else if (a.startsWith(u'-')) {
            o.error = QStringLiteral("unknown option %1").arg(a);
            return o;
        } else if (o.command.isEmpty()) {
            o.command = a;
        } else {
            o.error = QStringLiteral("unexpected argument %1").arg(a);
            return o;
        }
    }
    return o;
}

EndpointTable loadTable(const Options &o, QList<ConfigMessage> *messages, QString *used)
{
    if (!o.config.isEmpty()) {
        *used = o.config;
        return EndpointTable::load(o.config, messages);
    }
    return EndpointTable::loadConfigured(messages, used);
}

int list(QTextStream &out, const EndpointTable &table)
{
    out << "page\tbutton\tcaption\taddress\tmissing\n";
    for (const Station &s : allStations()) {
        const StationAddress a = addressOf(s, table);
        out << pageName(s.page) << '\t' << s.buttonName() << '\t' << s.caption() << '\t' << a.text
            << '\t' << a.missing.join(u',') << '\n';
    }
    return 0;
}

QString pieceHelp(const QString &key)
{
    const KeyRow *row = keys::piece(key);
    return row ? QString::fromLatin1(row->help) : QString();
}

QString describe(const Station &s)
{
    return QStringLiteral("%1 %2 \"%3\"").arg(PageDirectory::byPage(s.page)->title(),
                                               s.buttonName(), s.caption());
}

// A comment of the template, its words wrapped at 80 columns.
void writeComment(QTextStream &out, const QString &text)
{
    QString line = QStringLiteral("#");
    for (const QString &word : text.split(u' ', Qt::SkipEmptyParts)) {
        if (line.size() + 1 + word.size() > 80) {
            out << line << "\n";
            line = QStringLiteral("#");
        }
        line += u' ' + word;
    }
    out << line << "\n";
}

int writeTemplate(QTextStream &out)
{
    // Which stations use each key, in catalogue order.
    QMap<QString, QStringList> users;
    for (const Station &s : allStations()) {
        users[s.endpointKey()].append(describe(s));
        for (const QString &piece : s.pieceKeys())
            users[piece].append(describe(s));
    }
    QMap<QString, bool> withPort;
    for (const Station &s : allStations())
        withPort[s.endpointKey()] = s.explicitPort;

    out << "# Lumora endpoint configuration.\n"
           "#\n"
           "# Lumora reads lumora/endpoints.conf from $XDG_CONFIG_HOME (default ~/.config),\n"
           "# else from each of $XDG_CONFIG_DIRS (default /etc/xdg). One KEY = VALUE a line;\n"
           "# a key left empty is not configured, and its stations have no address.\n"
           "#\n"
           "# E01..E65: the network endpoint of the stations named above each key: a host\n"
           "# name, an IPv4 address or a bracketed IPv6 address, with \":port\" where noted.\n"
           "# The other keys are pieces of single addresses: the exact text that goes into\n"
           "# the address (\"id\": 32 lowercase hexadecimal digits; \"stream\": a lowercase\n"
           "# GUID; others: letters, digits, '.', '_' and '-').\n";
    for (const QString &key : EndpointTable::allKeys()) {
        out << "\n";
        const auto type = EndpointTable::keyType(key);
        if (type == EndpointTable::KeyType::Endpoint && withPort.contains(key))
            out << "# host" << (withPort[key] ? ":port" : "") << " of:\n";
        else if (type == EndpointTable::KeyType::Endpoint)
            out << "# host of the mms address inside the query of:\n";
        else
            out << "# " << pieceHelp(key) << ", in the address of:\n";
        for (const QString &u : users.value(key))
            out << "#   " << u << "\n";
        out << key << " =\n";
    }
    for (const KeyRow &row : keys::settings()) {
        out << "\n";
        writeComment(out, QString::fromLatin1(row.help) + QStringLiteral(", for example"));
        out << "# " << row.key << " = " << row.demoValue << "\n" << row.key << " =\n";
    }
    out << "\n# A station whose broadcaster has moved may be given its whole address, which then\n"
           "# replaces the composed one: the page and button as the key, an http, https, mms or\n"
           "# mmsh address as the value, kept exactly as written, for example\n"
           "# Form2.Command5 = https://stream.example.net/live/playlist.m3u8\n";
    return 0;
}

// Writes the template to path, which must not exist yet: the file is created exclusively, so
// a file that appears meanwhile is not overwritten either.
int init(QTextStream &out, const QString &path)
{
    if (QFileInfo::exists(path)) {
        std::fprintf(stderr,
                     "lumora-catalogue: %s exists already; it is left as it is. Edit it, or "
                     "move it away and run init again.\n",
                     qPrintable(QDir::toNativeSeparators(path)));
        out << path << '\n';
        return 1;
    }
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "lumora-catalogue: cannot create the folder %s\n", qPrintable(folder));
        return 1;
    }
    QString text;
    QTextStream templateText(&text);
    writeTemplate(templateText);
    templateText.flush();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        std::fprintf(stderr, "lumora-catalogue: cannot create %s: %s\n", qPrintable(path),
                     qPrintable(file.errorString()));
        return 1;
    }
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        std::fprintf(stderr, "lumora-catalogue: cannot write %s: %s\n", qPrintable(path),
                     qPrintable(file.errorString()));
        file.remove();
        return 1;
    }
    out << path << '\n';
    return 0;
}

int check(QTextStream &out, const EndpointTable &table, const QList<ConfigMessage> &messages,
          const QString &used)
{
    int with = 0;
    int without = 0;
    for (const Station &s : allStations())
        (addressOf(s, table).ok() ? with : without)++;
    QStringList missing;
    for (const QString &key : EndpointTable::allKeys())
        if (!table.value(key))
            missing.append(key);

    if (used.isEmpty())
        out << "no configuration file found in: "
            << QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation)
                   .join(u", ")
            << " (lumora/endpoints.conf)\n";
    else
        out << "configuration: " << used << "\n";
    out << messages.size() << " problem" << (messages.size() == 1 ? "" : "s") << "\n";
    if (!missing.isEmpty())
        out << missing.size() << " of " << EndpointTable::allKeys().size()
            << " keys without a valid value: " << missing.join(u", ") << "\n";
    out << allStations().size() << " stations: " << with << " with an address, " << without
        << " without\n";
    if (const qint64 limit = table.hlsMaxBandwidth(); limit > 0)
        out << "HTTP Live Streaming: the version of highest bandwidth up to " << limit << " bit/s\n";
    const QStringList overrides = table.overrides();
    if (!overrides.isEmpty())
        out << overrides.size() << (overrides.size() == 1 ? " station has" : " stations have")
            << " an address of the listener's own: " << overrides.join(u", ") << "\n";
    return (missing.isEmpty() && messages.isEmpty()) ? 0 : 1;
}

int probe(QTextStream &out, const EndpointTable &table, const QString &used, const Options &o)
{
    // The configuration's problems are on standard error already (the table logs them).
    if (used.isEmpty())
        std::fprintf(stderr, "lumora-catalogue: no configuration file found (lumora/endpoints.conf)\n");

    const QList<ProbeResult> results = probeStations(allStations(), table, o.probe);
    if (o.json) {
        out << QString::fromUtf8(probeJson(results));
        out.flush();
        std::fprintf(stderr, "%s\n", qPrintable(probeSummary(results)));
    } else {
        writeProbeTable(out, results);
        out << probeSummary(results) << '\n';
    }
    return allWorking(results) ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qSetMessagePattern(QStringLiteral("%{message}"));
    QTextStream out(stdout);
    out.setEncoding(QStringConverter::Utf8);

    const Options o = parseArguments(app.arguments());
    if (o.help) {
        out << kHelp;
        return 0;
    }
    if (o.version) {
        out << "lumora-catalogue " << kVersion << '\n';
        return 0;
    }
    if (!o.error.isEmpty() || o.command.isEmpty()) {
        std::fprintf(stderr, "lumora-catalogue: %s\n\n%s",
                     o.error.isEmpty() ? "no command given" : qPrintable(o.error), kHelp);
        return 2;
    }
    if (o.probeOptionGiven && o.command != u"probe") {
        std::fprintf(stderr, "lumora-catalogue: --timeout, --jobs and --json go with probe only\n\n%s",
                     kHelp);
        return 2;
    }
    if (o.command == u"template")
        return writeTemplate(out);
    if (o.command == u"init")
        return init(out, o.config.isEmpty() ? EndpointTable::userFile() : o.config);

    QList<ConfigMessage> messages;
    QString used;
    if (o.command == u"list") {
        const EndpointTable table = loadTable(o, &messages, &used);
        return list(out, table);
    }
    if (o.command == u"check") {
        const EndpointTable table = loadTable(o, &messages, &used);
        return check(out, table, messages, used);
    }
    if (o.command == u"probe") {
        const EndpointTable table = loadTable(o, &messages, &used);
        return probe(out, table, used, o);
    }
    std::fprintf(stderr, "lumora-catalogue: unknown command %s\n\n%s", qPrintable(o.command), kHelp);
    return 2;
}
