#include "test_tls.h"

#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QSslConfiguration>
#include <QSslSocket>

namespace lumora::test {

namespace {

const QStringList kEcKey = {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                            QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};

} // namespace

TestCertificates::TestCertificates()
{
    const QString dir = m_dir.path() + u'/';
    if (!run(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + kEcKey
             + QStringList{QStringLiteral("-keyout"), dir + QStringLiteral("ca.key"), QStringLiteral("-out"),
                           dir + QStringLiteral("ca.pem"), QStringLiteral("-days"), QStringLiteral("2"),
                           QStringLiteral("-subj"), QStringLiteral("/CN=Lumora Test Authority")}))
        return;
    const QList<QSslCertificate> ca = QSslCertificate::fromPath(dir + QStringLiteral("ca.pem"));
    if (ca.isEmpty()) {
        m_error = QStringLiteral("the authority's certificate cannot be read");
        return;
    }
    m_authority = ca.first();
    m_trusted = leaf(QStringLiteral("trusted"), QStringLiteral("IP:127.0.0.1"), 2);
    m_otherHost = leaf(QStringLiteral("other"), QStringLiteral("DNS:other.example"), 2);
    m_expired = leaf(QStringLiteral("expired"), QStringLiteral("IP:127.0.0.1"), -1); // ended before it began
    if (run(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + kEcKey
            + QStringList{QStringLiteral("-keyout"), dir + QStringLiteral("self.key"), QStringLiteral("-out"),
                          dir + QStringLiteral("self.pem"), QStringLiteral("-days"), QStringLiteral("2"),
                          QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                          QStringLiteral("subjectAltName=IP:127.0.0.1")}))
        m_selfSigned = load(QStringLiteral("self"));
    m_ok = m_error.isEmpty() && !m_trusted.isNull() && !m_otherHost.isNull() && !m_expired.isNull()
        && !m_selfSigned.isNull();
}

bool TestCertificates::run(const QStringList &arguments)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        m_error = QStringLiteral("openssl %1: %2").arg(arguments.first(), QString::fromLocal8Bit(openssl.readAllStandardError()));
        return false;
    }
    return true;
}

TestIdentity TestCertificates::leaf(const QString &name, const QString &altName, int days)
{
    const QString base = m_dir.path() + u'/' + name;
    QFile ext(base + QStringLiteral(".ext"));
    if (!ext.open(QIODevice::WriteOnly))
        return {};
    ext.write("subjectAltName=" + altName.toLatin1() + "\n");
    ext.close();
    if (!run(QStringList{QStringLiteral("req"), QStringLiteral("-new")} + kEcKey
             + QStringList{QStringLiteral("-keyout"), base + QStringLiteral(".key"), QStringLiteral("-out"),
                           base + QStringLiteral(".csr"), QStringLiteral("-subj"),
                           QStringLiteral("/CN=") + altName.mid(altName.indexOf(u':') + 1)}))
        return {};
    const QString dir = m_dir.path() + u'/';
    if (!run({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), base + QStringLiteral(".csr"),
              QStringLiteral("-CA"), dir + QStringLiteral("ca.pem"), QStringLiteral("-CAkey"), dir + QStringLiteral("ca.key"),
              QStringLiteral("-CAcreateserial"), QStringLiteral("-out"), base + QStringLiteral(".pem"),
              QStringLiteral("-days"), QString::number(days), QStringLiteral("-extfile"), base + QStringLiteral(".ext")}))
        return {};
    TestIdentity id = load(name);
    if (!id.isNull())
        id.chain << m_authority;
    return id;
}

TestIdentity TestCertificates::load(const QString &name)
{
    const QString base = m_dir.path() + u'/' + name;
    TestIdentity id;
    id.chain = QSslCertificate::fromPath(base + QStringLiteral(".pem"));
    QFile key(base + QStringLiteral(".key"));
    if (key.open(QIODevice::ReadOnly))
        id.key = QSslKey(key.readAll(), QSsl::Ec);
    if (id.isNull())
        m_error = QStringLiteral("cannot read %1").arg(name);
    return id;
}

TrustedAuthority::TrustedAuthority(const QSslCertificate &authority)
    : m_saved(new QSslConfiguration(QSslConfiguration::defaultConfiguration()))
{
    QSslConfiguration config = *m_saved;
    config.addCaCertificate(authority);
    QSslConfiguration::setDefaultConfiguration(config);
}

TrustedAuthority::~TrustedAuthority()
{
    QSslConfiguration::setDefaultConfiguration(*m_saved);
    delete m_saved;
}

TlsFront::TlsFront(const TestIdentity &identity, quint16 backendPort) : m_backend(backendPort)
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificateChain(identity.chain);
    config.setPrivateKey(identity.key);
    config.setPeerVerifyMode(QSslSocket::VerifyNone);
    m_server.setSslConfiguration(config);
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QSslServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *s = m_server.nextPendingConnection()) {
            auto *client = qobject_cast<QSslSocket *>(s);
            connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
            ++m_handshakes;
            auto *backend = new QTcpSocket(client);
            QPointer<QAbstractSocket> c(client); // base class: see pipe() in loopback_proxy.cpp
            QPointer<QAbstractSocket> b(backend);
            connect(client, &QSslSocket::readyRead, backend, [c, b] {
                if (b && b->state() == QAbstractSocket::ConnectedState)
                    b->write(c->readAll());
            });
            connect(backend, &QTcpSocket::connected, client, [c, b] {
                if (!c || !c->isOpen())
                    return;
                // Bytes passed on at once, as a TLS-terminating server does on a kept
                // connection: no answer's end held back for the client's delayed acknowledgement.
                c->setSocketOption(QAbstractSocket::LowDelayOption, 1);
                b->setSocketOption(QAbstractSocket::LowDelayOption, 1);
                b->write(c->readAll());
            });
            connect(backend, &QTcpSocket::readyRead, client, [c, b] {
                if (c && c->isOpen())
                    c->write(b->readAll());
            });
            connect(backend, &QTcpSocket::disconnected, client, [c, b] {
                if (c && c->isOpen()) {
                    c->write(b->readAll());
                    c->disconnectFromHost();
                }
            });
            connect(client, &QTcpSocket::disconnected, backend, [b] { b->abort(); });
            backend->connectToHost(QHostAddress::LocalHost, m_backend);
        }
    });
}

QString TlsFront::url(const QString &pathAndQuery) const
{
    return QStringLiteral("https://127.0.0.1:%1%2").arg(port()).arg(pathAndQuery);
}

} // namespace lumora::test
