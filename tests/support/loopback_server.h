#pragma once

// A tiny HTTP server on 127.0.0.1 for tests: canned answers per path, slow,
// silent and endless (paced, optionally ICY) answers, connections kept for further requests.

#include <QHash>
#include <QPointer>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <memory>

namespace lumora::test {

struct Route {
    QByteArray head = "HTTP/1.0 200 OK\r\n"; // status line and headers, each ending in CRLF
    QByteArray contentType;
    QByteArray body;
    bool contentLength = true;  // add a Content-Length header
    int delayMs = 0;            // wait before answering
    bool silent = false;        // accept and never answer
    bool endless = false;       // repeat body for ever, paced at bytesPerSecond
    int bytesPerSecond = 16000;
    int burstBytes = 64 * 1024; // sent at once before pacing starts
    int icyMetaInt = 0;         // with "Icy-MetaData: 1": a StreamTitle every this many bytes
    QByteArray icyTitle;        // UTF-8
    // When set, titles that change: metadata block n carries icyTitles[n / icyBlocksPerTitle]
    // (cycling), instead of icyTitle.
    QList<QByteArray> icyTitles;
    int icyBlocksPerTitle = 1;
    bool keepAlive = false;     // the connection stays open for the next request
    int pieceBytes = 0;         // > 0: the answer goes out this many bytes at a time, 5 ms apart
};

class LoopbackServer {
public:
    LoopbackServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection())
                accept(s);
        });
    }

    // An MMSH "$H" chunk holding a minimal ASF header: one stream, 3200-byte packets.
    static QByteArray mmshHeaderChunk()
    {
        auto le = [](quint64 v, int bytes) {
            QByteArray b;
            for (int i = 0; i < bytes; ++i)
                b.append(char((v >> (8 * i)) & 0xFF));
            return b;
        };
        QByteArray file = QByteArray::fromHex("A1DCAB8C47A9CF118EE400C00C205365") + le(104, 8) + QByteArray(68, '\0')
            + le(3200, 4) + le(3200, 4) + le(32000, 4);
        QByteArray stream = QByteArray::fromHex("9107DCB7B7A9CF118EE600C00C205365") + le(78, 8) + QByteArray(40, '\0')
            + le(0, 4) + le(0, 4) + le(1, 2) + le(0, 4);
        QByteArray header = QByteArray::fromHex("3026B2758E66CF11A6D900AA0062CE6C");
        header += le(30 + file.size() + stream.size(), 8) + le(2, 4) + "\x01\x02" + file + stream;
        return "$H" + le(header.size() + 8, 2) + le(0, 4) + le(0, 2) + le(header.size() + 8, 2) + header;
    }

    quint16 port() const { return m_server.serverPort(); }
    QString url(const QString &pathAndQuery) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(pathAndQuery);
    }
    void route(const QByteArray &pathAndQuery, const Route &r) { m_routes.insert(pathAndQuery, r); }
    // Called for a request no route matches; returns the route to serve.
    void fallback(std::function<Route(const QByteArray &)> f) { m_fallback = std::move(f); }

    // Connections accepted so far.
    int connections() const { return m_accepted; }
    // A kept connection that has answered this many requests is closed when the next one
    // comes, without an answer, as a server does whose idle time ran out just then. 0: never.
    void setAnswersPerConnection(int n) { m_answersPerConnection = n; }
    // Closes the kept connections waiting for a request.
    void closeIdle()
    {
        for (const QPointer<QAbstractSocket> &s : m_sockets)
            if (s && s->state() == QAbstractSocket::ConnectedState && s->property("idle").toBool())
                s->disconnectFromHost();
    }
    static Route kept(const QByteArray &type, const QByteArray &body)
    {
        Route r = ok(type, body);
        r.head = "HTTP/1.1 200 OK\r\n";
        r.keepAlive = true;
        return r;
    }

    QList<QByteArray> requests() const { return m_requests; }
    int hits(const QByteArray &path) const { return int(m_requests.count(path)); }
    QList<QByteArray> requestHeaders() const { return m_headers; }
    int openConnections() const
    {
        int n = 0;
        for (const QPointer<QAbstractSocket> &s : m_sockets)
            if (s && s->state() == QAbstractSocket::ConnectedState)
                ++n;
        return n;
    }

    static Route ok(const QByteArray &type, const QByteArray &body)
    {
        Route r;
        r.contentType = type;
        r.body = body;
        return r;
    }
    static Route redirect(const QByteArray &location, int code = 302)
    {
        Route r;
        r.head = "HTTP/1.0 " + QByteArray::number(code) + " Moved\r\nLocation: " + location + "\r\n";
        return r;
    }

private:
    void accept(QTcpSocket *s)
    {
        m_sockets << s;
        ++m_accepted;
        auto request = std::make_shared<QByteArray>();
        auto answered = std::make_shared<bool>(false);
        auto answers = std::make_shared<int>(0);
        QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        QObject::connect(s, &QTcpSocket::readyRead, s, [this, s, request, answered, answers] {
            if (*answered) {
                s->readAll();
                return;
            }
            *request += s->readAll();
            if (!request->contains("\r\n\r\n"))
                return;
            s->setProperty("idle", false);
            if (m_answersPerConnection > 0 && *answers >= m_answersPerConnection) {
                s->disconnectFromHost();
                return;
            }
            *answered = true;
            ++*answers;
            const QByteArray head = request->left(request->indexOf("\r\n\r\n"));
            const QList<QByteArray> parts = head.split('\n').first().split(' ');
            QByteArray path = parts.size() > 1 ? parts[1] : QByteArray("/");
            // The absolute form, as a proxy that pipes a kept connection passes it on.
            if (path.startsWith("http://"))
                path = path.mid(path.indexOf('/', 7) < 0 ? path.size() : path.indexOf('/', 7));
            m_requests << path;
            m_headers << head;
            Route r;
            if (m_routes.contains(path))
                r = m_routes.value(path);
            else if (m_fallback)
                r = m_fallback(path);
            else
                r.head = "HTTP/1.0 404 Not Found\r\n";
            const bool icy = r.icyMetaInt > 0 && head.toLower().contains("icy-metadata: 1");
            if (r.silent)
                return;
            auto answer = [this, s, r, icy, request, answered] {
                serve(s, r, icy);
                if (r.keepAlive && !r.endless) {
                    request->clear();
                    *answered = false;
                    s->setProperty("idle", true);
                }
            };
            if (r.delayMs > 0)
                QTimer::singleShot(r.delayMs, s, answer);
            else
                answer();
        });
    }

    static QByteArray icyBlock(const QByteArray &title)
    {
        QByteArray meta = "StreamTitle='" + title + "';";
        const int blocks = int((meta.size() + 15) / 16);
        meta.append(QByteArray(blocks * 16 - meta.size(), '\0'));
        return char(blocks) + meta;
    }

    void serve(QTcpSocket *s, const Route &r, bool icy)
    {
        if (s->state() != QAbstractSocket::ConnectedState)
            return;
        QByteArray head = r.head;
        if (!r.contentType.isEmpty())
            head += "Content-Type: " + r.contentType + "\r\n";
        if (icy)
            head += "icy-metaint: " + QByteArray::number(r.icyMetaInt) + "\r\n";
        if (r.contentLength && !r.endless && !head.startsWith("ICY"))
            head += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
        if (r.pieceBytes > 0 && !r.endless) {
            // In pieces: the client reads the answer split wherever they fall.
            auto rest = std::make_shared<QByteArray>(head + "\r\n" + r.body);
            auto *pace = new QTimer(s);
            QObject::connect(pace, &QTimer::timeout, s, [s, r, rest, pace] {
                s->write(rest->left(r.pieceBytes));
                rest->remove(0, qMin<qsizetype>(r.pieceBytes, rest->size()));
                if (!rest->isEmpty())
                    return;
                pace->deleteLater();
                if (!r.keepAlive)
                    s->disconnectFromHost();
            });
            pace->start(5);
            return;
        }
        s->write(head + "\r\n");
        if (!r.endless) {
            s->write(r.body);
            if (!r.keepAlive)
                s->disconnectFromHost();
            return;
        }
        // Endless: the body again and again, metadata inserted every icyMetaInt bytes.
        auto offset = std::make_shared<qint64>(0);
        auto sinceMeta = std::make_shared<qint64>(0);
        auto blocks = std::make_shared<qint64>(0);
        auto send = [s, r, icy, offset, sinceMeta, blocks](qint64 amount) {
            QByteArray out;
            while (amount > 0 && !r.body.isEmpty()) {
                qint64 n = qMin(amount, r.body.size() - *offset % r.body.size());
                if (icy)
                    n = qMin(n, r.icyMetaInt - *sinceMeta);
                out += r.body.mid(*offset % r.body.size(), n);
                *offset += n;
                amount -= n;
                if (icy) {
                    *sinceMeta += n;
                    if (*sinceMeta == r.icyMetaInt) {
                        const qint64 n = (*blocks)++ / qMax(1, r.icyBlocksPerTitle);
                        out += icyBlock(r.icyTitles.isEmpty() ? r.icyTitle : r.icyTitles[n % r.icyTitles.size()]);
                        *sinceMeta = 0;
                    }
                }
            }
            s->write(out);
        };
        send(r.burstBytes);
        auto *pace = new QTimer(s);
        QObject::connect(pace, &QTimer::timeout, s, [s, r, send] {
            if (s->bytesToWrite() < 64 * 1024)
                send(r.bytesPerSecond / 20);
        });
        pace->start(50);
    }

    QTcpServer m_server;
    QHash<QByteArray, Route> m_routes;
    std::function<Route(const QByteArray &)> m_fallback;
    QList<QByteArray> m_requests;
    QList<QByteArray> m_headers;
    QList<QPointer<QAbstractSocket>> m_sockets;
    int m_accepted = 0;
    int m_answersPerConnection = 0;
};

// A port on 127.0.0.1 where nothing listens.
inline quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace lumora::test
