#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <vector>

namespace lumora {

// Joins a live stream's new connection onto what the old one already gave the reader, so that
// the listener hears no audio twice and the demuxer meets no torn frame.
//
// A radio server greets a new listener with a burst of what it queued (audio that the old
// connection has mostly delivered already), and an Ogg server first repeats the stream's header
// pages. The splice keeps the tail of what was written (kTailBytes, ICY metadata already
// out) and, for Ogg, the header pages of the current chain, and reads the new connection's
// first bytes:
//   - Ogg header pages equal to the ones already sent are skipped; different ones (the encoder
//     restarted) are passed on from the start as a new chained stream;
//   - where the tail's last bytes recur in the new bytes, the stream goes on right after them
//     (every listener of a mount gets the same bytes);
//   - with no overlap (audio was lost in the outage) the stream goes on at the next MPEG audio
//     or ADTS frame, or Ogg page, that checks out; other formats go on as they come.
// Work and memory are bounded: at most kMaxPending new bytes are held while searching, at most
// kMaxAnchors places in the tail are compared, and a connection whose bytes never line up
// fails the join.
class StreamSplice {
public:
    enum class Format { Mpeg, Adts, Ogg, Other };
    enum class State { Idle, Searching, Joined, Failed };
    enum class How { None, Overlap, Sync, NewChain, AsItComes };

    static constexpr qsizetype kTailBytes = 256 * 1024;
    static constexpr qsizetype kMaxPending = kTailBytes + 128 * 1024;
    static constexpr qsizetype kMaxHeaderBytes = 256 * 1024;
    static constexpr qsizetype kAnchorBytes = 2048;
    static constexpr qsizetype kMinOverlap = 64;
    static constexpr int kMaxAnchors = 64;

    explicit StreamSplice(Format format);

    // The format a live answer carries, by its first bytes and else its Content-Type.
    static Format formatOf(QByteArrayView contentType, QByteArrayView firstBytes);
    Format format() const { return m_format; }

    // Bytes as they go to the reader, in order: the tail a new connection must continue.
    void written(QByteArrayView bytes);
    qsizetype tailSize() const { return m_tail.size(); }
    // The header pages of the current Ogg chain as they were written (empty if unknown).
    const QByteArray &oggHeaders() const { return m_oggHeaders; }

    // A new connection starts; its body goes to join() from its first byte.
    void beginJoin();
    // Feeds the new connection's bytes. Returns the bytes that continue the stream: nothing
    // while searching (or while the new connection has only repeated what was written), then
    // from the join on everything it sends.
    QByteArray join(QByteArrayView bytes);
    State state() const { return m_state; }
    How how() const { return m_how; }
    // Bytes of the new connection dropped as already written or unusable.
    qint64 skipped() const { return m_skipped; }

private:
    struct Anchor {
        qsizetype overlap;     // bytes of the new connection that repeat the tail's end
        qsizetype checked = 0; // of them, found equal so far
    };

    QByteArray search();
    bool skipOggHeaders(); // false: needs more bytes
    void findAnchors();
    QByteArray joinAt(qsizetype from, How how);
    qsizetype syncPoint();
    void walkPages(QByteArrayView bytes);

    const Format m_format;
    QByteArray m_tail;
    // Ogg pages of the written stream: the page being assembled and the chain's headers.
    QByteArray m_page;
    QByteArray m_oggHeaders;
    bool m_recordingHeaders = false;
    bool m_previousWasBos = false;
    bool m_pagesLost = false;

    State m_state = State::Idle;
    How m_how = How::None;
    QByteArray m_pending;
    bool m_headersChecked = false;
    bool m_anchorsFound = false;
    std::vector<Anchor> m_anchors; // shortest overlap first
    qsizetype m_syncFrom = 0;
    qint64 m_skipped = 0;
};

} // namespace lumora
