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
    BitRate,  // a whole number of bits per second within kMinBitRate..kMaxBitRate
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
// The bounds of a BitRate key: below 8 kbit/s no stream carries audio worth hearing, above
// 100 Mbit/s no audio stream goes.
inline constexpr qint64 kMinBitRate = 8000;
inline constexpr qint64 kMaxBitRate = 100000000;
// The highest bandwidth an HTTP Live Streaming variant may announce to be played.
inline constexpr char kHlsMaxBandwidth[] = "Hls.MaxBandwidth";

// "E01" .. "E65".
QString endpointKey(int number);
// The address pieces, in the order the template lists them.
std::span<const KeyRow> pieces();
// The row of a piece key; nullptr for any other key.
const KeyRow *piece(QStringView key);
// The listener's settings of how the player fetches, in the order the template lists them.
// Each is optional: left out or empty, the player's default holds.
std::span<const KeyRow> settings();
const KeyRow *setting(QStringView key);
// The override key of a station, "Form2.Command5", and the station such a key names.
QString overrideKey(const Station &station);
const Station *overriddenStation(QStringView key);
// The kind of any key; nullopt for a key the configuration does not know.
std::optional<KeyKind> kindOf(QStringView key);
// The schemes an override may use.
bool isOverrideScheme(QStringView scheme);

} // namespace keys
} // namespace lumora
