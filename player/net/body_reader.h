#pragma once

#include "player/playlists/playlist_formats.h"

#include <QByteArray>
#include <QFuture>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

template <typename T>
class QFutureWatcher;

namespace lumora {

// How much of a playlist is taken.
struct EntryLimits {
    int maxEntries = 32; // later entries are ignored
    // An entry longer than this on the wire is left out: no server takes a request line that
    // long (8 KiB is the common limit), and carrying megabytes of address through every
    // later step would cost more than the body did.
    qsizetype maxAddressChars = 8 * 1024;
};

// What a whole answer body holds: what it is and, for a playlist, its entries ready to open.
struct BodyReading {
    Content content;
    QStringList entries;  // Playlist: absolute, in wire form, in order, at most maxEntries
    QStringList problems; // entries left out, and why
    int listed = 0;       // Playlist: the entries its format's reader found
};

// Judges a complete body and reads its entries: relative ones resolved against address, the
// http entries of formats that name Windows Media servers made mmsh, every one put into wire
// form. Nothing else is touched, so it may run on any thread.
BodyReading readBody(const QByteArray &contentType, const QByteArray &body, const QString &address,
                     const EntryLimits &limits);

// Reads a whole answer body (readBody) for its owner without holding up the owner's thread:
// a body larger than kInlineBytes is read on a worker of Qt's global thread pool. done()
// comes back on the owner's thread, never from inside start(). cancel(), a new start() or
// the reader's destruction drop a reading under way: its result is never delivered, nothing
// the worker holds belongs to the reader, and nobody waits for the worker.
class BodyReader : public QObject {
    Q_OBJECT
public:
    // Up to this size a body is read on the owner's thread, in the event loop's next pass:
    // a 16 KiB playlist, Arabic or not, reads in well under a millisecond, less than a worker
    // thread takes to wake on a busy machine. Real playlists are far smaller.
    static constexpr qsizetype kInlineBytes = 16 * 1024;

    explicit BodyReader(QObject *parent = nullptr);
    ~BodyReader() override;

    void start(const QByteArray &contentType, const QByteArray &body, const QString &address,
               const EntryLimits &limits);
    void cancel();
    bool isBusy() const { return m_busy; }

signals:
    void done(const lumora::BodyReading &reading);

private:
    std::unique_ptr<QFutureWatcher<BodyReading>> m_watcher;
    quint64 m_run = 0;
    bool m_busy = false;
};

} // namespace lumora
