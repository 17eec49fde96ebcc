#pragma once

#include "ts_packets.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace lumora {

// The titles that an MPEG-TS stream carries as timed ID3: ID3v2 tags in PES packets on the
// stream that the program map lists as metadata (stream type 0x15), as HLS packagers write
// "now playing" into TS segments. Fed the stream's bytes in order, in any pieces; the tables
// and a PES split across feeds are kept from one feed to the next. Bytes that are not TS,
// tables that do not parse and tags without TIT2 give nothing.
class TsTimedId3 {
public:
    // The TIT2 titles of the tags completed by these bytes, in order.
    QStringList feed(QByteArrayView bytes);

    // A metadata PES larger than this is dropped: a title fits in far less.
    static constexpr qsizetype kMaxPesBytes = 256 * 1024;

private:
    void payload(bool unitStart, QByteArrayView bytes, QStringList &titles);
    void endPes(QStringList &titles);

    TsPackets m_packets;
    int m_metadataPid = -1;
    QByteArray m_pes;
    bool m_inPes = false;
};

} // namespace lumora
