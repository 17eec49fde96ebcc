#include "body_reader.h"

#include "wire_url.h"

#include <QFutureWatcher>
#include <QLoggingCategory>
#include <QThreadPool>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

Q_LOGGING_CATEGORY(lcBodyReader, "lumora.player.reader", QtWarningMsg)

namespace lumora {

namespace {

// An entry as a problem names it: its start, where it is long.
QString shortened(const QString &entry)
{
    constexpr qsizetype kShown = 80;
    return entry.size() <= kShown ? entry : entry.left(kShown) + QChar(0x2026);
}

} // namespace

BodyReading readBody(const QByteArray &contentType, const QByteArray &body, const QString &address,
                     const EntryLimits &limits)
{
    BodyReading reading;
    reading.content = recogniseContent(contentType, body, true);
    if (reading.content.kind != ContentKind::Playlist)
        return reading;
    const QStringList entries = playlistEntries(reading.content, body);
    reading.listed = int(entries.size());
    const QUrl base(address);
    for (const QString &entry : entries) {
        if (reading.entries.size() >= limits.maxEntries)
            break;
        // A wire address is at least as long as what it encodes.
        if (entry.size() > limits.maxAddressChars) {
            reading.problems << QStringLiteral("%1: an entry of %2 characters, left out").arg(shortened(entry)).arg(entry.size());
            continue;
        }
        QString absolute = entry;
        if (schemeOf(entry).isEmpty()) // relative to the playlist
            absolute = base.resolved(QUrl(entry)).toString(QUrl::FullyEncoded);
        // Some formats name Windows Media servers (reference files); their http entries
        // mean MMS over HTTP, as Windows Media Player and VLC read them.
        if (reading.content.playlist->httpMeansMmsh && schemeOf(absolute) == u"http")
            absolute = QStringLiteral("mmsh") + absolute.mid(4);
        QString wire = toWireUrl(absolute);
        if (wire.size() > limits.maxAddressChars) {
            reading.problems << QStringLiteral("%1: %2 characters on the wire, left out").arg(shortened(wire)).arg(wire.size());
            continue;
        }
        reading.entries << std::move(wire);
    }
    return reading;
}

BodyReader::BodyReader(QObject *parent) : QObject(parent) {}

BodyReader::~BodyReader()
{
    cancel();
}

void BodyReader::start(const QByteArray &contentType, const QByteArray &body, const QString &address,
                       const EntryLimits &limits)
{
    cancel();
    m_busy = true;
    const quint64 run = ++m_run;
    if (body.size() <= kInlineBytes) {
        QMetaObject::invokeMethod(this, [this, run, contentType, body, address, limits] {
            if (run != m_run || !m_busy)
                return;
            m_busy = false;
            emit done(readBody(contentType, body, address, limits));
        }, Qt::QueuedConnection);
        return;
    }
    qCDebug(lcBodyReader) << address << ":" << body.size() << "bytes read on a worker";
    // The worker gets copies (the byte array shares its data, read only) and a function that
    // touches nothing else; what it gives back reaches this object through the watcher, on
    // this thread, or nowhere.
    m_watcher = std::make_unique<QFutureWatcher<BodyReading>>();
    connect(m_watcher.get(), &QFutureWatcherBase::finished, this, [this, run] {
        if (run != m_run || !m_watcher || m_watcher->isCanceled())
            return;
        const BodyReading reading = m_watcher->result();
        m_busy = false;
        m_watcher.release()->deleteLater(); // we are inside its signal
        emit done(reading);
    });
    m_watcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(), readBody, contentType, body, address, limits));
}

void BodyReader::cancel()
{
    ++m_run;
    m_busy = false;
    if (!m_watcher)
        return;
    // A reading not yet begun is never run; one under way ends on its own and its result
    // goes with the future. A watcher neither waits for its future nor, once gone, reports.
    // (Inside the watcher's own signal m_watcher is already empty: see start().)
    m_watcher->disconnect(this);
    m_watcher->cancel();
    m_watcher.reset();
}

} // namespace lumora
