#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>

namespace lumora::sim {

// One request as the simulator received it, and what it answered.
struct RequestRecord {
    QDateTime time;
    quint16 port = 0;
    QByteArray method;     // "GET"; "-" for a connection that spoke no HTTP (e.g. MMST)
    QByteArray target;     // the request target exactly as sent
    QList<QPair<QByteArray, QByteArray>> headers; // the headers of interest, as sent
    int status = 0;        // status answered; 0 when nothing was answered
    QString station;       // "Form2.Command1", or empty when nothing matched
    QString fault;         // fault mode applied, or empty
    int connection = 0;    // which connection it came on: 1, 2, ... in the order they were accepted

    QByteArray header(const QByteArray &name) const; // case-insensitive; empty when absent
    // "2026-01-01T12:00:00.000Z 18001 GET /path 200 Form2.Command1 User-Agent="..." ..."
    QString toLine() const;

    // Header names the log keeps.
    static bool isOfInterest(const QByteArray &name);
};

} // namespace lumora::sim
