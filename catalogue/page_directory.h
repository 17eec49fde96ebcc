#pragma once

#include "page.h"

#include <QString>
#include <span>

namespace lumora {

// One station page as the main page and the menus know it.
struct PageEntry {
    Page page;
    const char8_t *titleUtf8; // window title, main-page caption and menu caption alike
    int mainButton;           // Command1 .. Command17 on Form1
    int stationCount;

    QString title() const { return QString::fromUtf8(titleUtf8); }
};

// The 17 station pages in page order (Form2 first).
class PageDirectory {
public:
    static std::span<const PageEntry> entries();
    // nullptr for Form1 (not in the directory).
    static const PageEntry *byPage(Page page);
    // Main-page button 1..17; nullptr outside that range.
    static const PageEntry *byMainButton(int button);
};

} // namespace lumora
