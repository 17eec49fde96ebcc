#pragma once

#include "page.h"

#include <QString>
#include <span>

namespace lumora {

// One station page as the main page and the menus know it. Its stations are in the station
// table (stationsOf).
struct PageEntry {
    Page page;
    const char8_t *titleUtf8; // window title, main-page caption, menu caption and banner alike
    int mainButton;           // its category button on Form1: 1 for Command1, and so on

    QString title() const { return QString::fromUtf8(titleUtf8); }
};

// The station pages in page order (Form2 first).
class PageDirectory {
public:
    static std::span<const PageEntry> entries();
    // nullptr for Form1 (not in the directory).
    static const PageEntry *byPage(Page page);
    // Main-page button 1, 2, ...; nullptr for a number no button has.
    static const PageEntry *byMainButton(int button);
};

} // namespace lumora
