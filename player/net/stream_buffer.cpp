#include "stream_buffer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iterator>
#include <utility>

namespace lumora {

StreamBuffer::StreamBuffer(qint64 size, bool seekable) : m_size(size), m_seekable(seekable && size > 0)
{
    m_meter.setFrameTap([this](qint64 offset, qint64 audioMs) {
        m_marks.push_back({offset, audioMs});
        if (m_marks.size() > kMarks)
            m_marks.pop_front();
    });
}

bool StreamBuffer::write(quint64 epoch, const QByteArray &data)
{
    if (m_size < 0 && !isAborted())
        m_meter.feed(data); // and a mark for each frame it counts
    {
        std::lock_guard lock(m_mutex);
        if (m_aborted || epoch != m_epoch || m_finished)
            return false;
        if (data.isEmpty())
            return true;
        m_chunks.push_back(data);
        m_buffered += data.size();
        m_received += data.size();
        if (m_buffered >= kCapacity)
            m_writerWaiting = true;
    }
    m_ready.notify_all();
    if (m_writeTap)
        m_writeTap(data);
    return true;
}

void StreamBuffer::finish(quint64 epoch)
{
    {
        std::lock_guard lock(m_mutex);
        if (epoch != m_epoch)
            return;
        m_finished = true;
    }
    m_ready.notify_all();
}

qsizetype StreamBuffer::freeSpace() const
{
    std::lock_guard lock(m_mutex);
    return std::max<qsizetype>(0, kCapacity - m_buffered);
}

qsizetype StreamBuffer::buffered() const
{
    std::lock_guard lock(m_mutex);
    return m_buffered;
}

quint64 StreamBuffer::epoch() const
{
    std::lock_guard lock(m_mutex);
    return m_epoch;
}

qint64 StreamBuffer::received() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

QByteArray StreamBuffer::unread() const
{
    std::lock_guard lock(m_mutex);
    QByteArray out;
    out.reserve(m_buffered);
    for (std::size_t i = 0; i < m_chunks.size(); ++i)
        out += i == 0 ? m_chunks[i].mid(m_frontOffset) : m_chunks[i];
    return out;
}

StreamBuffer::Mark StreamBuffer::markAtOrBefore(qint64 audioMs) const
{
    const auto after = std::upper_bound(m_marks.begin(), m_marks.end(), audioMs,
                                        [](qint64 ms, const Mark &m) { return ms < m.audioMs; });
    return after == m_marks.begin() ? Mark{} : *std::prev(after);
}

StreamBuffer::Mark StreamBuffer::markAtOrBeforeOffset(qint64 bytes, int framesBack) const
{
    const auto after =
        std::upper_bound(m_marks.begin(), m_marks.end(), bytes, [](qint64 b, const Mark &m) { return b < m.bytes; });
    const auto known = std::distance(m_marks.begin(), after);
    return known <= framesBack ? Mark{} : *std::prev(after, framesBack + 1);
}

qint64 StreamBuffer::consumed() const
{
    std::lock_guard lock(m_mutex);
    return m_consumed;
}

qint64 StreamBuffer::read(char *into, qint64 max)
{
    if (max <= 0)
        return 0;
    bool wakeWriter = false;
    qint64 copied = 0;
    {
        std::unique_lock lock(m_mutex);
        const auto ready = [this] { return m_aborted || m_interrupted || m_buffered > 0 || m_finished; };
        const auto deadlineFromNow = [this] {
            return std::chrono::steady_clock::now() + std::chrono::milliseconds(m_readDeadlineMs);
        };
        auto deadline = deadlineFromNow();
        while (!ready()) {
            if (m_held) {
                m_ready.wait(lock);
                deadline = deadlineFromNow();
            } else if (m_ready.wait_until(lock, deadline) == std::cv_status::timeout && !ready() && !m_held) {
                return -1; // nothing came in time: a dead connection that never closed
            }
        }
        if (m_aborted || std::exchange(m_interrupted, false))
            return -1;
        while (copied < max && !m_chunks.empty()) {
            const QByteArray &front = m_chunks.front();
            const qint64 n = std::min<qint64>(max - copied, front.size() - m_frontOffset);
            std::memcpy(into + copied, front.constData() + m_frontOffset, size_t(n));
            copied += n;
            m_frontOffset += n;
            if (m_frontOffset == front.size()) {
                if (m_size < 0 && !m_seekable) {
                    m_historyBytes += front.size();
                    m_history.push_back(std::move(m_chunks.front()));
                    while (m_historyBytes - m_history.front().size() >= kHistoryBytes) {
                        m_historyBytes -= m_history.front().size();
                        m_history.pop_front();
                    }
                }
                m_chunks.pop_front();
                m_frontOffset = 0;
            }
        }
        m_buffered -= copied;
        m_consumed += copied;
        if (m_writerWaiting && m_buffered < kCapacity / 2) {
            m_writerWaiting = false;
            wakeWriter = true;
        }
    }
    if (wakeWriter)
        emit spaceAvailable();
    return copied; // 0 only when finished and empty: the end of the stream
}

bool StreamBuffer::rewindTo(qint64 offset)
{
    std::lock_guard lock(m_mutex);
    m_interrupted = false;
    qint64 back = m_consumed - offset;
    if (m_aborted || back < 0 || back > m_frontOffset + m_historyBytes)
        return false;
    // The front chunk's read part first, then whole chunks from the history.
    const qint64 inFront = std::min<qint64>(back, m_frontOffset);
    m_frontOffset -= qsizetype(inFront);
    back -= inFront;
    m_buffered += qsizetype(inFront);
    m_consumed -= inFront;
    while (back > 0) {
        QByteArray chunk = std::move(m_history.back());
        m_history.pop_back();
        m_historyBytes -= chunk.size();
        const qint64 taken = std::min<qint64>(back, chunk.size());
        m_frontOffset = qsizetype(chunk.size() - taken);
        m_chunks.push_front(std::move(chunk));
        back -= taken;
        m_buffered += qsizetype(taken);
        m_consumed -= taken;
    }
    return true;
}

void StreamBuffer::interruptRead()
{
    {
        std::lock_guard lock(m_mutex);
        m_interrupted = true;
    }
    m_ready.notify_all();
}

bool StreamBuffer::seek(quint64 offset)
{
    quint64 epoch = 0;
    {
        std::lock_guard lock(m_mutex);
        if (!m_seekable || m_aborted || (m_size >= 0 && offset > quint64(m_size)))
            return false;
        m_chunks.clear();
        m_frontOffset = 0;
        m_buffered = 0;
        m_received = 0;
        m_finished = false;
        m_writerWaiting = false;
        epoch = ++m_epoch;
    }
    emit seekRequested(offset, epoch);
    return true;
}

void StreamBuffer::abort()
{
    {
        std::lock_guard lock(m_mutex);
        m_aborted = true;
        m_chunks.clear();
        m_buffered = 0;
    }
    m_ready.notify_all();
}

void StreamBuffer::setHeld(bool held)
{
    {
        std::lock_guard lock(m_mutex);
        m_held = held;
    }
    m_ready.notify_all();
}

bool StreamBuffer::isHeld() const
{
    std::lock_guard lock(m_mutex);
    return m_held;
}

bool StreamBuffer::isFinished() const
{
    std::lock_guard lock(m_mutex);
    return m_finished;
}

bool StreamBuffer::isAborted() const
{
    std::lock_guard lock(m_mutex);
    return m_aborted;
}

} // namespace lumora
