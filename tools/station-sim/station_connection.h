#pragma once

#include "fault.h"
#include "hls_channel.h"
#include "live_source.h"
#include "request_log.h"
#include "served_station.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <memory>

class QTcpSocket;

namespace lumora::sim {

class StationSimulator;

// One client connection: reads one request, answers it as the matching station (or with the
// fault in force), paces live streams in real time, and deletes itself when done. HLS
// playlists, segments and keys asked for with HTTP/1.1 (and no "Connection: close") are
// answered with the connection kept for the next request, as HLS servers do, until it has
// been idle for kKeepAliveMs.
class StationConnection : public QObject {
    Q_OBJECT
public:
    static constexpr int kKeepAliveMs = 15000;

    // number: which connection this is (the request log names it).
    StationConnection(QTcpSocket *socket, StationSimulator *simulator, quint16 endpointPort, int number);
    ~StationConnection() override;

    void abortNow();

private:
    // What the client asked for, once the path is resolved.
    enum class Route { None, Station, HttpStream, MmsStream, Redirect, Hls };
    // How the answer goes out.
    enum class Delivery { Normal, Silent, Stall, Trickle, Reset };

    struct Reply {
        int status = 0;
        QByteArray head;
        QByteArray body;
        std::unique_ptr<LiveSource> live;
        int sliceMs = 0; // > 0: no burst; the live body goes out in slices of this much audio
    };

    void onReadyRead();
    void handle(const QByteArray &head);
    Reply answer(Route route, const ServedStation *s, Fault fault, int hop);
    Reply stationAnswer(const ServedStation &s);
    Reply httpStream(const ServedStation &s);
    Reply icyServer(const ServedStation &s);
    Reply tenBytes(const ServedStation &s);
    Reply hugeChunk(const ServedStation &s, bool page);
    Reply badLength(const ServedStation &s, const QByteArray &length);
    Reply sparseOgg(const ServedStation &s);
    Reply mmsh(const ServedStation &s, bool pcm);
    Reply hls(const ServedStation &s, const QByteArray &path);
    Reply hlsMaster(const ServedStation &s, HlsMode mode, const QByteArray &base);
    Reply document(int status, const QByteArray &reason, const QByteArray &type,
                   const QByteArray &body, const QByteArray &extraHeaders = {});
    Reply redirect(const QString &location);
    Reply mediaFile(const QByteArray &file, const QByteArray &type);
    void deliver(Reply reply, Delivery delivery);
    void tick();
    void trickleTick();
    void resetConnection();
    void finishWhenWritten();
    void awaitNextRequest();
    QByteArray requestHeader(const QByteArray &name) const;

    QTcpSocket *m_socket;
    StationSimulator *m_sim;
    quint16 m_endpointPort; // the port the client asked for, in front of any relay
    int m_number;
    QByteArray m_buffer;
    qsizetype m_requestBytes = 0; // the request being answered, head and blank line
    bool m_keepAlive = false;     // this answer leaves the connection open
    QTimer m_idle;
    bool m_handled = false;
    bool m_headOnly = false;
    Fault m_fault = Fault::None;
    QList<QPair<QByteArray, QByteArray>> m_headers;
    RequestRecord m_record;

    std::unique_ptr<LiveSource> m_live;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_producedMs = 0;
    qint64 m_burstMs = 0;
    int m_sliceMs = 0;
    QByteArray m_pending; // trickle: bytes still to send
    QByteArray m_hlsPath; // Hls: what follows the station's number
};

} // namespace lumora::sim
