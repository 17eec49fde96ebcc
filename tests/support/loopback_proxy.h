#pragma once

// A tiny HTTP proxy on 127.0.0.1 for tests, as tinyproxy or squid behave: plain requests in
// absolute form are forwarded (the request line made origin-form again), CONNECT opens a
// tunnel; optionally it asks for Basic credentials (407) or refuses tunnels (403). It counts
// what it was asked.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>

namespace lumora::test {

class LoopbackProxy : public QObject {
    Q_OBJECT
public:
    LoopbackProxy();

    quint16 port() const { return m_server.serverPort(); }
    // "http://[user:password@]127.0.0.1:port", as http_proxy holds it.
    QString url(const QString &user = {}, const QString &password = {}) const;

    // Only requests with these Basic credentials are served; others get 407.
    void requireCredentials(const QByteArray &user, const QByteArray &password);
    // CONNECT answered with 403.
    void setRefuseTunnels(bool refuse) { m_refuseTunnels = refuse; }

    // Every request line taken, in order ("CONNECT 127.0.0.1:4433 HTTP/1.1", "GET http://...").
    QList<QByteArray> requestLines() const { return m_requestLines; }
    int tunnels() const;   // CONNECT requests
    int forwarded() const; // plain requests
    QList<QByteArray> authorizations() const { return m_authorizations; } // Proxy-Authorization values

private:
    void accept(class QTcpSocket *client);
    void handle(QTcpSocket *client, const QByteArray &head, const QByteArray &rest);

    QTcpServer m_server;
    QByteArray m_expectedAuthorization;
    bool m_refuseTunnels = false;
    QList<QByteArray> m_requestLines;
    QList<QByteArray> m_authorizations;
};

} // namespace lumora::test
