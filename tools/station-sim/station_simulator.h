#pragma once

#include "catalogue/endpoint_table.h"
#include "fault.h"
#include "hls_channel.h"
#include "request_log.h"
#include "served_station.h"

#include <QHash>
#include <QList>
#include <QLoggingCategory>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <future>
#include <memory>

class QIODevice;
class QTcpServer;

Q_DECLARE_LOGGING_CATEGORY(lcStationSim)

namespace lumora::sim {

class StationConnection;

// Stands in for the radio servers of the catalogue on loopback. Given an endpoint table whose
// endpoints are all on this machine, it listens on every endpoint's port and answers each
// station address the catalogue composes there, exactly as clients request it on the wire,
// the way a server of that kind would. Lives in the thread that creates it; the event loop
// must run for it to answer.
class StationSimulator : public QObject {
    Q_OBJECT
public:
    explicit StationSimulator(const EndpointTable &table, QObject *parent = nullptr);
    ~StationSimulator() override;

    // Listens on every port. False, with the reason, if any port cannot be bound; then none is.
    bool start(QString *error = nullptr);
    void stop();
    bool isRunning() const { return m_running; }

    const QList<ServedStation> &served() const { return m_served; }
    // Stations the table lacks a value for (left unserved).
    const QStringList &unserved() const { return m_unserved; }
    // The endpoint ports, the ones the addresses name.
    QList<quint16> ports() const;
    // Listens for the stations of endpointPort on listenPort instead, so that a relay (a
    // RoughLink) can take endpointPort and pass the connections on. Addresses, playlists and
    // the request log still name endpointPort. Set before start().
    void setListenPort(quint16 endpointPort, quint16 listenPort) { m_listenPorts.insert(endpointPort, listenPort); }
    const ServedStation *servedFor(const Station &station) const;
    const ServedStation *servedFor(const QString &address) const;
    const ServedStation *servedByIndex(int index) const;

    // The tone of an address this simulator serves, or -1.
    int toneHz(const QString &address) const;
    // The tone of a station's address, whatever the endpoint values.
    static int toneHz(const Station &station) { return toneHzOf(station); }

    // Faults. A port fault covers every request on the port and wins over a station fault.
    // Refuse closes the port (for a station: the station's port).
    void setFault(const Station &station, Fault fault);
    void setFault(const QString &address, Fault fault);
    void setPortFault(quint16 port, Fault fault);
    void clearFaults();
    Fault stationFault(const ServedStation &s) const { return m_stationFaults.value(s.index, Fault::None); }
    Fault portFault(quint16 port) const { return m_portFaults.value(port, Fault::None); }

    // Length of the MP3 files of the "MP3" kind (default 30 s) and of the RealMedia file
    // (default 300 s). Set before the first request for the file.
    void setMp3FileSeconds(int seconds) { m_mp3FileSeconds = seconds; }
    int mp3FileSeconds() const { return m_mp3FileSeconds; }
    void setRealFileSeconds(int seconds) { m_realFileSeconds = seconds; }
    int realFileSeconds() const { return m_realFileSeconds; }
    // Audio a live stream sends at once before pacing in real time (default 2000 ms).
    void setBurstMs(int ms) { m_burstMs = ms; }
    int burstMs() const { return m_burstMs; }
    // The bit rate of the live MP3 streams, in kbit/s (default 32).
    void setLiveMp3Kbps(int kbps) { m_liveMp3Kbps = kbps; }
    int liveMp3Kbps() const { return m_liveMp3Kbps; }
    // Where the redirect-local fault sends every request (default "file:///etc/passwd").
    void setLocalRedirectTarget(const QString &target) { m_localRedirectTarget = target; }
    QString localRedirectTarget() const { return m_localRedirectTarget; }
    // Time between the audio pages of the sparse-ogg fault, and the audio each carries
    // (default 4000 ms).
    void setSparsePageMs(int ms) { m_sparsePageMs = ms; }
    int sparsePageMs() const { return m_sparsePageMs; }
    // Number of redirects of the redirect-chain fault before the real answer (default 3).
    void setRedirectChainLength(int hops) { m_chainLength = hops; }
    int redirectChainLength() const { return m_chainLength; }

    // The StreamTitle and icy-name bytes of the cp1256-title fault: the station's caption in
    // Windows-1256; and the text a client that reads them right shows.
    static QByteArray cp1256TitleBytes(const ServedStation &s);
    static QString cp1256Title(const ServedStation &s);
    // The StreamTitle and icy-name of the latin1-title fault, as a client that reads them
    // right shows them; they are sent in Latin-1.
    static QString latin1Title();
    // The nth StreamTitle (n = 0, 1, ...) of the hostile-title fault, sent as UTF-8: markup,
    // a right-to-left override, control characters, the number n, padding to 4000 bytes.
    static QString hostileTitle(int n);
    static constexpr int kHostileTitleBytes = 4000;

    // Live HTTP Live Streaming of every served address, under /sim-hls/N/MODE/ on its port:
    // master.m3u8 (two variants), hi/index.m3u8 and lo/index.m3u8 (media playlists), their
    // segments, hi/init.mp4 (fmp4) and key (aes). The high variant plays the station's tone,
    // the low one hlsLowToneHz, so a listener can tell which is heard.
    static QString hlsAddress(const ServedStation &s, HlsMode mode, const QString &resource = QStringLiteral("master.m3u8"));
    static int hlsLowToneHz(const ServedStation &s) { return s.toneHz() * 3 / 2; }
    // Announced in the master playlist: a variant's peak, as HLS has it, so at least what its
    // MPEG-TS segments carry. The AAC of 64 and 32 kbit/s, a frame to a PES in whole packets,
    // comes to about 114 and 88 kbit/s; packed audio and fMP4 carry less.
    static constexpr int kHlsHighBandwidth = 128000;
    static constexpr int kHlsLowBandwidth = 96000;
    // How often the live HLS renditions made so far are encoded up to the clock.
    static constexpr int kHlsEncodeEveryMs = 250;
    // The AES-128 key of a station's aes mode.
    static QByteArray hlsKey(const ServedStation &s);
    // Segment length of the live HLS streams (default 2000 ms). Set before the first request.
    void setHlsSegmentMs(int ms) { m_hlsSegmentMs = ms; }
    // The rendition of a station, made when first asked for; nothing if it cannot be encoded.
    // Once made, it is encoded as time goes, as a live encoder does.
    HlsChannel *hlsChannel(const ServedStation &s, HlsMode mode, bool low);

    QList<RequestRecord> requestLog() const { return m_log; }
    void clearRequestLog() { m_log.clear(); }
    // Also writes each log line to this device (not owned), e.g. a file or stdout.
    void setLogDevice(QIODevice *device) { m_logDevice = device; }

    // Used by connections.
    const ServedStation *match(quint16 port, const QByteArray &target) const;
    // The file a file-kind station (MP3 file, RealMedia) serves. start() encodes them on a
    // worker thread; mediaFile() waits for the encoding when it is not ready yet.
    bool mediaFileReady(const ServedStation &s) const;
    QByteArray mediaFile(const ServedStation &s);
    // The station's file as AAC in ADTS frames instead of MP3 (the id3-cover-aac fault), as
    // long as its MP3 file; made at the first request and kept.
    QByteArray aacFile(const ServedStation &s);
    void record(const RequestRecord &r);
    // second-differs: true the first time this target is asked for on this port, false after
    // (until clearFaults, or the next start).
    bool firstRequest(quint16 port, const QByteArray &target);
    // mmst-silent on the port or on a station of it: connections that speak no HTTP are
    // accepted and never answered rather than closed.
    bool ignoresNonHttp(quint16 port) const;

signals:
    void requestLogged(const lumora::sim::RequestRecord &record);

private:
    void onNewConnection(QTcpServer *server, quint16 endpointPort);
    void applyRefusals();
    bool listen(quint16 port, QString *error);

    QList<ServedStation> m_served;
    QStringList m_unserved;
    QHash<quint16, QHash<QByteArray, qsizetype>> m_byTarget; // port -> wire target -> served
    QMap<quint16, QTcpServer *> m_servers; // by endpoint port
    QHash<quint16, quint16> m_listenPorts; // endpoint port -> port listened on, where they differ
    QList<QPointer<StationConnection>> m_connections;
    int m_accepted = 0;
    QHash<int, Fault> m_stationFaults;
    QHash<quint16, Fault> m_portFaults;
    QSet<QPair<quint16, QByteArray>> m_requested; // second-differs: targets answered once
    QHash<int, std::shared_future<QByteArray>> m_files;
    QHash<int, QByteArray> m_aacFiles;
    void prepareFiles();
    QList<RequestRecord> m_log;
    QIODevice *m_logDevice = nullptr;
    QHash<QString, std::shared_ptr<HlsChannel>> m_hls; // "index/mode/variant"
    QTimer m_hlsEncoder;                               // keeps them up with the clock
    int m_hlsSegmentMs = 2000;
    int m_mp3FileSeconds = 30;
    int m_realFileSeconds = 300;
    int m_burstMs = 2000;
    int m_liveMp3Kbps = 32;
    int m_chainLength = 3;
    int m_sparsePageMs = 4000;
    QString m_localRedirectTarget = QStringLiteral("file:///etc/passwd");
    bool m_running = false;
};

// An endpoint table pointing every endpoint at 127.0.0.1, E01 on ports[0] up to E65 on
// ports[64], with valid values for the eleven address pieces: the demo configuration.
EndpointTable loopbackTable(const QList<quint16> &ports);
// The same as configuration file text.
QByteArray loopbackConfig(const QList<quint16> &ports);
// n distinct loopback ports that are free right now.
QList<quint16> freeLoopbackPorts(int n);

} // namespace lumora::sim
