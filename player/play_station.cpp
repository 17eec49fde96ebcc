#include "play_station.h"

#include "player_control.h"

namespace lumora {

void playStation(PlayerControl &player, const StationAddress &address)
{
    player.stop();
    if (!address.ok()) {
        player.showNoAddress(address.missing);
        return;
    }
    player.setURL(address.text);
}

void playStation(PlayerControl &player, const Station &station, const EndpointTable &table)
{
    playStation(player, addressOf(station, table));
}

} // namespace lumora
