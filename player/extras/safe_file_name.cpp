#include "safe_file_name.h"

#include <QList>
#include <QTextBoundaryFinder>

namespace lumora {

namespace {

bool refused(char32_t c)
{
    switch (c) {
    case U'/': case U'\\': case U':': case U'*': case U'?': case U'"': case U'<': case U'>': case U'|':
        return true;
    default:
        return false;
    }
}

bool dropped(char32_t c)
{
    if (c == 0x200C || c == 0x200D) // zero-width non-joiner and joiner: spelling, not direction
        return false;
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format: // the direction marks, embeddings, overrides and isolates
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
        return true;
    default:
        return false;
    }
}

} // namespace

QString safeFileName(const QString &text, int maxBytes, const QString &fallback)
{
    QString out;
    bool space = false;
    for (char32_t c : text.toUcs4()) {
        if (QChar::isSpace(c)) { // tabs and line breaks too, before controls are dropped
            space = true;
            continue;
        }
        if (dropped(c))
            continue;
        if (space && !out.isEmpty())
            out += u' ';
        space = false;
        if (refused(c))
            out += u'_';
        else
            out += QString::fromUcs4(&c, 1);
    }
    qsizetype start = 0;
    while (start < out.size() && (out[start] == u'.' || out[start] == u' '))
        ++start;
    out = out.mid(start);

    if (out.toUtf8().size() > maxBytes) { // cut between whole characters (graphemes)
        QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, out);
        qsizetype cut = 0;
        int bytes = 0;
        for (qsizetype next = graphemes.toNextBoundary(); next > 0; next = graphemes.toNextBoundary()) {
            bytes += int(QStringView(out).mid(cut, next - cut).toUtf8().size());
            if (bytes > maxBytes)
                break;
            cut = next;
        }
        out.truncate(cut);
        while (out.endsWith(u' ') || out.endsWith(u'.'))
            out.chop(1);
    }
    return out.isEmpty() ? fallback : out;
}

} // namespace lumora
