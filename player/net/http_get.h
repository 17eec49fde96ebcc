#pragma once

#include "http_connection_pool.h"
#include "http_request.h"
#include "player/common/player_status.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <memory>

namespace lumora {

// One GET of a small resource read whole: a playlist, a segment, a key. Bounded in time (one
// deadline for connecting, the answer and the whole body) and in size (a larger body, or one
// announced larger, fails at once). Redirects are not followed: HLS servers send their
// resources directly, and an address a server names is checked where it is read.
//
// HTTP/1.1: the answer may be chunked. Given a connection pool, the connection is kept for the
// next fetch of the same origin (see HttpRequest); otherwise it is closed after the answer.
class HttpGet : public QObject {
    Q_OBJECT
public:
    struct Limits {
        int deadlineMs = 8000;
        qint64 maxBytes = 1024 * 1024;
        qint64 rangeOffset = 0;  // with rangeLength >= 0: ask for these bytes only
        qint64 rangeLength = -1;
    };

    explicit HttpGet(QObject *parent = nullptr);
    ~HttpGet() override;

    // Where the fetches take their connection from and give it back to; set before start().
    void setConnectionPool(HttpConnectionPool *pool) { m_pool = pool; }
    // Starts the request; done() or failed() follow, never from inside this call.
    void start(const QString &wireAddress, const Limits &limits);
    void abort();
    // Milliseconds from start() to the last byte.
    qint64 elapsedMs() const { return m_elapsedMs; }

signals:
    void done(const QByteArray &body);
    // status: the answer's status code when it was one (404 and the like), else 0.
    void failed(lumora::OpenFailure failure, const QString &reason, int status);

private:
    void onHead();
    void onBody();
    void onFinished();
    void fail(OpenFailure failure, const QString &reason, int status = 0);

    Limits m_limits;
    QPointer<HttpConnectionPool> m_pool;
    std::unique_ptr<HttpRequest> m_request;
    QByteArray m_body;
    QTimer m_deadline;
    QElapsedTimer m_clock;
    qint64 m_elapsedMs = 0;
    bool m_done = false;
};

} // namespace lumora
