#pragma once

// TLS for loopback tests: certificates made at run time by the openssl command (a private
// authority and what it signs: a certificate for 127.0.0.1, one for another host, one
// expired; and one signed by itself), and a TLS front for a plain loopback server.

#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslServer>
#include <QTemporaryDir>

namespace lumora::test {

struct TestIdentity {
    QList<QSslCertificate> chain; // the certificate first
    QSslKey key;
    bool isNull() const { return chain.isEmpty() || key.isNull(); }
};

class TestCertificates {
public:
    // Makes them all (well under a second: elliptic-curve keys); ok() says whether openssl ran.
    TestCertificates();
    bool ok() const { return m_ok; }
    QString error() const { return m_error; }

    QSslCertificate authority() const { return m_authority; }
    TestIdentity trusted() const { return m_trusted; }     // 127.0.0.1, signed by the authority
    TestIdentity otherHost() const { return m_otherHost; } // other.example, signed by the authority
    TestIdentity expired() const { return m_expired; }     // 127.0.0.1, expired yesterday
    TestIdentity selfSigned() const { return m_selfSigned; } // 127.0.0.1, signed by itself

private:
    bool run(const QStringList &arguments);
    TestIdentity leaf(const QString &name, const QString &altName, int days);
    TestIdentity load(const QString &name);

    QTemporaryDir m_dir;
    bool m_ok = false;
    QString m_error;
    QSslCertificate m_authority;
    TestIdentity m_trusted, m_otherHost, m_expired, m_selfSigned;
};

// Makes the authority trusted by every TLS socket made while it lives (Qt's default
// configuration, which a socket copies when it is made), and restores the default after.
class TrustedAuthority {
public:
    explicit TrustedAuthority(const QSslCertificate &authority);
    ~TrustedAuthority();
    TrustedAuthority(const TrustedAuthority &) = delete;
    TrustedAuthority &operator=(const TrustedAuthority &) = delete;

private:
    class QSslConfiguration *m_saved;
};

// TLS on 127.0.0.1 in front of a plain server on backendPort: each connection, once
// encrypted, is piped to a new connection to the backend.
class TlsFront : public QObject {
    Q_OBJECT
public:
    TlsFront(const TestIdentity &identity, quint16 backendPort);
    quint16 port() const { return m_server.serverPort(); }
    QString url(const QString &pathAndQuery) const;
    int handshakes() const { return m_handshakes; } // connections that became encrypted

private:
    QSslServer m_server;
    quint16 m_backend;
    int m_handshakes = 0;
};

} // namespace lumora::test
