#pragma once

#include "asf_preroll.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace lumora {

// What an ASF header says that an MMSH client needs: the size every data packet must be
// padded to, and the numbers of the streams it holds.
struct AsfHeaderInfo {
    quint32 packetSize = 0;
    QList<int> streams;
};

// Reads an ASF header object, every size checked against what is there. false when the
// bytes are no ASF header.
bool parseAsfHeader(QByteArrayView header, AsfHeaderInfo &info);

// Takes the framing of Windows Media over HTTP apart: "$H" chunks carry the ASF header,
// "$D" chunks one data packet each (cut short of its padding), "$E" ends the stream and "$C"
// announces a new one. What comes out is the plain ASF byte stream that libVLC's ASF demuxer
// reads: the header, then every packet padded to the header's packet size, with the header's
// preroll taken out (AsfPrerollCut): Lumora keeps the cushion, libVLC plays what comes.
class MmshUnframer {
public:
    enum class State { Running, Ended, Failed };

    State feed(QByteArrayView bytes);
    State state() const { return m_state; }
    QString error() const { return m_error; }

    // The ASF header as the server sent it, once a whole "$H" chunk has come.
    const QByteArray &header() const { return m_header; }
    bool hasHeader() const { return m_info.packetSize > 0; }
    const AsfHeaderInfo &headerInfo() const { return m_info; }
    // The ASF bytes made so far and not yet taken.
    QByteArray takeOutput();
    qsizetype pendingOutput() const { return m_output.size(); }

private:
    State fail(const QString &error);

    State m_state = State::Running;
    QString m_error;
    QByteArray m_pending; // an incomplete chunk
    QByteArray m_header; // as the server sent it
    AsfHeaderInfo m_info;
    AsfPrerollCut m_cut;
    bool m_toldUnparsed = false;
    QByteArray m_output;
};

} // namespace lumora
