#include "proxy_route.h"

#include "catalogue/authority.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QLoggingCategory>
#include <QUrl>

Q_DECLARE_LOGGING_CATEGORY(lcHttp)

namespace lumora {

namespace {

QString environment(const char *lower, const char *upper)
{
    const QString value = qEnvironmentVariable(lower);
    return value.isEmpty() ? qEnvironmentVariable(upper) : value;
}

// One no_proxy entry taken apart: its host (brackets off, dots at the ends off, lower case),
// its port (0: any), and, for an address with "/bits", the network.
struct NoProxyEntry {
    QString host;
    quint16 port = 0;
    int prefix = -1; // bits of a network; -1: no network
};

NoProxyEntry readEntry(QString entry)
{
    NoProxyEntry e;
    const qsizetype slash = entry.indexOf(u'/');
    if (slash >= 0) {
        bool ok = false;
        const int bits = entry.mid(slash + 1).toInt(&ok);
        e.prefix = ok ? bits : -1;
        entry.truncate(slash);
    }
    if (entry.startsWith(u'[')) {
        const qsizetype close = entry.indexOf(u']');
        if (close > 0) {
            if (entry.mid(close + 1).startsWith(u':'))
                e.port = portNumber(entry.mid(close + 2)).value_or(0);
            entry = entry.mid(1, close - 1);
        }
    } else if (entry.count(u':') == 1) { // more than one: an IPv6 address without a port
        const qsizetype colon = entry.indexOf(u':');
        e.port = portNumber(entry.mid(colon + 1)).value_or(0);
        entry.truncate(colon);
    }
    while (entry.startsWith(u'.'))
        entry.remove(0, 1);
    while (entry.endsWith(u'.'))
        entry.chop(1);
    e.host = entry.toLower();
    return e;
}

} // namespace

ProxyEnvironment ProxyEnvironment::current()
{
    return {environment("http_proxy", "HTTP_PROXY"), environment("https_proxy", "HTTPS_PROXY"),
            environment("all_proxy", "ALL_PROXY"), environment("no_proxy", "NO_PROXY")};
}

QByteArray ProxyRoute::authorization() const
{
    if (!hasCredentials())
        return {};
    return "Basic " + (user + u':' + password).toUtf8().toBase64();
}

ProxyRoute ProxyRoute::parse(const QString &proxyAddress, QString *problem)
{
    const QString text = proxyAddress.trimmed();
    if (text.isEmpty())
        return {};
    auto no = [&](const QString &why) {
        if (problem)
            *problem = why;
        return ProxyRoute{};
    };
    // Without a scheme it is an HTTP proxy, as every program that reads these names takes it.
    const QUrl url(text.contains(u"://") ? text : QStringLiteral("http://") + text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return no(QStringLiteral("cannot read the proxy address \"%1\"").arg(text.left(200)));
    ProxyRoute r;
    const QString scheme = url.scheme().toLower();
    if (scheme == u"http") {
        r.kind = Kind::Http;
        r.port = quint16(url.port(80));
    } else if (scheme == u"socks5" || scheme == u"socks5h" || scheme == u"socks") {
        r.kind = Kind::Socks5;
        r.port = quint16(url.port(1080));
    } else {
        return no(QStringLiteral("a %1 proxy is not supported").arg(scheme.left(20)));
    }
    if (r.port == 0)
        return no(QStringLiteral("the proxy address \"%1\" has no port").arg(text.left(200)));
    r.host = url.host();
    r.user = url.userName(QUrl::FullyDecoded);
    r.password = url.password(QUrl::FullyDecoded);
    return r;
}

ProxyRoute ProxyRoute::choose(const ProxyEnvironment &env, const QString &scheme, const QString &host, quint16 port,
                              QString *problem)
{
    QString address = scheme == u"https" ? env.https : env.http; // mmsh is HTTP underneath
    if (address.trimmed().isEmpty())
        address = env.all;
    if (address.trimmed().isEmpty() || bypassesProxy(env.noProxy, host, port))
        return {};
    QString why;
    const ProxyRoute route = parse(address, &why);
    if (!why.isEmpty()) {
        qCWarning(lcHttp) << "proxy left out:" << why;
        if (problem)
            *problem = why;
    }
    return route;
}

bool bypassesProxy(const QString &noProxy, const QString &host, quint16 port)
{
    if (noProxy.trimmed().isEmpty())
        return false;
    QString name = host.toLower();
    if (name.startsWith(u'[') && name.endsWith(u']'))
        name = name.mid(1, name.size() - 2);
    while (name.endsWith(u'.'))
        name.chop(1);
    const QHostAddress address(name);
    const QStringList entries = noProxy.split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts);
    for (const QString &raw : entries) {
        if (raw == u"*")
            return true;
        const NoProxyEntry e = readEntry(raw);
        if (e.host.isEmpty() || (e.port != 0 && e.port != port))
            continue;
        const QHostAddress entryAddress(e.host);
        if (!entryAddress.isNull()) {
            if (address.isNull())
                continue;
            if (e.prefix >= 0 ? address.isInSubnet(entryAddress, e.prefix) : address.isEqual(entryAddress))
                return true;
            continue;
        }
        if (name == e.host || name.endsWith(u'.' + e.host))
            return true;
    }
    return false;
}

} // namespace lumora
