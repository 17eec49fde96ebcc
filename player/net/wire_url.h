#pragma once

#include <QString>

namespace lumora {

// The form of an address that goes on the wire (to libVLC or into an HTTP request line).
//
// A station's address is kept exactly as written; only this copy is made a valid URI:
// spaces, control characters, non-ASCII letters and the few ASCII characters a URI cannot
// hold are percent-encoded as UTF-8. A '%' that already starts an escape ("%20") is left as
// it is; a lone '%' becomes "%25". A non-ASCII host name is written in its ASCII (IDNA) form.
QString toWireUrl(const QString &address);

// The scheme of an address in lower case, or an empty string when it has none.
QString schemeOf(const QString &address);

// Schemes an address may use: the network protocols Lumora speaks itself (http, https, mms,
// mmsh) and MMS over TCP (mmst), which libVLC speaks for it. file:, device and capture
// schemes (v4l2, alsa, dshow, screen, udp, ...) are never accepted, from a station, a
// redirect or a playlist.
bool isNetworkScheme(const QString &scheme);

} // namespace lumora
