// The menus of all 18 pages: names, captions, order, shortcuts and where every item leads.

#include "tests/support/page_set_driver.h"

#include "app/main_page.h"
#include "app/page_instance.h"
#include "ui/page_window.h"
#include "ui/station_button.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include "app/page_menus.h"
#include "catalogue/page_directory.h"

#include <QImage>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStyle>
#include <algorithm>

using namespace lumora;
using namespace lumora::test;

namespace {

const QStringList kItemNames{
    QStringLiteral("ن"), QStringLiteral("م"), QStringLiteral("ك"), QStringLiteral("ط"),
    QStringLiteral("ض"), QStringLiteral("ص"), QStringLiteral("ث"), QStringLiteral("ق"),
    QStringLiteral("ف"), QStringLiteral("غ"), QStringLiteral("ع"), QStringLiteral("ه"),
    QStringLiteral("خ"), QStringLiteral("ح"), QStringLiteral("ج"), QStringLiteral("د"),
};

QList<QMenu *> menusOf(PageWindow *window)
{
    QList<QMenu *> menus;
    for (QAction *a : window->menuBar()->actions())
        menus << a->menu();
    return menus;
}

void checkPlainItem(QAction *a)
{
    QVERIFY(a->isEnabled() && a->isVisible() && !a->isChecked() && !a->isSeparator());
    QVERIFY(!a->menu());
    QVERIFY(!a->text().contains(QLatin1Char('&')));
}

} // namespace

class Menus : public QObject {
    Q_OBJECT

private slots:
    void mainPageHasOnlyFileExit();
    void stationPageMenus_data();
    void stationPageMenus();
    void everyPageItemLeadsToItsPage_data();
    void everyPageItemLeadsToItsPage();
    void kuwaitiPageToMenu();
    void menuBarReadsRightToLeft();
    void choosingAnItemWithTheMouse();
    void f10OpensTheMenuBar();
    void menuItemsReadRightToLeft_data();
    void menuItemsReadRightToLeft();
    void ctrlWEndsFromEveryPage_data();
    void ctrlWEndsFromEveryPage();
    void ctrlZReturnsFromStationPages();
    void ctrlZOnTheMainPageDoesNothing();
    void everyTextIsOneByteACharacterInWindows1256();
};

void Menus::mainPageHasOnlyFileExit()
{
    PageSetDriver shell;
    PageWindow *main = shell.window(Page::Form1);
    const QList<QMenu *> menus = menusOf(main);
    QCOMPARE(menus.size(), 1);
    QCOMPARE(menus[0]->objectName(), QStringLiteral("file"));
    QCOMPARE(menus[0]->title(), QStringLiteral("ملف"));
    QCOMPARE(menus[0]->actions().size(), 1);
    QAction *exit = menus[0]->actions().first();
    QCOMPARE(exit->objectName(), QStringLiteral("exit"));
    QCOMPARE(exit->text(), QStringLiteral("إنهاء"));
    QCOMPARE(exit->shortcut(), QKeySequence(QStringLiteral("Ctrl+W")));
    checkPlainItem(exit);
    QVERIFY(!main->menuBar()->isNativeMenuBar());
}

void Menus::stationPageMenus_data()
{
    QTest::addColumn<int>("page");
    for (const PageEntry &e : PageDirectory::entries())
        QTest::newRow(qPrintable(pageName(e.page))) << pageNumber(e.page);
}

void Menus::stationPageMenus()
{
    QFETCH(int, page);
    const Page self = Page(page);
    PageSetDriver shell;
    shell.show(self);
    PageWindow *window = shell.window(self);
    const QList<QMenu *> menus = menusOf(window);
    QCOMPARE(menus.size(), 2);
    QCOMPARE(menus[0]->objectName(), QStringLiteral("file"));
    QCOMPARE(menus[0]->title(), QStringLiteral("فتح"));
    QCOMPARE(menus[1]->objectName(), QStringLiteral("to"));
    QCOMPARE(menus[1]->title(), QStringLiteral("الذهاب إلى"));

    QCOMPARE(menus[0]->actions().size(), 1);
    QCOMPARE(menus[0]->actions()[0]->objectName(), QStringLiteral("exit"));
    QCOMPARE(menus[0]->actions()[0]->text(), QStringLiteral("إنهاء"));
    QCOMPARE(menus[0]->actions()[0]->shortcut(), QKeySequence(QStringLiteral("Ctrl+W")));

    const QList<QAction *> items = menus[1]->actions();
    QCOMPARE(items.size(), 17);
    QCOMPARE(items[0]->objectName(), QStringLiteral("back"));
    QCOMPARE(items[0]->text(), QStringLiteral("الصفحة الرئيسية"));
    QCOMPARE(items[0]->shortcut(), QKeySequence(QStringLiteral("Ctrl+Z")));
    // Then every other station page in page order, under the fixed names.
    QStringList names, captions, expectedCaptions;
    for (int k = 1; k < items.size(); ++k) {
        names << items[k]->objectName();
        captions << items[k]->text();
        QVERIFY(items[k]->shortcut().isEmpty());
        checkPlainItem(items[k]);
    }
    for (const PageEntry &e : PageDirectory::entries())
        if (e.page != self)
            expectedCaptions << e.title();
    QCOMPARE(names, kItemNames);
    QCOMPARE(captions, expectedCaptions);
    QVERIFY(!captions.contains(window->windowTitle())); // never its own title
    QCOMPARE(pageMenuItems(self).size(), 16);
}

void Menus::everyPageItemLeadsToItsPage_data()
{
    stationPageMenus_data();
}

void Menus::everyPageItemLeadsToItsPage()
{
    QFETCH(int, page);
    const Page self = Page(page);
    PageSetDriver shell;
    QList<Page> targets;
    for (const PageEntry &e : PageDirectory::entries())
        if (e.page != self)
            targets << e.page;
    for (int k = 0; k < 16; ++k) {
        shell.show(self);
        const bool targetExisted = shell.pages.slot(targets[k]) != nullptr;
        PageInstance *before = shell.pages.slot(targets[k]);
        QAction *item = PageSetDriver::menuItem(shell.window(self), "to", kItemNames[k]);
        QVERIFY(item);
        item->trigger();
        QCOMPARE(shell.visiblePages(), QList<Page>{targets[k]});
        QVERIFY(shell.pages.slot(self)->isOpen()); // hidden, not closed
        if (targetExisted)
            QCOMPARE(shell.pages.slot(targets[k]), before);
        QCOMPARE(shell.window(targets[k])->windowTitle(), item->text());
    }
    // back leads to the main page the program started with.
    PageWindow *mainWindow = shell.window(Page::Form1);
    shell.show(self);
    PageSetDriver::menuItem(shell.window(self), "to", "back")->trigger();
    QCOMPARE(shell.visiblePages(), QList<Page>{Page::Form1});
    QCOMPARE(shell.window(Page::Form1), mainWindow);
}

void Menus::kuwaitiPageToMenu()
{
    // The to menu of Form9 as a reader would list it.
    const QList<PageMenuItem> items = pageMenuItems(Page::Form9);
    QCOMPARE(items[0].target, Page::Form2);
    QCOMPARE(items[6].target, Page::Form8);
    QCOMPARE(items[7].name, QStringLiteral("ق"));
    QCOMPARE(items[7].target, Page::Form10);
    QCOMPARE(items[7].caption, QStringLiteral("إذاعات تونسية"));
    QCOMPARE(items[15].name, QStringLiteral("د"));
    QCOMPARE(items[15].target, Page::Form18);
    QCOMPARE(pageMenuItems(Page::Form2)[0].target, Page::Form3);
    QCOMPARE(pageMenuItems(Page::Form2)[1].target, Page::Form4);
}

void Menus::menuBarReadsRightToLeft()
{
    PageSetDriver shell;
    shell.show(Page::Form2);
    PageWindow *window = shell.window(Page::Form2);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QMenuBar *bar = window->menuBar();
    const QList<QAction *> menus = bar->actions();
    QCOMPARE(bar->layoutDirection(), Qt::RightToLeft);
    // The first menu stands at the right edge, the second to its left.
    QVERIFY(bar->actionGeometry(menus[0]).x() > bar->actionGeometry(menus[1]).x());
    QVERIFY(bar->actionGeometry(menus[0]).right() >= bar->width() - 12);
    for (QAction *m : menus)
        QCOMPARE(m->menu()->layoutDirection(), Qt::RightToLeft);
}

void Menus::choosingAnItemWithTheMouse()
{
    PageSetDriver shell;
    shell.show(Page::Form4);
    PageWindow *window = shell.window(Page::Form4);
    QVERIFY(QTest::qWaitForWindowActive(window));
    QMenu *to = window->menuBar()->findChild<QMenu *>(QStringLiteral("to"));
    QMenuBar *bar = window->menuBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(to->menuAction()).center());
    QTRY_VERIFY(to->isVisible());
    QAction *item = PageSetDriver::menuItem(window, "to", QStringLiteral("ن")); // Form2
    QTest::mouseClick(to, Qt::LeftButton, {}, to->actionGeometry(item).center());
    QTRY_COMPARE(shell.visiblePages(), QList<Page>{Page::Form2});
}

void Menus::f10OpensTheMenuBar()
{
    PageSetDriver shell;
    for (Page p : {Page::Form1, Page::Form7}) {
        shell.show(p);
        PageWindow *window = shell.window(p);
        QVERIFY(QTest::qWaitForWindowActive(window));
        QMenu *file = window->menuBar()->findChild<QMenu *>(QStringLiteral("file"));
        QTest::keyClick(window, Qt::Key_F10);
        QTRY_VERIFY(file->isVisible());
        QCOMPARE(QApplication::activePopupWidget(), file);
        // The keyboard carries on from there: Left opens the next menu (right to left).
        if (p == Page::Form7) {
            QTest::keyClick(file, Qt::Key_Left);
            QMenu *to = window->menuBar()->findChild<QMenu *>(QStringLiteral("to"));
            QTRY_VERIFY(to->isVisible());
            QCOMPARE(to->activeAction(), to->actions().constFirst()); // "back"
            QTest::keyClick(to, Qt::Key_Return);
            QTRY_COMPARE(shell.visiblePages(), QList<Page>{Page::Form1});
        } else {
            QTest::keyClick(file, Qt::Key_Escape);
            QTRY_VERIFY(!file->isVisible());
        }
    }
}

void Menus::menuItemsReadRightToLeft_data()
{
    QTest::addColumn<QString>("style");
    for (const char *style : {"Fusion", "Windows"}) // Windows lays captions out from the left
        QTest::newRow(style) << QString::fromLatin1(style);
}

// A drop-down menu on an Arabic page is drawn as right-to-left desktops draw it: each item's
// caption against the right edge, its shortcut at the left, the window itself not mirrored.
void Menus::menuItemsReadRightToLeft()
{
    QFETCH(QString, style);
    const QString appStyle = QApplication::style()->name();
    QApplication::setStyle(style);
    const auto restore = qScopeGuard([&] { QApplication::setStyle(appStyle); });
    PageSetDriver shell;
    shell.show(Page::Form9);
    PageWindow *window = shell.window(Page::Form9);
    QVERIFY(QTest::qWaitForWindowActive(window));
    const QRect before = window->geometry();
    const QRect playerBefore = window->player()->geometry();
    QMenu *to = window->menuBar()->findChild<QMenu *>(QStringLiteral("to"));
    QTest::keyClick(window, Qt::Key_F10);
    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Left);
    QTRY_VERIFY(to->isVisible());
    const QImage picture = to->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb ground = picture.pixel(picture.width() / 2, to->actionGeometry(to->actions()[1]).top() + 1);
    // The columns holding ink in one item's row, as the fraction of the menu's width.
    const auto inkColumns = [&](QAction *item) {
        const QRect r = to->actionGeometry(item);
        int leftmost = r.right(), rightmost = r.left();
        for (int y = r.top() + 2; y < r.bottom() - 1; ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                if (qAbs(qGray(picture.pixel(x, y)) - qGray(ground)) > 80) {
                    leftmost = qMin(leftmost, x);
                    rightmost = qMax(rightmost, x);
                }
        return std::pair(leftmost, rightmost);
    };
    const int width = to->width();
    // Every item's caption ends near the right edge, whatever its length.
    QList<int> rightEdges;
    for (QAction *item : to->actions().mid(1)) {
        const auto [left, right] = inkColumns(item);
        QVERIFY2(right > width * 3 / 4, qPrintable(item->text()));
        rightEdges << right;
    }
    const auto [minEdge, maxEdge] = std::minmax_element(rightEdges.begin(), rightEdges.end());
    QVERIFY2(*maxEdge - *minEdge <= 3, qPrintable(QString("%1..%2").arg(*minEdge).arg(*maxEdge)));
    // "back" has its shortcut at the far left.
    QCOMPARE(to->actions()[0]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Z));
    const auto [backLeft, backRight] = inkColumns(to->actions()[0]);
    QVERIFY2(backLeft < width / 4, qPrintable(QString::number(backLeft)));
    QVERIFY(backRight > width * 3 / 4);
    QTest::keyClick(to, Qt::Key_Escape);
    QCOMPARE(window->geometry(), before);
    QCOMPARE(window->player()->geometry(), playerBefore);
}

void Menus::ctrlWEndsFromEveryPage_data()
{
    QTest::addColumn<int>("page");
    for (int n = 1; n <= kPageCount; ++n)
        QTest::newRow(qPrintable(pageName(Page(n)))) << n;
}

void Menus::ctrlWEndsFromEveryPage()
{
    QFETCH(int, page);
    PageSetDriver shell;
    shell.show(Page(page));
    PageWindow *window = shell.window(Page(page));
    QVERIFY(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, Qt::Key_W, Qt::ControlModifier);
    QCOMPARE(shell.ends, QList<int>{0});
    QVERIFY(!QApplication::activeModalWidget()); // nothing is asked
}

void Menus::ctrlZReturnsFromStationPages()
{
    PageSetDriver shell;
    for (const PageEntry &e : PageDirectory::entries()) {
        shell.show(e.page);
        PageWindow *window = shell.window(e.page);
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(shell.visiblePages(), QList<Page>{Page::Form1});
    }
    QVERIFY(shell.ends.isEmpty());
}

void Menus::ctrlZOnTheMainPageDoesNothing()
{
    PageSetDriver shell;
    PageWindow *main = shell.window(Page::Form1);
    QVERIFY(QTest::qWaitForWindowActive(main));
    QStringList clicks;
    shell.pages.dispatcher().setClickHook([&](const QString &c) { clicks << c; });
    QTest::keyClick(main, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(shell.visiblePages(), QList<Page>{Page::Form1});
    QCOMPARE(shell.createdPages(), QList<Page>{Page::Form1});
    QVERIFY(clicks.isEmpty());
    // The same window does answer its own shortcut.
    QTest::keyClick(main, Qt::Key_W, Qt::ControlModifier);
    QCOMPARE(clicks, QStringList{QStringLiteral("Form1.exit")});
}

// The program's texts are Arabic code page text: every window title, menu and item caption and
// button caption must survive Windows-1256 with one byte per character.
void Menus::everyTextIsOneByteACharacterInWindows1256()
{
    PageSetDriver shell;
    QStringList texts;
    for (int n = 1; n <= kPageCount; ++n) {
        shell.show(Page(n));
        PageWindow *window = shell.window(Page(n));
        if (n > 1)
            texts << window->windowTitle();
        for (QMenu *menu : menusOf(window)) {
            texts << menu->title();
            for (QAction *a : menu->actions())
                texts << a->text();
        }
        for (StationButton *b : window->buttons())
            texts << b->text();
    }
    QCOMPARE(texts.size(), 17 + (1 + 1) + 17 * (1 + 1 + 1 + 17) + 17 + 158);
    for (const QString &text : std::as_const(texts)) {
        QStringEncoder encoder("windows-1256");
        const QByteArray bytes = encoder(text);
        QVERIFY2(!encoder.hasError(), qPrintable(text));
        QCOMPARE(bytes.size(), text.size());
        QCOMPARE(QStringDecoder("windows-1256")(bytes).operator QString(), text);
    }
}

QTEST_MAIN(Menus)
#include "tst_menus.moc"
