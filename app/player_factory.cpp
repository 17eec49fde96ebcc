#include "player_factory.h"

#include "player/widget/player_control.h"

#include <stdexcept>

namespace lumora {

PlayerControl &PlayerFactory::create(QWidget *clientArea) const
{
    if (!m_make)
        return *new PlayerControl(clientArea);
    PlayerControl *player = m_make(clientArea);
    if (!player)
        throw std::logic_error("the player factory made no player");
    return *player;
}

} // namespace lumora
