#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QTimer>
#include <memory>

class QAbstractSocket;

namespace lumora {

// Keeps connections that have just finished an answer, so that the next request to the same
// origin skips the TCP (and TLS, and proxy) set-up. An origin is the scheme, host and port
// and the way there (the proxy route): HttpRequest names it. A kept connection is dropped as
// soon as the server closes it or sends anything unasked, and when it has been idle for
// idleMs. At most two are kept per origin (a playlist reload and a segment fetch may run at
// once) and eight in all; the oldest goes first.
//
// Lives in the thread of the requests that use it; the connections it holds are its children.
class HttpConnectionPool : public QObject {
    Q_OBJECT
public:
    // Longer than the usual HLS segment (2 to 10 s), so that a live stream's fetches, one
    // each target duration, find the last one's connection still open.
    static constexpr int kDefaultIdleMs = 15000;
    static constexpr int kMaxPerOrigin = 2;
    static constexpr int kMaxIdle = 8;

    explicit HttpConnectionPool(int idleMs = kDefaultIdleMs, QObject *parent = nullptr);
    ~HttpConnectionPool() override;

    // The most recently kept connection to origin that is still open, or nothing. The caller
    // owns it from now on (it has no parent) and nothing of the pool's stays connected to it.
    std::unique_ptr<QAbstractSocket> take(const QByteArray &origin);
    // Keeps a connected socket whose last answer was read to its end and nothing after it.
    void keep(const QByteArray &origin, std::unique_ptr<QAbstractSocket> socket);
    // Connections kept now.
    int idleCount() const { return int(m_idle.size()); }

private:
    struct Idle {
        QByteArray origin;
        QAbstractSocket *socket = nullptr;
        QDeadlineTimer expires;
    };

    void drop(QAbstractSocket *socket, const char *why);
    void dropAt(qsizetype index, const char *why);
    void expire();
    void scheduleExpiry();

    int m_idleMs;
    QList<Idle> m_idle; // oldest first
    QTimer m_expiry;
};

} // namespace lumora
