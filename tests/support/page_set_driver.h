#pragma once

// The program's page set, started as the program starts it, with its end of program recorded
// instead of carried out, driven the way a user drives it: main-page buttons, the "to" and
// "back" menu items, station buttons (by number or caption), the frame's close.

#include "app/memory_files.h"
#include "app/page_set.h"
#include "catalogue/station.h"

#include <QList>
#include <QString>
#include <optional>

class QAction;

namespace lumora {
class PageWindow;
class PlayerControl;
class StationButton;
class StationPage;
} // namespace lumora

namespace lumora::test {

class PageSetDriver {
public:
    // Players from factory, or the program's own when it is empty. With memory, the players
    // remember in those files between page sets, as the program does between runs
    // (MemoryFiles::user() in a ConfigHome); without, nothing is read or written.
    explicit PageSetDriver(PlayerFactory factory = {}, std::optional<MemoryFiles> memory = {});

    QList<int> ends;                                        // each request to end, its code
    PageSet pages{[this](int code) { ends.append(code); }};

    // What exists and what shows.
    QList<Page> createdPages() const;
    QList<Page> visiblePages() const;
    // The page in front (the main page when none is visible).
    Page visible() const;
    PageWindow *window(Page page) const;
    StationPage *stationPage(Page page) const;
    PlayerControl *player(Page page) const;
    // A page's push button with this caption, exactly; nullptr when it has none.
    StationButton *button(Page page, const QString &caption) const;

    // A menu bar item by its name, in whichever menu it is; or in the menu named menu.
    static QAction *menuItem(PageWindow *window, const QString &name);
    static QAction *menuItem(PageWindow *window, const QString &menu, const QString &name);

    // Goes to a page as the user does: its category button from the main page, "back", or
    // its item in the "to" menu of the page in front. Fails the program if it does not show.
    void goTo(Page target);
    // Shows a page as navigation does, from the page in front, without a click.
    void show(Page target);
    // Clicks a station's button, going to its page first.
    void click(const Station &station);
    // Clicks push button CommandN of a window.
    static void click(PageWindow *window, int number);
    // Closes the page in front from its frame; the window and its player go with the next
    // pass of the event loop.
    void closeFront();
};

// The station of a page's button CommandN; fails the program when there is none.
const Station &station(Page page, int number);

} // namespace lumora::test
