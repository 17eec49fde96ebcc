#pragma once

#include "page_instance.h"

namespace lumora {

class PlayerControl;
struct Station;

// A station page (Form2 on): the banner, one button per station of the page, the page's player and the
// menus "file" and "to".
class StationPage : public PageInstance {
public:
    StationPage(Page id, PageSet &pages);

    // The click of a station's button on this page: plays the station on this page's player.
    void stationClicked(const Station &station);
    // Plays station number on this page's player, the page opened first but not shown; a
    // failure is logged, not reported: nobody clicked. (The program's start, for the pages
    // that were playing when it last ended.)
    void playInBackground(int number);

    // The page's player; nullptr while the page is not open.
    PlayerControl *player() const;

protected:
    std::unique_ptr<PageWindow> build() override;

private:
    // The player gets what its page kept from earlier runs, is followed from now on, and
    // offers the switch that has playing pages play again at start.
    void attachToMemory(PlayerControl &player);
};

} // namespace lumora
