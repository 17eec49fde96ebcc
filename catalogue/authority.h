#pragma once

#include <QStringView>
#include <optional>

namespace lumora {

// The authority of an address, "[userinfo@]host[:port]", split into views of the same text.
// The one place where Lumora takes a host and a port apart: the endpoint file, the player's
// connections, the wire form of an address and the station simulator all use it.
struct Authority {
    QStringView userInfo; // before the last '@', without it; null when there is none
    QStringView host;     // an IPv6 address without its brackets
    QStringView port;     // null: no ':' after the host; empty: a ':' with nothing after it
    bool bracketed = false; // host was written in brackets (an IPv6 address)
    // Why the authority could not be split (a '[' without its ']', text after the ']'
    // other than ":port"); null when it could. The views are then empty.
    const char *problem = nullptr;
};
Authority splitAuthority(QStringView authority);

// A port written in ASCII digits, from 1 to 65535; nullopt for anything else.
std::optional<quint16> portNumber(QStringView port);

} // namespace lumora
