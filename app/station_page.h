#pragma once

#include "page_instance.h"

class QWidget;

namespace lumora {

struct Station;

// Form2 .. Form18: the banner, one button per station of the page, the page's player and the
// menus "file" and "to".
class StationPage : public PageInstance {
public:
    StationPage(Page id, PageSet &pages);

    // The click of a station's button on this page.
    void stationClicked(const Station &station);

protected:
    std::unique_ptr<PageWindow> build() override;

private:
    // The page's player, created with the window inside its client area; the window gives it
    // its rectangle, its name and the first place in the focus order.
    static QWidget *createPlayer(QWidget *clientArea);
};

} // namespace lumora
