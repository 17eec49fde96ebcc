#pragma once

#include "tools/station-sim/station_simulator.h"

#include <QTest>
#include <memory>

namespace lumora::test {

// A simulator serving the whole catalogue on loopback ports that are free right now, so a
// test never meets a running demo (which uses 18001-18065). With LUMORA_SIM_CONFIG set to a
// configuration file (e.g. demo/endpoints.conf), it serves that file's endpoints instead.
inline std::unique_ptr<sim::StationSimulator> startLoopbackSimulator()
{
    const QString config = qEnvironmentVariable("LUMORA_SIM_CONFIG");
    // Ports found free may be taken by another program (a test running beside this one, or
    // a connection's own port) before they are bound: then other ones are tried.
    QString error;
    for (int attempt = 0; attempt < 5; ++attempt) {
        EndpointTable table;
        if (!config.isEmpty()) {
            table = EndpointTable::load(config);
        } else {
            const QList<quint16> ports = sim::freeLoopbackPorts(keys::kEndpointCount);
            if (ports.size() != keys::kEndpointCount)
                return nullptr;
            table = sim::loopbackTable(ports);
        }
        auto simulator = std::make_unique<sim::StationSimulator>(table);
        simulator->setMp3FileSeconds(10); // short files: quick to make, and they end within a test
        simulator->setRealFileSeconds(20);
        if (simulator->start(&error))
            return simulator;
        if (!config.isEmpty())
            break; // the configured ports are what they are
    }
    qWarning("%s", qPrintable(error));
    return nullptr;
}

// The first served address of a kind and scheme.
inline const sim::ServedStation *firstOfKind(const sim::StationSimulator &s, Kind kind,
                                              Scheme scheme = Scheme::Http)
{
    for (const sim::ServedStation &st : s.served())
        if (st.kind == kind && st.scheme == scheme && !st.stations.isEmpty())
            return &st;
    return nullptr;
}

} // namespace lumora::test
