#pragma once

// What a rough link does to the traffic through it, as a function of the time since the link
// began: a fixed delay each way, short holds at random (jitter), stalls of the server's
// direction, a bandwidth cap that may change once, and an outage in both directions. Pure
// arithmetic on the time, so that the relay that applies it and the tests that check it see
// the same timetable, and a seed gives the same holds every run.

#include <QString>
#include <QStringList>
#include <optional>

namespace lumora::sim {

struct LinkCondition {
    enum class Direction { Up, Down }; // Up: client to server; Down: server to client

    QString name = QStringLiteral("clean");
    int delayMs = 0;      // every chunk, each way
    int jitterEveryMs = 0; // > 0: a hold begins every jitterEveryMs, both ways
    int jitterMaxMs = 0;  //       lasting a random 0..jitterMaxMs (from seed)
    quint32 seed = 1;
    int stallEveryMs = 0; // > 0: every stallEveryMs the down direction stops
    int stallMs = 0;      //       for stallMs, the connection left open
    int bitrateKbps = 128; // the stream's bit rate the cap is a multiple of
    double cap = 0;        // > 0: bandwidth cap, each way, cap x bitrateKbps
    double laterCap = 0;   // > 0: from capChangeMs on, laterCap x bitrateKbps instead
    int capChangeMs = 0;
    int outageAtMs = -1;  // >= 0: from then on, outageMs in which nothing flows either way
    int outageMs = 0;     //        and new connections are black-holed

    // A preset: clean, jitter, stalls, thin, thin-recover, outage.
    static std::optional<LinkCondition> named(const QString &name);
    // "NAME" or "NAME:key=value,key=value" (keys in parameterNames()); nullopt with the
    // reason when a name, key or value is not right.
    static std::optional<LinkCondition> parse(const QString &text, QString *error = nullptr);
    static QStringList names();
    static QStringList parameterNames();

    // When data in direction d, ready at atMs (its delay included), may flow: atMs itself, or
    // the end of the hold, stall or outage it falls into.
    qint64 releaseMs(Direction d, qint64 atMs) const;
    // Whether a connection accepted at atMs is black-holed (the outage).
    bool inOutage(qint64 atMs) const;
    // The nth jitter hold (n = 1, 2, ...) in ms, begun at n x jitterEveryMs.
    int jitterHoldMs(int n) const;
    // The cap at atMs in bytes per second; 0: none.
    double capBytesPerSecond(qint64 atMs) const;
};

} // namespace lumora::sim
