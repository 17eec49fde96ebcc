#include "station_simulator.h"

#include "catalogue/address.h"
#include "playlist_writer.h"
#include "station_connection.h"
#include "tone_encoder.h"

#include <QHostAddress>
#include <QFileDevice>
#include <QSet>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTcpSocket>

Q_LOGGING_CATEGORY(lcStationSim, "lumora.stationsim", QtInfoMsg)

namespace lumora::sim {
namespace {

using keys::kEndpointCount;

} // namespace

StationSimulator::StationSimulator(const EndpointTable &table, QObject *parent)
    : QObject(parent), m_served(servedStations(table, &m_unserved))
{
    connect(&m_hlsEncoder, &QTimer::timeout, this, [this] {
        for (const std::shared_ptr<HlsChannel> &c : std::as_const(m_hls))
            if (c && c->ok())
                c->keepUp();
    });
    for (qsizetype i = 0; i < m_served.size(); ++i) {
        const ServedStation &s = m_served[i];
        if (s.port == 0) {
            qCWarning(lcStationSim).noquote() << s.label() << "has no port; not served:" << s.address;
            continue;
        }
        auto &targets = m_byTarget[s.port];
        if (targets.contains(s.target))
            qCWarning(lcStationSim).noquote() << s.label() << "has the same address as another station:" << s.address;
        else
            targets.insert(s.target, i);
    }
}

StationSimulator::~StationSimulator()
{
    stop();
}

bool StationSimulator::listen(quint16 port, QString *error)
{
    auto *server = new QTcpServer(this);
    const quint16 bound = m_listenPorts.value(port, port);
    if (!server->listen(QHostAddress::LocalHost, bound)) {
        if (error)
            *error = QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(bound).arg(server->errorString());
        delete server;
        return false;
    }
    connect(server, &QTcpServer::newConnection, this, [this, server, port] { onNewConnection(server, port); });
    m_servers.insert(port, server);
    return true;
}

bool StationSimulator::start(QString *error)
{
    if (m_running)
        return true;
    for (auto it = m_byTarget.cbegin(); it != m_byTarget.cend(); ++it) {
        if (!listen(it.key(), error)) {
            stop();
            return false;
        }
    }
    m_running = true;
    m_requested.clear(); // second-differs counts per run
    prepareFiles();
    applyRefusals();
    qCInfo(lcStationSim).noquote() << "serving" << m_served.size() << "addresses on"
                                   << m_byTarget.size() << "ports";
    return true;
}

void StationSimulator::stop()
{
    for (const auto &c : std::as_const(m_connections))
        if (c) {
            c->abortNow();
            delete c.data();
        }
    m_connections.clear();
    qDeleteAll(m_servers);
    m_servers.clear();
    m_running = false;
}

QList<quint16> StationSimulator::ports() const
{
    QList<quint16> p = m_byTarget.keys();
    std::sort(p.begin(), p.end());
    return p;
}

const ServedStation *StationSimulator::servedFor(const Station &station) const
{
    for (const ServedStation &s : m_served)
        if (s.stations.contains(&station))
            return &s;
    return nullptr;
}

const ServedStation *StationSimulator::servedFor(const QString &address) const
{
    for (const ServedStation &s : m_served)
        if (s.address == address)
            return &s;
    return nullptr;
}

const ServedStation *StationSimulator::servedByIndex(int index) const
{
    for (const ServedStation &s : m_served)
        if (s.index == index)
            return &s;
    return nullptr;
}

QString StationSimulator::hlsAddress(const ServedStation &s, HlsMode mode, const QString &resource)
{
    return QStringLiteral("http://%1:%2%3%4/%5/%6")
        .arg(s.host).arg(s.port).arg(QLatin1StringView(kHlsPrefix)).arg(s.index).arg(hlsModeName(mode), resource);
}

QByteArray StationSimulator::hlsKey(const ServedStation &s)
{
    QByteArray key(16, '\0');
    for (int i = 0; i < key.size(); ++i)
        key[i] = char((s.index * 31 + i * 17 + 5) & 0xFF);
    return key;
}

HlsChannel *StationSimulator::hlsChannel(const ServedStation &s, HlsMode mode, bool low)
{
    const QString name = QStringLiteral("%1/%2/%3").arg(s.index).arg(hlsModeName(mode)).arg(low ? "lo" : "hi");
    std::shared_ptr<HlsChannel> &channel = m_hls[name];
    if (!channel) {
        HlsChannel::Setup setup;
        setup.mode = mode;
        setup.toneHz = low ? hlsLowToneHz(s) : s.toneHz();
        setup.bitRate = low ? 32000 : 64000;
        setup.segmentMs = m_hlsSegmentMs;
        setup.title = s.caption.toUtf8();
        setup.key = hlsKey(s);
        channel = std::make_shared<HlsChannel>(setup);
        if (!m_hlsEncoder.isActive())
            m_hlsEncoder.start(kHlsEncodeEveryMs);
    }
    return channel->ok() ? channel.get() : nullptr;
}

int StationSimulator::toneHz(const QString &address) const
{
    const ServedStation *s = servedFor(address);
    return s ? s->toneHz() : -1;
}

void StationSimulator::setFault(const Station &station, Fault fault)
{
    if (const ServedStation *s = servedFor(station)) {
        if (fault == Fault::None)
            m_stationFaults.remove(s->index);
        else
            m_stationFaults.insert(s->index, fault);
    }
    applyRefusals();
}

void StationSimulator::setFault(const QString &address, Fault fault)
{
    if (const ServedStation *s = servedFor(address)) {
        if (fault == Fault::None)
            m_stationFaults.remove(s->index);
        else
            m_stationFaults.insert(s->index, fault);
    }
    applyRefusals();
}

void StationSimulator::setPortFault(quint16 port, Fault fault)
{
    if (fault == Fault::None)
        m_portFaults.remove(port);
    else
        m_portFaults.insert(port, fault);
    applyRefusals();
}

void StationSimulator::clearFaults()
{
    m_stationFaults.clear();
    m_portFaults.clear();
    m_requested.clear();
    applyRefusals();
}

// Closes the ports that refuse connections and opens again those that no longer do.
void StationSimulator::applyRefusals()
{
    if (!m_running)
        return;
    QSet<quint16> refused;
    for (auto it = m_portFaults.cbegin(); it != m_portFaults.cend(); ++it)
        if (it.value() == Fault::Refuse)
            refused.insert(it.key());
    for (auto it = m_stationFaults.cbegin(); it != m_stationFaults.cend(); ++it)
        if (it.value() == Fault::Refuse)
            if (const ServedStation *s = servedByIndex(it.key()))
                refused.insert(s->port);
    for (const quint16 port : m_byTarget.keys()) {
        const bool open = m_servers.contains(port);
        if (refused.contains(port) && open) {
            delete m_servers.take(port);
        } else if (!refused.contains(port) && !open) {
            QString error;
            if (!listen(port, &error))
                qCWarning(lcStationSim).noquote() << error;
        }
    }
}

void StationSimulator::onNewConnection(QTcpServer *server, quint16 endpointPort)
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        auto *c = new StationConnection(socket, this, endpointPort, ++m_accepted);
        m_connections.removeIf([](const QPointer<StationConnection> &p) { return p.isNull(); });
        m_connections.append(c);
    }
}

const ServedStation *StationSimulator::match(quint16 port, const QByteArray &target) const
{
    const auto it = m_byTarget.constFind(port);
    if (it == m_byTarget.constEnd())
        return nullptr;
    const auto found = it->constFind(target);
    return found == it->constEnd() ? nullptr : &m_served[*found];
}

void StationSimulator::prepareFiles()
{
    for (const ServedStation &s : std::as_const(m_served)) {
        if (m_files.contains(s.index) || (s.answer != Answer::Mp3File && s.answer != Answer::RealMedia))
            continue;
        const bool real = s.answer == Answer::RealMedia;
        const qint64 ms = qint64(real ? m_realFileSeconds : m_mp3FileSeconds) * 1000;
        const int hz = s.toneHz();
        m_files.insert(s.index, std::async(std::launch::async, [real, ms, hz] {
                                    ToneEncoder encoder(real ? ToneEncoder::Format::RealAudio
                                                             : ToneEncoder::Format::Mp3, hz);
                                    const QByteArray body = encoder.encode(ms);
                                    return encoder.header() + body + encoder.finish();
                                }).share());
    }
}

bool StationSimulator::mediaFileReady(const ServedStation &s) const
{
    const auto it = m_files.constFind(s.index);
    return it == m_files.constEnd()
        || it->wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

QByteArray StationSimulator::mediaFile(const ServedStation &s)
{
    if (!m_files.contains(s.index))
        prepareFiles();
    return m_files.value(s.index).get();
}

QByteArray StationSimulator::aacFile(const ServedStation &s)
{
    auto it = m_aacFiles.find(s.index);
    if (it == m_aacFiles.end()) {
        ToneEncoder encoder(ToneEncoder::Format::Adts, s.toneHz());
        QByteArray file = encoder.header();
        file += encoder.encode(qint64(m_mp3FileSeconds) * 1000);
        file += encoder.finish();
        it = m_aacFiles.insert(s.index, file);
    }
    return *it;
}

void StationSimulator::record(const RequestRecord &r)
{
    m_log.append(r);
    const QString line = r.toLine();
    qCDebug(lcStationSim).noquote() << line;
    if (m_logDevice) {
        m_logDevice->write(line.toUtf8() + '\n');
        if (auto *file = qobject_cast<QFileDevice *>(m_logDevice))
            file->flush();
    }
    emit requestLogged(r);
}

bool StationSimulator::firstRequest(quint16 port, const QByteArray &target)
{
    const QPair<quint16, QByteArray> key{port, target};
    if (m_requested.contains(key))
        return false;
    m_requested.insert(key);
    return true;
}

bool StationSimulator::ignoresNonHttp(quint16 port) const
{
    if (portFault(port) == Fault::MmstSilent)
        return true;
    for (auto it = m_stationFaults.cbegin(); it != m_stationFaults.cend(); ++it)
        if (it.value() == Fault::MmstSilent)
            if (const ServedStation *s = servedByIndex(it.key()); s && s->port == port)
                return true;
    return false;
}

QByteArray StationSimulator::cp1256TitleBytes(const ServedStation &s)
{
    QStringEncoder encoder("windows-1256");
    return encoder(s.caption);
}

QString StationSimulator::cp1256Title(const ServedStation &s)
{
    QStringDecoder decoder("windows-1256");
    return decoder(cp1256TitleBytes(s));
}

QString StationSimulator::latin1Title()
{
    return QStringLiteral("A\u00EFcha (\u00C9t\u00E9 \u00E0 Oran)"); // Aïcha (Été à Oran)
}

QString StationSimulator::hostileTitle(int n)
{
    QString title = QStringLiteral("<img src=\"/dev/zero\"><a href=\"x\">link</a>") + QChar(0x202E)
        + QStringLiteral("\x01\x07\x1b") + QString::number(n) + u' ';
    title += QString(kHostileTitleBytes - title.toUtf8().size(), u'W');
    return title;
}

EndpointTable loopbackTable(const QList<quint16> &ports)
{
    EndpointTable table;
    for (int i = 0; i < kEndpointCount && i < ports.size(); ++i)
        table.set(keys::endpointKey(i + 1), QStringLiteral("127.0.0.1:%1").arg(ports[i]));
    for (const KeyRow &p : keys::pieces())
        table.set(QString::fromLatin1(p.key), QString::fromLatin1(p.demoValue));
    return table;
}

QByteArray loopbackConfig(const QList<quint16> &ports)
{
    QByteArray text =
        "# Lumora demo configuration: every station on the loopback station simulator\n"
        "# (lumora-station-sim). scripts/demo starts the simulator with this file and runs\n"
        "# Lumora with it as lumora/endpoints.conf.\n"
        "#\n"
        "# Generated by: lumora-station-sim --write-config "
        + QByteArray::number(ports.value(0)) + "\n\n";
    for (int i = 0; i < kEndpointCount && i < ports.size(); ++i)
        text += QStringLiteral("%1 = 127.0.0.1:%2\n").arg(keys::endpointKey(i + 1)).arg(ports[i]).toLatin1();
    text += "\n# address pieces\n";
    for (const KeyRow &p : keys::pieces())
        text += QByteArray(p.key) + " = " + p.demoValue + "\n";
    return text;
}

QList<quint16> freeLoopbackPorts(int n)
{
    QList<quint16> ports;
    std::vector<std::unique_ptr<QTcpServer>> holders;
    while (int(ports.size()) < n) {
        auto server = std::make_unique<QTcpServer>();
        if (!server->listen(QHostAddress::LocalHost, 0))
            break;
        ports.append(server->serverPort());
        holders.push_back(std::move(server));
    }
    return ports;
}

} // namespace lumora::sim
