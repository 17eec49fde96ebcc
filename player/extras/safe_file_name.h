#pragma once

#include <QString>

namespace lumora {

// A file name made from text a server sent (a stream title) or a station's caption: no path
// separators or characters other systems refuse in names, no control, format or direction
// characters (the zero-width joiners that Arabic and Persian spelling use are kept), no
// leading dot or space, white space folded to single spaces, at most maxBytes bytes of UTF-8
// cut at a whole character. Arabic and every other script are kept as they are. Text with
// nothing left gives fallback.
QString safeFileName(const QString &text, int maxBytes, const QString &fallback = QStringLiteral("Lumora"));

} // namespace lumora
