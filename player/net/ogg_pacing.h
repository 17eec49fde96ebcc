#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace lumora {

// Follows the pages of a live Ogg stream (Vorbis or Opus) and tells how much audio one page
// carries. Some servers send a page only every few seconds; libVLC stamps each page's audio by
// the page's end, so a page longer than its clock's margin arrives late and is never heard.
// Knowing the spacing, the player can give libVLC the margin it needs. Every length is
// checked: a page is at most 27 + 255 + 255 * 255 bytes, and anything that is no Ogg page
// stops the watching.
class OggPacing {
public:
    void feed(QByteArrayView bytes);
    // The longest stretch of audio between two pages seen so far, in milliseconds; 0 until
    // two pages with audio have been seen.
    int longestPageMs() const { return m_longestMs; }

private:
    void page(QByteArrayView header, QByteArrayView body, qint64 granule);

    QByteArray m_pending;
    qint64 m_rate = 0;     // granule units a second: the Vorbis sample rate, 48 kHz for Opus
    qint64 m_lastGranule = -1;
    int m_longestMs = 0;
    bool m_lost = false;   // not an Ogg stream after all
};

} // namespace lumora
