#pragma once

#include "player/common/stream_tap.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QString>
#include <memory>

namespace lumora {

// Records the stream one player plays: the station's own bytes as they arrive, with the ICY
// titles taken out (MMS as ASF), into a folder, in a file named from the station's caption,
// the title and the time, never over a file that exists. The extension follows the content:
// the container the bytes showed, their first frame, or the server's content type. Optionally
// a new file at each title change. A write that fails (a full disk, a size limit) stops the
// recording and says why; playback is not touched. The stream ending (the station stopped,
// another one chosen, the page or the program gone) closes the file, complete.
//
// Files are written on the GUI thread, unbuffered, as the bytes come: a radio stream brings a
// few kilobytes a second.
//
// A recording that starts in the middle of an ASF or Ogg stream begins with the stream's
// header (ASF's header object and the data object's header; Ogg's header pages), kept from the
// stream's start, so that every file plays by itself; an Ogg file then goes on from the next
// page. MP3 and AAC need nothing of the kind: their decoders find the next frame.
class StreamRecorder : public QObject, public StreamTap {
    Q_OBJECT
public:
    // Room left in a file name for the caption and the title, in bytes of UTF-8; the time and
    // the extension come on top, well within the 255 bytes file systems allow.
    static constexpr int kNameBytes = 180;
    // At most this much of a stream's start is kept as its header; a longer one is none.
    static constexpr qsizetype kMaxHeadBytes = 256 * 1024;

    explicit StreamRecorder(QObject *parent = nullptr);
    ~StreamRecorder() override;

    // Starts recording the stream under way into folder (made if missing). false, with the
    // reason in lastError(), when no stream is under way or the folder cannot be made.
    bool start(const QString &folder, bool perTitle);
    // Closes the file; nothing is recorded any more.
    void stop();
    bool isRecording() const { return m_recording; }
    // A stream is under way that could be recorded.
    bool canRecord() const { return m_streaming; }

    QString filePath() const { return m_file ? m_file->fileName() : QString(); }
    qint64 bytesWritten() const { return m_bytes; } // in all files of this recording
    qint64 elapsedMs() const { return m_recording ? m_since.elapsed() : 0; }
    QString lastError() const { return m_error; }

    // StreamTap
    void streamBegan(const QString &contentType, const QString &container) override;
    void streamBytes(const QByteArray &bytes) override;
    void streamEnded() override;
    // The title, for the file's name and, recording one file per title, where to split.
    void streamTitle(const QString &title) override;

public slots:
    void setCaption(const QString &caption) { m_caption = caption; }

signals:
    void recordingChanged(bool recording);
    void fileOpened(const QString &path);
    // The recording stopped by itself: a write failed (reason says why), or it could not
    // open its next file.
    void failed(const QString &reason);

private:
    bool openFile(const QByteArray &firstBytes);
    void closeFile();
    void fail(const QString &reason);
    QString extension(const QByteArray &firstBytes) const;
    void keepHead(const QByteArray &bytes);
    bool write(const QByteArray &bytes);

    bool m_streaming = false;
    bool m_recording = false;
    bool m_perTitle = false;
    QString m_folder;
    QString m_contentType;
    QString m_container;
    QString m_caption;
    QString m_title;
    QByteArray m_head;       // the stream's header, or all of it so far while that is not known
    bool m_headKnown = false; // m_head is the whole header (empty: the stream needs none)
    qint64 m_seen = 0;       // bytes of the stream so far
    bool m_toNextPage = false; // an Ogg file waits for the start of a page
    std::unique_ptr<QFile> m_file; // open while recording, from the first bytes on
    qint64 m_bytes = 0;
    QElapsedTimer m_since;
    QString m_error;
};

} // namespace lumora
