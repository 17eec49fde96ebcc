#pragma once

#include "http_fetch.h"
#include "player/common/player_status.h"

#include <QObject>
#include <QString>
#include <memory>

namespace lumora {

// One try to connect a live stream again, at the address it was playing from: a GET through
// the same checks as the first connection (http and https only, redirects checked and counted,
// the answer judged by HttpFetch) that must answer as a stream. It tells whether a failure was
// the network's (no name, no route, no connection made) or the station's own answer.
class StreamRedial : public QObject {
    Q_OBJECT
public:
    StreamRedial(const QString &wireAddress, int answerTimeoutMs, int maxRedirects);
    ~StreamRedial() override;

    // Starts the try; connected() or failed() follow, never from inside this call.
    void start();
    // After connected(): the connection, its head in, and the body read so far. Once.
    std::unique_ptr<HttpRequest> takeConnection(QByteArray *firstBytes);

signals:
    void connected();
    // networkDown: the server was never reached (no name, no route, no connection in time).
    void failed(lumora::OpenFailure failure, const QString &reason, bool networkDown);

private:
    void fetch(const QString &address);
    void onFetched(const FetchResult &result);

    const QString m_address;
    const int m_answerTimeoutMs;
    const int m_maxRedirects;
    int m_redirects = 0;
    std::unique_ptr<HttpFetch> m_fetch;
};

} // namespace lumora
