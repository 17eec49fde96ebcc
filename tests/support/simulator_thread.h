#pragma once

// The station simulator serving the whole catalogue on loopback ports free at the start, living
// and answering on a thread of its own, so that its work never counts against the event loop
// of the program under test and never waits for it. Everything asked of it goes through call().

#include "tools/station-sim/station_simulator.h"

#include <QSemaphore>
#include <QThread>
#include <functional>

namespace lumora::test {

class SimulatorThread : public QThread {
public:
    using Configure = std::function<void(sim::StationSimulator &)>;
    // Files of the "MP3" and RealMedia kinds this many seconds long: quick to make.
    static Configure fileSeconds(int seconds);
    // Live streams that send this much audio at once before pacing in real time.
    static Configure burstMs(int ms);

    SimulatorThread();
    ~SimulatorThread() override;

    // Starts the thread and the simulator, set up by configure before it listens; false (with
    // the reason) when it cannot listen.
    bool begin(const Configure &configure = {}, QString *error = nullptr);

    EndpointTable table() const { return sim::loopbackTable(m_ports); }
    QByteArray config() const { return sim::loopbackConfig(m_ports); }

    // Runs f on the simulator's thread and waits for it.
    void call(const std::function<void(sim::StationSimulator &)> &f);

    // A copy of what the simulator knows of a station's address.
    sim::ServedStation served(const Station &station);
    void setFault(const Station &station, sim::Fault fault);
    void clearFaults();
    QList<sim::RequestRecord> requestLog();

protected:
    void run() override;

private:
    QList<quint16> m_ports;
    Configure m_configure;
    sim::StationSimulator *m_sim = nullptr;
    QSemaphore m_ready;
    QString m_error;
    bool m_started = false;
};

} // namespace lumora::test
