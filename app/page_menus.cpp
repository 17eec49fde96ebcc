#include "page_menus.h"

#include "catalogue/page_directory.h"
#include "page_set.h"
#include "ui/right_to_left_menu_style.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <iterator>

namespace lumora {

namespace {

constexpr char8_t kMainFileCaption[] = u8"ملف";
constexpr char8_t kStationFileCaption[] = u8"فتح";
constexpr char8_t kToCaption[] = u8"الذهاب إلى";
constexpr char8_t kExitCaption[] = u8"إنهاء";
constexpr char8_t kBackCaption[] = u8"الصفحة الرئيسية";

// Names of the page items of the "to" menu, by position, the same on every station page.
// Positions past these, should pages be added, are named "to" and their number.
constexpr const char8_t *kPageItemNames[] = {
    u8"ن", u8"م", u8"ك", u8"ط", u8"ض", u8"ص", u8"ث", u8"ق",
    u8"ف", u8"غ", u8"ع", u8"ه", u8"خ", u8"ح", u8"ج", u8"د",
};

QString pageItemName(qsizetype position)
{
    if (position < qsizetype(std::size(kPageItemNames)))
        return QString::fromUtf8(kPageItemNames[position]);
    return QStringLiteral("to%1").arg(position + 1);
}

QMenu *addMenu(QMenuBar *bar, const char *name, const char8_t *caption, QStyle *style)
{
    QMenu *menu = bar->addMenu(QString::fromUtf8(caption));
    menu->setObjectName(QString::fromLatin1(name));
    menu->setLayoutDirection(Qt::RightToLeft);
    menu->setStyle(style);
    return menu;
}

QAction *addItem(QMenu *menu, const QString &name, const QString &caption,
                 const QKeySequence &shortcut = {})
{
    QAction *action = menu->addAction(caption);
    action->setObjectName(name);
    action->setShortcut(shortcut);
    return action;
}

} // namespace

QList<PageMenuItem> pageMenuItems(Page page)
{
    QList<PageMenuItem> items;
    for (const PageEntry &entry : PageDirectory::entries()) {
        if (entry.page == page)
            continue;
        items.append({pageItemName(items.size()), entry.title(), entry.page});
    }
    return items;
}

void buildMenuBar(QMenuBar *bar, Page page, PageSet &pages)
{
    // The menus live in the window, below its title bar, on every desktop.
    bar->setNativeMenuBar(false);
    ClickDispatcher &clicks = pages.dispatcher();
    const QString prefix = pageName(page) + QLatin1Char('.');
    const bool station = isStationPage(page);
    // Items right-aligned, shortcuts at the left, in every style; the bar owns it.
    auto *menuStyle = new RightToLeftMenuStyle;
    menuStyle->setParent(bar);

    QMenu *file = addMenu(bar, "file", station ? kStationFileCaption : kMainFileCaption, menuStyle);
    QAction *exit = addItem(file, QStringLiteral("exit"), QString::fromUtf8(kExitCaption),
                            QKeySequence(Qt::CTRL | Qt::Key_W));
    clicks.bind(exit, prefix + exit->objectName(), [&pages] { pages.endProgram(); });
    if (!station)
        return;

    QMenu *to = addMenu(bar, "to", kToCaption, menuStyle);
    QAction *back = addItem(to, QStringLiteral("back"), QString::fromUtf8(kBackCaption),
                            QKeySequence(Qt::CTRL | Qt::Key_Z));
    clicks.bind(back, prefix + back->objectName(),
                [&pages, page] { pages.showPage(Page::Form1, page); });
    for (const PageMenuItem &item : pageMenuItems(page)) {
        QAction *action = addItem(to, item.name, item.caption);
        clicks.bind(action, prefix + item.name,
                    [&pages, page, target = item.target] { pages.showPage(target, page); });
    }
}

} // namespace lumora
