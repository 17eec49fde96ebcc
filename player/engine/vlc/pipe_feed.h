#pragma once

#include <QtGlobal>

#include <atomic>
#include <memory>
#include <thread>

namespace lumora {

class StreamBuffer;

// Carries a live stream from Lumora's buffer into a pipe whose other end libVLC reads as a
// file descriptor. libVLC reading a descriptor takes its clock margin from the media's
// ":file-caching" option, which libVLC's media callbacks do not offer (they keep a fixed
// 300 ms): through the pipe the player chooses how much audio libVLC gathers before it plays.
//
// A thread of its own copies: it waits for bytes in the buffer (a silent server keeps it
// waiting as long as the stream is not over) and for room in the pipe (a paused player keeps
// it waiting). When the stream ends it closes the pipe, which libVLC reads as the end. stop()
// wakes both waits at once. The read end stays open until the feed is destroyed, which must
// come after libVLC has stopped reading it.
class PipeFeed {
public:
    // Makes the pipe; valid() is false when none could be made. start() starts the copying.
    explicit PipeFeed(std::shared_ptr<StreamBuffer> buffer);
    ~PipeFeed();
    PipeFeed(const PipeFeed &) = delete;
    PipeFeed &operator=(const PipeFeed &) = delete;

    bool valid() const { return m_readFd >= 0; }
    int readFd() const { return m_readFd; }
    void start();
    // Ends the copying and closes the write end; the buffer is aborted too, unless it is kept
    // for another reader: a read the copying waits in is then only interrupted.
    enum class Buffer { Abort, Keep };
    void stop(Buffer buffer = Buffer::Abort);
    // Ends the copying, keeping the buffer; the pipe stays open, its reader waiting for more.
    void stopCopying() { halt(Buffer::Keep); }
    // The stream's offset (bytes since its start) up to which its bytes went into the pipe;
    // -1 before the copying started.
    qint64 fedTo() const { return m_fedTo; }

    // Room asked of the kernel for the pipe: with Lumora's own buffer in front of it, the
    // audio a paused player can take in before the server is held back by TCP.
    static constexpr int kPipeBytes = 1024 * 1024;

private:
    void run();
    void halt(Buffer buffer); // ends the copying; the write end stays as it is
    bool writeAll(const char *data, long size);

    std::shared_ptr<StreamBuffer> m_buffer;
    int m_readFd = -1;
    int m_writeFd = -1;
    int m_wakeFd = -1; // an eventfd that stop() signals
    std::atomic<bool> m_stopping{false};
    std::atomic<qint64> m_fedTo{-1};
    std::thread m_thread;
};

} // namespace lumora
