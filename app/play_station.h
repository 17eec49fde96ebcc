#pragma once

#include "catalogue/address.h"
#include "catalogue/endpoint_table.h"
#include "catalogue/station.h"

namespace lumora {

class PlayerControl;

// What a station button does: stop the page's player, then write the station's address to
// its URL. Returns at once; the player opens and plays the address by itself. A station
// whose configuration is incomplete has no address: the player is stopped and shows which
// keys are missing; that is no error. A failure of stop or of writing URL is raised as
// lumora::PlayerFailure, and after a failed stop no address is written. The player is told
// the station's caption (none for a bare address), for what the desktop shows as playing,
// and the configuration's limit on the bandwidth of the version played (Hls.MaxBandwidth).
void playStation(PlayerControl &player, const StationAddress &address);
void playStation(PlayerControl &player, const Station &station, const EndpointTable &table);

} // namespace lumora
