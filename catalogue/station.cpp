#include "station.h"

#include <algorithm>

namespace lumora {

QString schemeName(Scheme s)
{
    return s == Scheme::Mms ? QStringLiteral("mms") : QStringLiteral("http");
}

QString kindName(Kind k)
{
    switch (k) {
    case Kind::Asx: return QStringLiteral("ASX");
    case Kind::M3u: return QStringLiteral("M3U");
    case Kind::Pls: return QStringLiteral("PLS");
    case Kind::Wpl: return QStringLiteral("WPL");
    case Kind::Wvx: return QStringLiteral("WVX");
    case Kind::Mp3: return QStringLiteral("MP3");
    case Kind::Rm: return QStringLiteral("RM");
    case Kind::Wm: return QStringLiteral("WM");
    case Kind::Wav: return QStringLiteral("WAV");
    case Kind::Html: return QStringLiteral("HTML");
    case Kind::Php: return QStringLiteral("PHP");
    case Kind::Asp: return QStringLiteral("ASP");
    case Kind::Root: return QStringLiteral("root");
    case Kind::RootQuery: return QStringLiteral("root+query");
    case Kind::NoExtension: return QStringLiteral("no extension");
    }
    return {};
}

QString Station::endpointKey() const
{
    return QStringLiteral("E%1").arg(endpoint, 2, 10, QLatin1Char('0'));
}

QList<RemainderPart> remainderParts(const QString &t)
{
    QList<RemainderPart> parts;
    qsizetype pos = 0;
    while (pos < t.size()) {
        const qsizetype open = t.indexOf(u'{', pos);
        const qsizetype close = open < 0 ? -1 : t.indexOf(u'}', open);
        if (close < 0) {
            parts.append({false, t.mid(pos)});
            break;
        }
        if (open > pos)
            parts.append({false, t.mid(pos, open - pos)});
        parts.append({true, t.mid(open + 1, close - open - 1)});
        pos = close + 1;
    }
    return parts;
}

QStringList Station::pieceKeys() const
{
    QStringList keys;
    for (const RemainderPart &part : remainderParts(remainderTemplate()))
        if (part.isKey)
            keys.append(part.text);
    return keys;
}

std::span<const Station> stationsOf(Page page)
{
    const auto all = allStations();
    const auto first = std::find_if(all.begin(), all.end(),
                                    [page](const Station &s) { return s.page == page; });
    const auto last = std::find_if(first, all.end(),
                                   [page](const Station &s) { return s.page != page; });
    return {first, last};
}

const Station *findStation(Page page, int number)
{
    const auto list = stationsOf(page);
    if (number < 1 || number > int(list.size()))
        return nullptr;
    return &list[number - 1];
}

} // namespace lumora
