#include "pipe_feed.h"

#include "player/net/stream_buffer.h"

#include <QLoggingCategory>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

Q_DECLARE_LOGGING_CATEGORY(lcVlc)

namespace lumora {

namespace {

constexpr long kChunk = 64 * 1024;

} // namespace

PipeFeed::PipeFeed(std::shared_ptr<StreamBuffer> buffer) : m_buffer(std::move(buffer))
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        qCWarning(lcVlc) << "no pipe for a stream:" << strerror(errno);
        return;
    }
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return;
    }
    m_readFd = fds[0];
    m_writeFd = fds[1];
    // The default is 64 KiB; a refusal (a lower system limit) only means less room.
    ::fcntl(m_writeFd, F_SETPIPE_SZ, kPipeBytes);
    ::fcntl(m_writeFd, F_SETFL, ::fcntl(m_writeFd, F_GETFL) | O_NONBLOCK);
}

void PipeFeed::start()
{
    if (valid() && !m_thread.joinable() && !m_stopping)
        m_thread = std::thread([this] { run(); });
}

PipeFeed::~PipeFeed()
{
    stop();
    if (m_readFd >= 0)
        ::close(m_readFd);
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void PipeFeed::stop(Buffer buffer)
{
    halt(buffer);
    if (m_writeFd >= 0) {
        ::close(m_writeFd);
        m_writeFd = -1;
    }
}

void PipeFeed::halt(Buffer buffer)
{
    if (m_stopping.exchange(true))
        return;
    if (m_buffer && buffer == Buffer::Abort)
        m_buffer->abort();
    else if (m_buffer)
        m_buffer->interruptRead();
    if (m_wakeFd >= 0) {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    }
    if (m_thread.joinable())
        m_thread.join();
}

void PipeFeed::run()
{
    std::vector<char> chunk(static_cast<std::size_t>(kChunk));
    m_fedTo = m_buffer->consumed(); // this feed is the buffer's one reader
    while (!m_stopping) {
        const qint64 n = m_buffer->read(chunk.data(), kChunk);
        if (m_stopping)
            break; // what was read is kept for the next reader (see StreamBuffer::rewindTo)
        if (n > 0) {
            if (!writeAll(chunk.data(), long(n)))
                break;
            continue;
        }
        if (n == 0)
            break; // the stream is over: libVLC reads the end once it has taken the rest
        if (m_buffer->isAborted())
            break;
        // The read deadline passed with the stream still open: its connection decides when
        // the stream is over, so go on waiting.
    }
    // Ended by itself, the copying ends the pipe; ended from outside, the pipe is the
    // caller's (see stopCopying).
    if (!m_stopping) {
        ::close(m_writeFd);
        m_writeFd = -1;
    }
}

bool PipeFeed::writeAll(const char *data, long size)
{
    while (size > 0) {
        const ssize_t n = ::write(m_writeFd, data, std::size_t(size));
        if (n > 0) {
            data += n;
            size -= long(n);
            m_fedTo += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return false; // libVLC closed its end
        pollfd waits[2] = {{m_writeFd, POLLOUT, 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0 && errno != EINTR)
            return false;
        if (m_stopping || (waits[1].revents & POLLIN))
            return false;
        if (waits[0].revents & (POLLERR | POLLHUP))
            return false;
    }
    return true;
}

} // namespace lumora
