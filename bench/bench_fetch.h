#pragma once

// One GET through Lumora's own client, for the bench programs that need a body.

#include "bench_support.h"
#include "player/net/http_get.h"

namespace lumora::bench {

// The body at address; empty when it cannot be fetched within 15 s.
inline QByteArray fetch(const QString &address)
{
    HttpGet get;
    QByteArray body;
    bool failed = false;
    QObject::connect(&get, &HttpGet::done, [&](const QByteArray &b) { body = b; });
    QObject::connect(&get, &HttpGet::failed, [&] { failed = true; });
    get.start(address, {});
    waitFor([&] { return !body.isEmpty() || failed; }, 15000);
    return failed ? QByteArray() : body;
}

} // namespace lumora::bench
