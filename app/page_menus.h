#pragma once

#include "catalogue/page.h"

#include <QList>
#include <QString>

class QMenuBar;

namespace lumora {

class PageSet;

// One page item of a station page's "to" menu.
struct PageMenuItem {
    QString name;    // "ن" .. "د"
    QString caption; // the target page's title
    Page target;
};

// The 16 page items of station page `page`: every other station page in page order, named by
// the fixed list of item names.
QList<PageMenuItem> pageMenuItems(Page page);

// Fills the menu bar of `page`: "file" with "exit" on every page, and on a station page "to"
// with "back" and the page items. Every item runs its handler through the page set's click
// dispatcher, under the name "FormN.item".
void buildMenuBar(QMenuBar *bar, Page page, PageSet &pages);

} // namespace lumora
