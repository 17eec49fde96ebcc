#pragma once

#include "http_response.h"
#include "lumora_version.h"
#include "player/common/player_status.h"
#include "proxy_route.h"

#include <QByteArray>
#include <QList>
#include <QSslError>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>
#include <utility>

class QAbstractSocket;

namespace lumora {

class HttpConnectionPool;

// Where an http(s) address points: what a request needs to reach it.
struct HttpTarget {
    bool tls = false;
    QString host;
    quint16 port = 0;
    QString authority; // host[:port] as written, for the Host header
    QString path;      // path and query, at least "/"

    // Splits a wire-form http, https or mmsh address (mmsh is HTTP underneath); nothing else.
    static std::optional<HttpTarget> parse(const QString &wireAddress, QString *error = nullptr);
};

// One request, on a connection of its own or one kept from an earlier request (below), and
// its answer read through HttpResponseParser.
// The owner reads the answer as it comes (headReady, bodyReady) and may pause the reading
// while it cannot take more; a paused request leaves the bytes in the kernel, so the server
// is held back by TCP. Every phase has a deadline: connecting and the head within the answer
// time-out, then no silence longer than the idle time-out.
//
// The connection goes through the proxy the environment names (ProxyEnvironment): a plain
// request is sent to an HTTP proxy in absolute form, https goes through a CONNECT tunnel (the
// certificate is checked against the station's host, as without a proxy), and a SOCKS5 proxy
// is left to the socket. A proxy that cannot be reached, refuses the tunnel or asks for
// credentials fails the request with a reason of its own.
//
// By default the request is HTTP/1.0 with "Connection: close": a radio stream is one endless
// body. A request given a connection pool speaks HTTP/1.1 and asks to keep the connection: it
// takes an open one of the same origin from the pool when there is one, and gives its own
// back once the answer has been read to its end, when nothing casts doubt on the next answer
// starting where this one ended (Content-Length or chunked framing, no "Connection: close",
// no HTTP/1.0, nothing sent beyond the end). A kept connection the server closed before
// a byte of the answer came is replaced by a new one, once.
//
// A plain socket rather than QNetworkAccessManager because SHOUTcast servers answer with an
// "ICY 200 OK" status line, which QNetworkAccessManager rejects, and because nothing here
// may follow a redirect by itself: the caller checks every target first.
class HttpRequest : public QObject {
    Q_OBJECT
public:
    struct Options {
        int answerTimeoutMs = 8000; // connection and the whole head
        int idleTimeoutMs = 8000;   // the longest silence once the head is in
        bool icyMetadata = false;   // ask for ICY metadata (Icy-MetaData: 1)
        QList<std::pair<QByteArray, QByteArray>> headers; // further request headers
        QByteArray userAgent = kUserAgent;
        bool http11 = false; // HTTP/1.1 (with "Connection: close" unless kept)
        // Where the connection comes from and goes back to (HTTP/1.1, keep-alive); none: a
        // connection of the request's own.
        QPointer<HttpConnectionPool> connections;
    };

    explicit HttpRequest(QObject *parent = nullptr);
    ~HttpRequest() override;

    // Starts the request; no signal comes from inside this call.
    void start(const QString &wireAddress, const Options &options);
    // Drops the connection; no signal follows.
    void abort();
    // Aborts request and deletes it once control is back in the event loop: it may be
    // inside one of its own signals.
    static void discard(std::unique_ptr<HttpRequest> &request);
    // Stops (true) or resumes (false) taking bytes from the connection.
    void setPaused(bool paused);
    // The longest silence from now on, once the head is in (a live stream's may be long).
    void setIdleTimeoutMs(int ms);
    // Takes at once what the connection holds in the kernel, as if it had just become
    // readable: bodyReady() and the like may come from inside this call.
    void readWaiting();
    // The TCP (and TLS) connection was made: a failure after this is no network problem.
    bool wasConnected() const { return m_connected; }

    HttpResponseParser &response() { return m_parser; }
    const HttpHead &head() const { return m_parser.head(); }
    QString address() const { return m_address; }
    bool isFinished() const { return m_done; }

signals:
    void headReady();
    void bodyReady();      // new body bytes (or metadata) wait in response()
    void finished();       // the body is complete (or the connection ended after the head)
    // The request failed before or during its answer: why, and what to tell a listener.
    void failed(lumora::OpenFailure failure, const QString &reason);

private:
    void connectFresh();
    void adopt(std::unique_ptr<QAbstractSocket> socket);
    void watchSocket();
    bool retryFresh();
    bool reusable() const;
    void releaseSocket();
    void onTcpConnected();
    void onConnected();
    void onReadable();
    void readTunnelAnswer();
    void onSslErrors(const QList<QSslError> &errors);
    void onClosed();
    void onSocketError();
    void afterParse(HttpResponseParser::State state);
    void fail(OpenFailure failure, const QString &reason);
    void dropSocket();

    QString m_address;
    Options m_options;
    QByteArray m_request;
    QAbstractSocket *m_socket = nullptr;
    HttpTarget m_target;
    ProxyRoute m_proxy;
    QByteArray m_origin;        // what a kept connection must have been made for
    qint64 m_answerBytes = 0;   // bytes of the answer read from the connection
    bool m_reused = false;      // on a kept connection, not yet replaced by a new one
    QByteArray m_tunnelAnswer;  // the proxy's answer to CONNECT, until its blank line
    bool m_tunnelling = false;  // CONNECT sent, its answer not yet in
    bool m_reachedProxy = false; // the TCP connection to the proxy (or server) is made
    HttpResponseParser m_parser;
    QTimer m_timer;
    bool m_headSeen = false;
    bool m_connected = false;
    bool m_paused = false;
    bool m_done = false;
};

} // namespace lumora
