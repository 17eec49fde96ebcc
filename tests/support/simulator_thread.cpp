#include "simulator_thread.h"

#include <memory>

extern "C" {
#include <libavutil/log.h>
}

namespace lumora::test {

namespace {
constexpr int kPortCount = 65; // every server of the catalogue
}

SimulatorThread::Configure SimulatorThread::fileSeconds(int seconds)
{
    return [seconds](sim::StationSimulator &s) {
        s.setMp3FileSeconds(seconds);
        s.setRealFileSeconds(seconds);
    };
}

SimulatorThread::Configure SimulatorThread::burstMs(int ms)
{
    return [ms](sim::StationSimulator &s) { s.setBurstMs(ms); };
}

SimulatorThread::SimulatorThread() : m_ports(sim::freeLoopbackPorts(kPortCount)) {}

SimulatorThread::~SimulatorThread()
{
    quit();
    wait();
}

bool SimulatorThread::begin(const Configure &configure, QString *error)
{
    if (m_ports.size() != kPortCount) {
        if (error)
            *error = QStringLiteral("no %1 free loopback ports").arg(kPortCount);
        return false;
    }
    m_configure = configure;
    av_log_set_level(AV_LOG_ERROR); // the encoders' notices are of no interest here
    start();
    m_ready.acquire();
    if (error)
        *error = m_error;
    return m_started;
}

void SimulatorThread::call(const std::function<void(sim::StationSimulator &)> &f)
{
    QMetaObject::invokeMethod(m_sim, [this, &f] { f(*m_sim); }, Qt::BlockingQueuedConnection);
}

sim::ServedStation SimulatorThread::served(const Station &station)
{
    sim::ServedStation out;
    call([&](sim::StationSimulator &s) {
        if (const sim::ServedStation *p = s.servedFor(station))
            out = *p;
    });
    return out;
}

void SimulatorThread::setFault(const Station &station, sim::Fault fault)
{
    call([&](sim::StationSimulator &s) { s.setFault(station, fault); });
}

void SimulatorThread::clearFaults()
{
    call([](sim::StationSimulator &s) { s.clearFaults(); });
}

QList<sim::RequestRecord> SimulatorThread::requestLog()
{
    QList<sim::RequestRecord> out;
    call([&](sim::StationSimulator &s) { out = s.requestLog(); });
    return out;
}

void SimulatorThread::run()
{
    std::unique_ptr<sim::StationSimulator> simulator;
    // Ports found free may be taken by another program before they are bound: then other
    // ones are tried.
    for (int attempt = 0; attempt < 5 && !m_started; ++attempt) {
        if (attempt > 0)
            m_ports = sim::freeLoopbackPorts(kPortCount);
        simulator = std::make_unique<sim::StationSimulator>(sim::loopbackTable(m_ports));
        if (m_configure)
            m_configure(*simulator);
        m_started = simulator->start(&m_error);
    }
    m_sim = simulator.get();
    m_ready.release();
    if (m_started)
        exec();
    m_sim = nullptr;
}

} // namespace lumora::test
