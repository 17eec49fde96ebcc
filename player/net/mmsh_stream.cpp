#include "mmsh_stream.h"

#include <QLoggingCategory>
#include <QUuid>

Q_DECLARE_LOGGING_CATEGORY(lcHttp)

namespace lumora {

MmshStream::MmshStream(const QString &address, int timeoutMs, QObject *parent)
    : m_timeoutMs(timeoutMs)
{
    setParent(parent);
    m_address = address;
    m_contentType = QStringLiteral("application/x-mms-framed");
    m_container = QStringLiteral("asf"); // MMSH carries nothing else
    m_clientId = QUuid::createUuid().toByteArray(QUuid::WithBraces).toUpper();
    m_buffer = std::make_shared<StreamBuffer>();
    connect(m_buffer.get(), &StreamBuffer::spaceAvailable, this, [this] {
        if (m_request && m_playing)
            m_request->setPaused(false);
    }, Qt::QueuedConnection);
}

MmshStream::~MmshStream()
{
    close();
}

HttpRequest::Options MmshStream::options(bool play) const
{
    HttpRequest::Options o;
    o.answerTimeoutMs = m_timeoutMs;
    o.idleTimeoutMs = play ? 15000 : m_timeoutMs;
    o.userAgent = "NSPlayer/7.10.0.3059";
    const QByteArray context = play ? "2" : "1";
    const QByteArray offset = play ? "4294967295:4294967295" : "0:0";
    o.headers.append(std::pair<QByteArray, QByteArray>("Pragma", "no-cache,rate=1.000000,stream-time=0,stream-offset=" + offset
                                    + ",request-context=" + context + ",max-duration=0"));
    o.headers.append(std::pair<QByteArray, QByteArray>("Pragma", "xClientGUID=" + m_clientId));
    if (play) {
        const AsfHeaderInfo &info = m_describe.headerInfo();
        QByteArray entries;
        for (int n : info.streams)
            entries += "ffff:" + QByteArray::number(n) + ":0 ";
        o.headers.append(std::pair<QByteArray, QByteArray>("Pragma", "xPlayStrm=1"));
        o.headers.append(std::pair<QByteArray, QByteArray>("Pragma", "stream-switch-count=" + QByteArray::number(info.streams.size())));
        o.headers.append(std::pair<QByteArray, QByteArray>("Pragma", "stream-switch-entry=" + entries.trimmed()));
    }
    return o;
}

void MmshStream::start()
{
    m_request = std::make_unique<HttpRequest>();
    HttpRequest *r = m_request.get();
    connect(r, &HttpRequest::headReady, this, [this, r] {
        const int status = r->head().status;
        if (status == 404 || status == 410)
            giveUp(OpenFailure::NotFound, QString::fromLatin1(r->head().statusLine.left(80)));
        else if (status != 200)
            giveUp(OpenFailure::ServerError, QString::fromLatin1(r->head().statusLine.left(80)));
    });
    connect(r, &HttpRequest::bodyReady, this, [this, r] {
        if (m_describe.feed(r->response().takeBody()) == MmshUnframer::State::Failed)
            giveUp(OpenFailure::NotAStream, m_describe.error());
        else if (m_describe.hasHeader())
            onDescribed();
    });
    connect(r, &HttpRequest::finished, this, [this] {
        if (!m_describe.hasHeader())
            giveUp(OpenFailure::NotAStream, QStringLiteral("no ASF header in the answer"));
    });
    connect(r, &HttpRequest::failed, this, &MmshStream::giveUp);
    r->start(m_address, options(false));
}

void MmshStream::onDescribed()
{
    if (m_playing || m_closed)
        return;
    m_playing = true;
    HttpRequest::discard(m_request);
    startPlay();
}

void MmshStream::startPlay()
{
    m_request = std::make_unique<HttpRequest>();
    HttpRequest *r = m_request.get();
    connect(r, &HttpRequest::headReady, this, [this, r] {
        if (r->head().status != 200)
            giveUp(r->head().status == 404 ? OpenFailure::NotFound : OpenFailure::ServerError,
                   QString::fromLatin1(r->head().statusLine.left(80)));
    });
    connect(r, &HttpRequest::bodyReady, this, &MmshStream::onPlayBody);
    connect(r, &HttpRequest::finished, this, [this] {
        onPlayBody();
        if (!m_opened) {
            giveUp(OpenFailure::NotAStream, QStringLiteral("the stream ended before its header"));
            return;
        }
        m_buffer->finish(0);
        end(OpenFailure::None, QStringLiteral("the server ended the stream"));
    });
    connect(r, &HttpRequest::failed, this, &MmshStream::giveUp);
    r->start(m_address, options(true));
}

void MmshStream::onPlayBody()
{
    if (m_closed || m_ended || !m_request)
        return;
    const MmshUnframer::State state = m_play.feed(m_request->response().takeBody());
    if (state == MmshUnframer::State::Failed) {
        giveUp(OpenFailure::NotAStream, m_play.error());
        return;
    }
    m_buffer->write(0, m_play.takeOutput());
    if (!m_opened && m_play.hasHeader()) {
        m_opened = true;
        emit opened();
        if (m_closed)
            return;
    }
    if (state == MmshUnframer::State::Ended) {
        HttpRequest::discard(m_request);
        m_buffer->finish(0);
        end(OpenFailure::None, QStringLiteral("the server ended the stream"));
        return;
    }
    if (m_buffer->freeSpace() <= 0)
        m_request->setPaused(true);
}

void MmshStream::giveUp(OpenFailure failure, const QString &reason)
{
    if (m_closed)
        return;
    qCDebug(lcHttp) << m_address << "MMSH:" << reason;
    HttpRequest::discard(m_request);
    m_buffer->finish(0);
    if (m_opened)
        end(failure, reason);
    else if (!m_failed) {
        m_failed = true;
        emit failed(failure, reason);
    }
}

void MmshStream::end(OpenFailure failure, const QString &reason)
{
    // The first end is the one with the reason (a broken frame, a lost connection); the close
    // of the connection that follows it must not end the stream again without one.
    if (m_ended)
        return;
    m_ended = true;
    emit ended(failure, reason);
}

void MmshStream::close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_buffer->abort();
    HttpRequest::discard(m_request);
}

} // namespace lumora
