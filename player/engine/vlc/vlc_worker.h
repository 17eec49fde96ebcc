#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace lumora {

// One thread that runs the calls of one libVLC player that may block, in the order given:
// stopping a media waits for libVLC's input thread to end, and releasing one may wait for its
// demuxer. The GUI thread only posts them and goes on. The destructor runs what is queued,
// then joins.
class VlcWorker {
public:
    VlcWorker();
    ~VlcWorker();
    VlcWorker(const VlcWorker &) = delete;
    VlcWorker &operator=(const VlcWorker &) = delete;

    void post(std::function<void()> job);
    // Blocks until every job posted so far has run (tests, and the player's destructor).
    void drain();

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_jobs;
    bool m_busy = false;
    bool m_quit = false;
    std::thread m_thread;
};

} // namespace lumora
