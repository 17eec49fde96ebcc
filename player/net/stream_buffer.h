#pragma once

#include "audio_meter.h"

#include <QByteArray>
#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace lumora {

// The bytes of one stream on their way from Lumora's connection (the GUI thread writes) to
// libVLC's demuxer (its input thread reads). Bounded: when it holds kCapacity bytes the
// writer stops reading its socket until the reader has taken some, so a fast server is held
// back by TCP instead of filling memory.
//
// read() blocks until there are bytes, the stream has ended, it was aborted, or the read
// deadline passed (not while the writer holds it); abort() wakes it at once. A seek (files only) drops what is buffered and
// starts a new epoch: writes of the old epoch that are still on their way are ignored.
class StreamBuffer : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype kCapacity = 512 * 1024;
    static constexpr int kReadDeadlineMs = 20000;

    // size: the stream's length in bytes when known (a file), or -1.
    explicit StreamBuffer(qint64 size = -1, bool seekable = false);

    qint64 size() const { return m_size; }
    bool seekable() const { return m_seekable; }

    // Writer side (the connection's thread).
    // false: the data belongs to an old epoch or the buffer was aborted, and was dropped.
    bool write(quint64 epoch, const QByteArray &data);
    // No more data will come: reads return what is left, then end of stream.
    void finish(quint64 epoch);
    qsizetype freeSpace() const;
    qsizetype buffered() const;
    quint64 epoch() const;
    // Total bytes written in the current epoch.
    qint64 received() const;
    // Called on the writer's thread with every piece of data the buffer takes, after it took
    // it (a recording); empty: none. Set and cleared on the writer's thread.
    void setWriteTap(std::function<void(const QByteArray &)> tap) { m_writeTap = std::move(tap); }
    // A live stream's audio as written so far (see AudioMeter), on the writer's thread.
    const AudioMeter &meter() const { return m_meter; }
    // A point of a live stream where a frame starts: its offset in bytes since the stream's
    // start, and the audio before it.
    struct Mark {
        qint64 bytes = -1;
        qint64 audioMs = 0;
    };
    // The frame boundary at or before audioMs among the last kMarks frames written; bytes is
    // -1 when none is known (a format without frame boundaries, or audio older than that). On
    // the writer's thread.
    Mark markAtOrBefore(qint64 audioMs) const;
    // The same, at or before an offset in bytes since the stream's start, or framesBack
    // frames before that.
    Mark markAtOrBeforeOffset(qint64 bytes, int framesBack = 0) const;
    static constexpr int kMarks = 4096;

    // Reader side (libVLC's thread). Returns the number of bytes copied, 0 at the end of the
    // stream, -1 when aborted or when nothing came before the deadline.
    qint64 read(char *into, qint64 max);
    // Asks for the stream from offset on; false when the stream cannot seek or is aborted.
    bool seek(quint64 offset);
    // Bytes taken by the reader in all epochs.
    qint64 consumed() const;
    // A copy of what is buffered and not read yet (either side).
    QByteArray unread() const;
    // A live stream keeps the last kHistoryBytes its reader took, so that a new reader can take
    // the stream up again from a point already read (audio the last one took and never
    // played). Puts back what was read from offset on (bytes since the stream's start): false
    // when that is no longer kept, or was not read yet. Ends an interruptRead().
    bool rewindTo(qint64 offset);
    static constexpr qsizetype kHistoryBytes = 256 * 1024;
    // Wakes a read waiting for data, which returns -1 as if aborted, once; the buffer stays
    // as it is for a reader to come (see rewindTo).
    void interruptRead();

    // Either side: ends every wait; reads return -1 from now on.
    void abort();
    bool isAborted() const;
    // No more data will come (finish() was called in the current epoch).
    bool isFinished() const;

    void setReadDeadlineMs(int ms) { m_readDeadlineMs = ms; }
    // While held, a read waits for data without a deadline: the writer has lost its flow for a
    // moment and is getting it back (a live stream reconnecting); it promises to write, finish
    // or abort. Released, a waiting read has the whole deadline again from then on.
    void setHeld(bool held);
    bool isHeld() const;

signals:
    // From the reader's thread; connect with a queued connection.
    void spaceAvailable();
    void seekRequested(quint64 offset, quint64 epoch);

private:
    AudioMeter m_meter; // live streams only; touched by the writer alone
    std::function<void(const QByteArray &)> m_writeTap; // the writer's alone
    const qint64 m_size;
    const bool m_seekable;
    int m_readDeadlineMs = kReadDeadlineMs;
    mutable std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<QByteArray> m_chunks;
    std::deque<QByteArray> m_history; // a live stream's last chunks read whole, oldest first
    qsizetype m_historyBytes = 0;
    bool m_interrupted = false;
    std::deque<Mark> m_marks;    // the writer's alone
    qsizetype m_frontOffset = 0; // bytes of m_chunks.front() already read
    qsizetype m_buffered = 0;
    qint64 m_received = 0;
    qint64 m_consumed = 0;
    quint64 m_epoch = 0;
    bool m_finished = false;
    bool m_aborted = false;
    bool m_held = false;
    bool m_writerWaiting = false; // the writer found the buffer full
};

} // namespace lumora
