#pragma once

#include "station_simulator.h"

#include <QTest>
#include <memory>

namespace lumora::test {

// A simulator serving the whole catalogue on loopback ports that are free right now, so a
// test never meets a running demo (which uses 18001-18065). With LUMORA_SIM_CONFIG set to a
// configuration file (e.g. demo/endpoints.conf), it serves that file's endpoints instead.
inline std::unique_ptr<sim::StationSimulator> startLoopbackSimulator()
{
    EndpointTable table;
    if (const QString config = qEnvironmentVariable("LUMORA_SIM_CONFIG"); !config.isEmpty()) {
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
    QString error;
    if (!simulator->start(&error)) {
        qWarning("%s", qPrintable(error));
        return nullptr;
    }
    return simulator;
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
