#include "key_schema.h"

#include "page.h"

namespace lumora::keys {
namespace {

constexpr KeyRow kPieces[] = {
    {"Form2.Command5.account", KeyKind::Name, "the broadcaster's account name", "radioparty"},
    {"Form2.Command5.domain", KeyKind::Name, "the streaming provider's domain name, each dot replaced by '_'",
     "stream_lumora_test"},
    {"Form2.Command10.domain", KeyKind::Name,
     "the endpoint's domain name without its first label, in mixed capitals", "NogoumFM.Com"},
    {"Form4.Command12.id", KeyKind::Id, "32 lowercase hexadecimal digits (the query value)",
     "4f3c2a1b0e9d8c7b6a5f4e3d2c1b0a99"},
    {"Form11.Command1.stream", KeyKind::Stream, "stream identifier: lowercase GUID",
     "0c1d2e3f-4a5b-4c6d-8e7f-901a2b3c4d5e"},
    {"Form16.Command4.account", KeyKind::Name, "the account name", "alburaq"},
    {"Form16.Command5.site", KeyKind::Name,
     "site name: the endpoint's domain name without its first and last labels", "baladjenin"},
    {"Form16.Command19.id", KeyKind::Id, "32 lowercase hexadecimal digits", "a1b2c3d4e5f60718293a4b5c6d7e8f90"},
    {"Form16.Command21.domain", KeyKind::Name, "a domain name, each dot replaced by '-'", "almanar-example-ps"},
    {"Form17.Command9.stream", KeyKind::Stream, "stream identifier: lowercase GUID",
     "5b6c7d8e-9f01-4a2b-8c3d-4e5f60718293"},
    {"Form17.Command14.stream", KeyKind::Stream, "stream identifier: lowercase GUID",
     "e1f2a3b4-c5d6-4e7f-8091-a2b3c4d5e6f7"},
};

constexpr KeyRow kSettings[] = {
    {kHlsMaxBandwidth, KeyKind::BitRate,
     "the highest bandwidth, in bits per second, of the version of an HTTP Live Streaming "
     "station that is played where it offers several (empty: the best one)",
     "128000"},
};

constexpr const char *kOverrideSchemes[] = {"http", "https", "mms", "mmsh"};

bool isDigits(QStringView s)
{
    if (s.isEmpty())
        return false;
    for (QChar c : s)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

const KeyRow *rowOf(std::span<const KeyRow> rows, QStringView key)
{
    for (const KeyRow &row : rows)
        if (key == QLatin1StringView(row.key))
            return &row;
    return nullptr;
}

} // namespace

QString endpointKey(int number)
{
    return QStringLiteral("E%1").arg(number, 2, 10, QLatin1Char('0'));
}

std::span<const KeyRow> pieces()
{
    return kPieces;
}

const KeyRow *piece(QStringView key)
{
    return rowOf(kPieces, key);
}

std::span<const KeyRow> settings()
{
    return kSettings;
}

const KeyRow *setting(QStringView key)
{
    return rowOf(kSettings, key);
}

QString overrideKey(const Station &station)
{
    return pageName(station.page) + u'.' + station.buttonName();
}

const Station *overriddenStation(QStringView key)
{
    const qsizetype dot = key.indexOf(u'.');
    if (dot < 0)
        return nullptr;
    const auto page = pageFromName(key.left(dot));
    const QStringView button = key.mid(dot + 1);
    if (!page || !button.startsWith(u"Command"))
        return nullptr;
    const QStringView number = button.mid(7);
    // "Command05" is not a button's name: the number is written as the button names it.
    if (!isDigits(number) || number.front() == u'0' || number.size() > 3)
        return nullptr;
    return findStation(*page, number.toInt());
}

std::optional<KeyKind> kindOf(QStringView key)
{
    if (key.size() == 3 && key.front() == u'E' && isDigits(key.mid(1))) {
        const int n = key.mid(1).toInt();
        if (n >= 1 && n <= kEndpointCount)
            return KeyKind::Endpoint;
    }
    if (const KeyRow *row = piece(key))
        return row->kind;
    if (const KeyRow *row = setting(key))
        return row->kind;
    if (overriddenStation(key))
        return KeyKind::Override;
    return std::nullopt;
}

bool isOverrideScheme(QStringView scheme)
{
    for (const char *s : kOverrideSchemes)
        if (scheme == QLatin1StringView(s))
            return true;
    return false;
}

} // namespace lumora::keys
