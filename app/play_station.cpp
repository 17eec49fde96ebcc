#include "play_station.h"

#include "catalogue/endpoint_table.h"
#include "player/widget/player_control.h"

namespace lumora {

namespace {

void stopAndWrite(PlayerControl &player, const StationAddress &address, const QString &caption)
{
    player.stop();
    // Once the old station is stopped: what the desktop shows as playing (MPRIS).
    player.setStationCaption(caption);
    if (!address.ok()) {
        player.showNoAddress(address.missing, EndpointTable::userFile());
        return;
    }
    player.setURL(address.text);
}

} // namespace

void playStation(PlayerControl &player, const StationAddress &address)
{
    stopAndWrite(player, address, QString());
}

void playStation(PlayerControl &player, const Station &station, const EndpointTable &table)
{
    // The listener's settings of the configuration go with every station it gives an address.
    player.setBandwidthLimit(table.hlsMaxBandwidth());
    stopAndWrite(player, addressOf(station, table), station.caption());
}

} // namespace lumora
