#include "stream_recorder.h"

#include "safe_file_name.h"

#include <QDateTime>
#include <QDir>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcRecord, "lumora.player.record", QtInfoMsg)

namespace lumora {

namespace {

constexpr int kMaxTries = 1000; // names tried before a folder is given up as full of them
const QByteArray kAsfHeaderGuid = QByteArray::fromHex("3026B2758E66CF11A6D900AA0062CE6C");
constexpr qsizetype kAsfDataHeaderBytes = 50; // the data object's header, before its packets

quint64 littleEndian(const QByteArray &b, qsizetype at, int bytes)
{
    quint64 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | quint8(b[at + i]);
    return v;
}

// The length of a stream's header as far as head shows it: 0 when the stream needs none,
// -1 while more bytes are needed to tell.
qsizetype headerLength(const QByteArray &head)
{
    if (head.startsWith("OggS")) {
        // The header pages are those before the first that carries audio (granule above 0).
        qsizetype at = 0;
        while (at + 27 <= head.size()) {
            if (head.mid(at, 4) != "OggS")
                return 0; // not pages after all
            const int segments = quint8(head[at + 26]);
            if (at + 27 + segments > head.size())
                return -1;
            qsizetype body = 0;
            for (int i = 0; i < segments; ++i)
                body += quint8(head[at + 27 + i]);
            if (littleEndian(head, at + 6, 8) != 0 && littleEndian(head, at + 6, 8) != ~quint64(0))
                return at;
            at += 27 + segments + body;
        }
        return -1;
    }
    if (head.size() < kAsfHeaderGuid.size())
        return kAsfHeaderGuid.startsWith(head) ? -1 : 0;
    if (!head.startsWith(kAsfHeaderGuid))
        return 0;
    if (head.size() < 24)
        return -1;
    const quint64 size = littleEndian(head, 16, 8);
    if (size > quint64(StreamRecorder::kMaxHeadBytes)) // checked before it is added to
        return 0;
    const qsizetype length = qsizetype(size) + kAsfDataHeaderBytes;
    return head.size() >= length ? length : -1;
}

QString fromContentType(const QString &contentType)
{
    const QString type = contentType.section(u';', 0, 0).trimmed().toLower();
    struct Kind {
        const char16_t *type;
        const char16_t *extension;
    };
    static constexpr Kind kKinds[] = {
        {u"audio/mpeg", u"mp3"},          {u"audio/mp3", u"mp3"},         {u"audio/mpeg3", u"mp3"},
        {u"audio/aac", u"aac"},           {u"audio/aacp", u"aac"},        {u"audio/x-aac", u"aac"},
        {u"audio/ogg", u"ogg"},           {u"application/ogg", u"ogg"},   {u"audio/opus", u"opus"},
        {u"video/x-ms-asf", u"asf"},      {u"application/vnd.ms-asf", u"asf"},
        {u"audio/x-ms-wma", u"wma"},      {u"application/x-mms-framed", u"asf"},
    };
    for (const Kind &k : kKinds)
        if (type == QStringView(k.type))
            return QString::fromUtf16(k.extension);
    return {};
}

QString fromBytes(const QByteArray &b)
{
    auto byte = [&](int i) { return i < b.size() ? quint8(b[i]) : 0; };
    if (b.startsWith("OggS"))
        return QStringLiteral("ogg");
    if (b.startsWith(QByteArray::fromHex("3026B2758E66CF11")))
        return QStringLiteral("asf");
    if (b.startsWith("ID3"))
        return QStringLiteral("mp3");
    if (byte(0) == 0xFF && (byte(1) & 0xF6) == 0xF0) // ADTS: MPEG-4 or -2 AAC, layer 0
        return QStringLiteral("aac");
    if (byte(0) == 0xFF && (byte(1) & 0xE0) == 0xE0 && (byte(1) & 0x06) != 0)
        return QStringLiteral("mp3");
    return {};
}

} // namespace

StreamRecorder::StreamRecorder(QObject *parent) : QObject(parent) {}

StreamRecorder::~StreamRecorder()
{
    closeFile();
}

bool StreamRecorder::start(const QString &folder, bool perTitle)
{
    if (m_recording)
        stop();
    m_error.clear();
    if (!m_streaming) {
        m_error = tr("No station is playing.");
        return false;
    }
    if (!QDir().mkpath(folder)) {
        m_error = tr("The folder %1 cannot be made.").arg(folder);
        return false;
    }
    m_folder = folder;
    m_perTitle = perTitle;
    m_recording = true;
    m_bytes = 0;
    m_since.start();
    emit recordingChanged(true);
    return true;
}

void StreamRecorder::stop()
{
    if (!m_recording)
        return;
    closeFile();
    m_recording = false;
    emit recordingChanged(false);
}

void StreamRecorder::fail(const QString &reason)
{
    m_error = reason;
    qCWarning(lcRecord) << "recording stopped:" << reason;
    stop();
    emit failed(reason);
}

void StreamRecorder::streamBegan(const QString &contentType, const QString &container)
{
    m_streaming = true;
    m_contentType = contentType;
    m_container = container;
    m_title.clear(); // until the stream names what it plays
    m_head.clear();
    m_headKnown = false;
    m_seen = 0;
}

void StreamRecorder::streamBytes(const QByteArray &bytes)
{
    if (m_recording && !bytes.isEmpty()) {
        const bool opened = m_file != nullptr;
        if (opened || openFile(bytes)) {
            QByteArray data = bytes;
            if (!opened && m_seen > 0) {
                // The file starts in the middle of the stream: first what it needs of the
                // stream's start (all of it while the header is not yet known).
                if (!write(m_head))
                    return;
                m_toNextPage = m_headKnown && m_head.startsWith("OggS");
            }
            if (m_toNextPage) {
                const qsizetype page = data.indexOf("OggS");
                data = page < 0 ? QByteArray() : data.mid(page);
                m_toNextPage = page < 0;
            }
            write(data);
        }
    }
    keepHead(bytes);
    m_seen += bytes.size();
}

bool StreamRecorder::write(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return true;
    const qint64 written = m_file->write(bytes);
    if (written != bytes.size()) {
        const QString why = m_file->errorString();
        fail(tr("Writing %1 failed: %2").arg(m_file->fileName(), why));
        return false;
    }
    m_bytes += written;
    return true;
}

void StreamRecorder::keepHead(const QByteArray &bytes)
{
    if (m_headKnown)
        return;
    m_head += bytes;
    const qsizetype length = headerLength(m_head);
    if (length >= 0 || m_head.size() > kMaxHeadBytes) {
        m_head.truncate(qMax<qsizetype>(0, length));
        m_headKnown = true;
    }
}

void StreamRecorder::streamEnded()
{
    m_streaming = false;
    stop();
}

void StreamRecorder::streamTitle(const QString &title)
{
    if (title == m_title)
        return;
    m_title = title;
    // The next bytes start the next title's file.
    if (m_recording && m_perTitle && !m_title.isEmpty() && m_file)
        closeFile();
}

QString StreamRecorder::extension(const QByteArray &firstBytes) const
{
    if (m_container == u"asf" || m_container == u"ogg")
        return m_container;
    QString e = fromBytes(firstBytes);
    if (e.isEmpty())
        e = fromContentType(m_contentType);
    return e.isEmpty() ? QStringLiteral("bin") : e;
}

bool StreamRecorder::openFile(const QByteArray &firstBytes)
{
    QString stem = m_caption;
    if (!m_title.isEmpty())
        stem += (stem.isEmpty() ? QString() : QStringLiteral(" - ")) + m_title;
    stem = safeFileName(stem, kNameBytes) + u' '
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH-mm-ss"));
    const QString ext = extension(firstBytes);
    for (int n = 1; n <= kMaxTries; ++n) {
        const QString name = n == 1 ? QStringLiteral("%1.%2").arg(stem, ext)
                                    : QStringLiteral("%1 (%2).%3").arg(stem).arg(n).arg(ext);
        auto file = std::make_unique<QFile>(QDir(m_folder).filePath(name));
        // NewOnly: a file that exists, even one made a moment ago, is never written over.
        if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            m_file = std::move(file);
            qCInfo(lcRecord) << "recording to" << m_file->fileName();
            emit fileOpened(m_file->fileName());
            return true;
        }
        if (!file->exists()) {
            fail(tr("%1 cannot be made: %2").arg(file->fileName(), file->errorString()));
            return false;
        }
    }
    fail(tr("No free file name in %1.").arg(m_folder));
    return false;
}

void StreamRecorder::closeFile()
{
    if (!m_file)
        return;
    m_file->close();
    qCInfo(lcRecord) << "closed" << m_file->fileName();
    m_file.reset();
}

} // namespace lumora
