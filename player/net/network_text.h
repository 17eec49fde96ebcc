#pragma once

#include <QByteArrayView>
#include <QString>

namespace lumora {

// Text that came from the network (a stream's title, a station's name, a server's reason),
// made fit to be shown as plain text: control characters and the characters that override
// or isolate the direction of text removed (they could reorder what follows them on the
// status line), runs of white space made one space, and at most maxLength characters kept.
// Zero-width joiners stay: Arabic and Persian spelling needs them.
QString plainNetworkText(const QString &text, qsizetype maxLength = 200);

// Bytes from a server: UTF-8 when they are valid UTF-8, else the code page they were written
// in (legacyCodePageOf): the Arabic Windows code page (1256) that older station software
// sends, or Latin-1 (as Windows-1252) from SHOUTcast servers fed French or English titles;
// then made plain as above.
QString decodeNetworkText(QByteArrayView bytes, qsizetype maxLength = 200);

// Which single-byte code page text that is not UTF-8 was most likely written in:
// "windows-1252" for Latin text with accented letters inside words, "windows-1256" for
// Arabic (runs of letters above 0x7F) and whenever the bytes do not tell.
const char *legacyCodePageOf(QByteArrayView bytes);

// The StreamTitle of an ICY metadata block ("StreamTitle='...';StreamUrl='...';"), decoded
// and made plain; an empty string when the block has none.
QString icyStreamTitle(QByteArrayView block);

} // namespace lumora
