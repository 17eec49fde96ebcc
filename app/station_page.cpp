#include "station_page.h"

#include "layout.h"
#include "mpris_presence.h"
#include "page_directory.h"
#include "page_menus.h"
#include "page_set.h"
#include "page_window.h"
#include "play_station.h"
#include "player_control.h"
#include "program_extras.h"
#include "station.h"
#include "station_button.h"

#include <QLoggingCategory>
#include <stdexcept>

Q_LOGGING_CATEGORY(lcStation, "lumora.station", QtInfoMsg)

namespace lumora {

StationPage::StationPage(Page id, PageSet &pages) : PageInstance(id, pages) {}

PlayerControl *StationPage::player() const
{
    PageWindow *w = window();
    return w ? qobject_cast<PlayerControl *>(w->player()) : nullptr;
}

void StationPage::stationClicked(const Station &station)
{
    qCDebug(lcStation) << pageName(id()) << station.buttonName() << station.caption();
    // The button was clicked, so the page is open and its player exists.
    playStation(*player(), station, pages().endpoints().table());
}

std::unique_ptr<PageWindow> StationPage::build()
{
    // The window places the player at its rectangle, names it and puts it first in the
    // focus order.
    auto window = std::make_unique<PageWindow>(
        pageLayout(id()), [this](QWidget *clientArea) -> QWidget * {
            PlayerControl *player = pages().createPlayer(clientArea);
            if (player) { // known to the desktop's media keys by the page's name and title
                new MprisPresence(player, pageName(id()), PageDirectory::byPage(id())->title());
                pages().extras().attach(player);
            }
            return player;
        });
    buildMenuBar(window->menuBar(), id(), pages());
    for (const Station &station : stationsOf(id())) {
        StationButton *button = window->button(station.number);
        if (!button)
            throw std::logic_error("station page layout lacks a station's button");
        dispatcher().bind(button, controlName(station.buttonName()),
                          [this, &station] { stationClicked(station); });
    }
    return window;
}

} // namespace lumora
