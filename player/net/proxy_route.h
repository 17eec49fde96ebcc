#pragma once

#include <QByteArray>
#include <QString>

namespace lumora {

// The proxy settings a desktop hands its programs through the environment, as curl and most
// Unix programs read them: http_proxy for http (and MMS over HTTP), https_proxy for https,
// all_proxy for whatever has none of its own, no_proxy for the hosts reached directly. Each
// name is read in lower case first, then in upper case.
struct ProxyEnvironment {
    QString http;
    QString https;
    QString all;
    QString noProxy;

    static ProxyEnvironment current(); // this process's environment, read now
};

// How one connection reaches its server: directly, through an HTTP proxy (plain requests
// forwarded in absolute form, https through a CONNECT tunnel) or through a SOCKS5 proxy.
struct ProxyRoute {
    enum class Kind { Direct, Http, Socks5 };

    Kind kind = Kind::Direct;
    QString host;     // the proxy's host (an IPv6 address without brackets)
    quint16 port = 0;
    QString user;     // from the proxy address's user information, percent-decoded
    QString password;

    bool isDirect() const { return kind == Kind::Direct; }
    bool hasCredentials() const { return !user.isEmpty(); }
    // The value of a Proxy-Authorization header (Basic) for the credentials; empty without.
    QByteArray authorization() const;

    // The route to host:port for a request of scheme (http, https or mmsh) under env. A proxy
    // address that cannot be read (or a scheme Lumora does not speak to a proxy) is left out,
    // so the connection goes directly, and problem (when given) says why.
    static ProxyRoute choose(const ProxyEnvironment &env, const QString &scheme, const QString &host,
                             quint16 port, QString *problem = nullptr);
    // A proxy address as the environment writes it: "host:port", "http://user:pw@host:port/",
    // "socks5://host". Direct when it is empty or cannot be read.
    static ProxyRoute parse(const QString &proxyAddress, QString *problem = nullptr);
};

// Whether no_proxy sends host:port past the proxy. The list is separated by commas (or
// spaces); "*" alone matches every host; an entry matches its host and every name below it
// (a leading dot is the same); an entry with ":port" matches that port only; an IP address
// matches itself, and one with "/bits" its whole network. Names compare without case.
bool bypassesProxy(const QString &noProxy, const QString &host, quint16 port);

} // namespace lumora
