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

// Bytes from a server: UTF-8 when they are valid UTF-8, else the Arabic Windows code page
// (1256) that older station software sends; then made plain as above.
QString decodeNetworkText(QByteArrayView bytes, qsizetype maxLength = 200);

// The StreamTitle of an ICY metadata block ("StreamTitle='...';StreamUrl='...';"), decoded
// and made plain; an empty string when the block has none.
QString icyStreamTitle(QByteArrayView block);

} // namespace lumora
