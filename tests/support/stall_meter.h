#pragma once

// How long the GUI thread's event loop goes without running: the measure of every check that
// a click, a page or a failing station never freezes the windows.

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

namespace lumora::test {

// Nanoseconds this thread has spent ready to run but waiting for a processor (Linux's
// schedstat), or -1 where the kernel does not say.
qint64 threadRunDelayNs();

// Measures how long the event loop goes without running a 5 ms heartbeat, and whether a
// modal dialog ever came up meanwhile. Time the GUI thread spent waiting for a processor is
// left out: on a machine busy with other work that wait is the machine's, not the program's.
// With LUMORA_SHOW_STALLS set, every gap over 30 ms is logged with the label.
class StallMeter : public QObject {
public:
    StallMeter();

    void start();
    void stop() { m_timer.stop(); }
    // What the test is doing, named in the report of the worst stall.
    void label(const QString &what) { m_label = what; }
    qint64 worstMs() const { return m_worst; }
    QString worstAt() const { return m_worstAt; }
    bool dialogSeen() const { return m_dialog; }

private:
    void tick();

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_worst = 0;
    qint64 m_lastDelay = -1;
    QString m_label, m_worstAt;
    bool m_dialog = false;
};

} // namespace lumora::test
