#pragma once

#include "station.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <span>

namespace lumora {

// The kinds of key an endpoint configuration holds.
enum class KeyKind {
    Endpoint, // E01..E65: a station's host, with ":port" where the catalogue says so
    Id,       // 32 lowercase hexadecimal digits
    Stream,   // a lowercase GUID
    Name,     // letters, digits, '.', '_' and '-'
    Override, // FormN.CommandM: a station's whole address, replacing the composed one
};

// One key of the configuration with what it is: its kind, the help the template gives, and
// a valid value that the demo and the station simulator use.
struct KeyRow {
    const char *key;
    KeyKind kind;
    const char *help;
    const char *demoValue;
};

// Every key a configuration may hold, written once.
namespace keys {

inline constexpr int kEndpointCount = 65;

// "E01" .. "E65".
QString endpointKey(int number);
// The address pieces, in the order the template lists them.
std::span<const KeyRow> pieces();
// The row of a piece key; nullptr for any other key.
const KeyRow *piece(QStringView key);
// The override key of a station, "Form2.Command5", and the station such a key names.
QString overrideKey(const Station &station);
const Station *overriddenStation(QStringView key);
// The kind of any key; nullopt for a key the configuration does not know.
std::optional<KeyKind> kindOf(QStringView key);
// The schemes an override may use.
bool isOverrideScheme(QStringView scheme);

} // namespace keys
} // namespace lumora
