#include "page_set_driver.h"

#include "app/main_page.h"
#include "app/page_instance.h"
#include "app/page_menus.h"
#include "app/station_page.h"
#include "catalogue/page_directory.h"
#include "player/widget/player_control.h"
#include "ui/page_window.h"
#include "ui/station_button.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

namespace lumora::test {

PageSetDriver::PageSetDriver(PlayerFactory factory, std::optional<MemoryFiles> memory)
{
    pages.setPlayerFactory(std::move(factory));
    if (memory)
        pages.rememberIn(*memory);
    pages.start();
}

QList<Page> PageSetDriver::createdPages() const
{
    QList<Page> result;
    for (int n = 1; n <= kPageCount; ++n)
        if (pages.slot(Page(n)))
            result << Page(n);
    return result;
}

QList<Page> PageSetDriver::visiblePages() const
{
    QList<Page> result;
    for (Page p : createdPages())
        if (pages.slot(p)->isVisible())
            result << p;
    return result;
}

Page PageSetDriver::visible() const
{
    return visiblePages().value(0, Page::Form1);
}

PageWindow *PageSetDriver::window(Page page) const
{
    PageInstance *p = pages.slot(page);
    return p ? p->window() : nullptr;
}

StationPage *PageSetDriver::stationPage(Page page) const
{
    return dynamic_cast<StationPage *>(pages.slot(page));
}

PlayerControl *PageSetDriver::player(Page page) const
{
    StationPage *p = stationPage(page);
    return p ? p->player() : nullptr;
}

StationButton *PageSetDriver::button(Page page, const QString &caption) const
{
    if (PageWindow *w = window(page))
        for (StationButton *b : w->buttons())
            if (b->text() == caption)
                return b;
    return nullptr;
}

QAction *PageSetDriver::menuItem(PageWindow *window, const QString &name)
{
    for (QAction *a : window->menuBar()->findChildren<QAction *>())
        if (a->objectName() == name)
            return a;
    return nullptr;
}

QAction *PageSetDriver::menuItem(PageWindow *window, const QString &menu, const QString &name)
{
    if (QMenu *m = window->menuBar()->findChild<QMenu *>(menu))
        for (QAction *a : m->actions())
            if (a->objectName() == name)
                return a;
    return nullptr;
}

void PageSetDriver::goTo(Page target)
{
    const Page from = visible();
    if (from == target)
        return;
    PageWindow *w = window(from);
    const QString to = QStringLiteral("to");
    if (from == Page::Form1) {
        click(w, PageDirectory::byPage(target)->mainButton);
    } else if (target == Page::Form1) {
        menuItem(w, to, QStringLiteral("back"))->trigger();
    } else {
        for (const PageMenuItem &item : pageMenuItems(from))
            if (item.target == target)
                menuItem(w, to, item.name)->trigger();
    }
    if (visible() != target)
        qFatal("navigation from %s to %s failed", qPrintable(pageName(from)), qPrintable(pageName(target)));
}

void PageSetDriver::show(Page target)
{
    const Page from = visible();
    if (from != target || !pages.slot(target) || !pages.slot(target)->isVisible())
        pages.showPage(target, from);
}

void PageSetDriver::click(const Station &station)
{
    goTo(station.page);
    click(window(station.page), station.number);
}

void PageSetDriver::click(PageWindow *window, int number)
{
    QTest::mouseClick(window->button(number), Qt::LeftButton);
}

void PageSetDriver::closeFront()
{
    window(visible())->close();
}

const Station &station(Page page, int number)
{
    const Station *s = findStation(page, number);
    if (!s)
        qFatal("%s has no station %d", qPrintable(pageName(page)), number);
    return *s;
}

} // namespace lumora::test
