#pragma once

#include "catalogue/endpoint_table.h"
#include "catalogue/station.h"

#include <QSet>

namespace lumora::test {

// A configuration that gives every key a valid value: endpoints "eNN.example.net", with
// ":80NN" where the catalogue says the endpoint carries a port.
inline EndpointTable completeTable()
{
    QSet<int> withPort;
    for (const Station &s : allStations())
        if (s.explicitPort)
            withPort.insert(s.endpoint);
    EndpointTable t;
    for (int n = 1; n <= keys::kEndpointCount; ++n) {
        const QString key = keys::endpointKey(n);
        QString value = QStringLiteral("e%1.example.net").arg(n, 2, 10, QLatin1Char('0'));
        if (withPort.contains(n))
            value += QStringLiteral(":%1").arg(8000 + n);
        t.set(key, value);
    }
    t.set("Form2.Command5.account", "partyacct");
    t.set("Form2.Command5.domain", "stream_provider_net");
    t.set("Form2.Command10.domain", "NogoumFm.com");
    t.set("Form4.Command12.id", "0123456789abcdef0123456789abcdef");
    t.set("Form11.Command1.stream", "01234567-89ab-cdef-0123-456789abcdef");
    t.set("Form16.Command4.account", "buraq");
    t.set("Form16.Command5.site", "baladjenin");
    t.set("Form16.Command19.id", "fedcba9876543210fedcba9876543210");
    t.set("Form16.Command21.domain", "almanar-net");
    t.set("Form17.Command9.stream", "11111111-2222-3333-4444-555555555555");
    t.set("Form17.Command14.stream", "aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee");
    return t;
}

} // namespace lumora::test
