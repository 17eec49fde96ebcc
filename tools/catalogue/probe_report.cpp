#include "probe_report.h"

#include "catalogue/page.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>

namespace lumora {

namespace {

// A field of the table: tabs and line breaks (in a server's error text, say) would break the
// columns.
QString cell(QString text)
{
    for (QChar &c : text)
        if (c == u'\t' || c == u'\n' || c == u'\r')
            c = u' ';
    return text;
}

int count(const QList<ProbeResult> &results, ProbeResult::Verdict verdict)
{
    return int(std::count_if(results.begin(), results.end(),
                             [verdict](const ProbeResult &r) { return r.verdict == verdict; }));
}

} // namespace

void writeProbeTable(QTextStream &out, const QList<ProbeResult> &results)
{
    out << "page\tbutton\tcaption\tresult\tstream\ttype\ticy-name\treason\n";
    for (const ProbeResult &r : results) {
        out << pageName(r.station->page) << '\t' << r.station->buttonName() << '\t'
            << r.station->caption() << '\t' << verdictName(r.verdict) << '\t' << r.stream << '\t'
            << cell(r.contentType) << '\t' << cell(r.icyName) << '\t' << cell(r.reason) << '\n';
    }
}

QByteArray probeJson(const QList<ProbeResult> &results)
{
    QJsonArray array;
    for (const ProbeResult &r : results) {
        QJsonObject o;
        o.insert(QStringLiteral("page"), pageName(r.station->page));
        o.insert(QStringLiteral("button"), r.station->buttonName());
        o.insert(QStringLiteral("caption"), r.station->caption());
        o.insert(QStringLiteral("address"), r.address.isEmpty() ? QJsonValue() : QJsonValue(r.address));
        o.insert(QStringLiteral("result"), verdictName(r.verdict));
        const bool working = r.verdict == ProbeResult::Verdict::Working;
        o.insert(QStringLiteral("stream"), working ? QJsonValue(r.stream) : QJsonValue());
        o.insert(QStringLiteral("contentType"), working ? QJsonValue(r.contentType) : QJsonValue());
        o.insert(QStringLiteral("icyName"), working && !r.icyName.isEmpty() ? QJsonValue(r.icyName) : QJsonValue());
        o.insert(QStringLiteral("reason"), r.reason.isEmpty() ? QJsonValue() : QJsonValue(r.reason));
        o.insert(QStringLiteral("missing"), QJsonArray::fromStringList(r.missing));
        o.insert(QStringLiteral("milliseconds"), r.verdict == ProbeResult::Verdict::NoAddress
                                                     ? QJsonValue() : QJsonValue(r.elapsedMs));
        array.append(o);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

QString probeSummary(const QList<ProbeResult> &results)
{
    return QStringLiteral("%1 stations: %2 working, %3 failing, %4 without address")
        .arg(results.size())
        .arg(count(results, ProbeResult::Verdict::Working))
        .arg(count(results, ProbeResult::Verdict::Failing))
        .arg(count(results, ProbeResult::Verdict::NoAddress));
}

bool allWorking(const QList<ProbeResult> &results)
{
    return count(results, ProbeResult::Verdict::Working) == results.size();
}

} // namespace lumora
