// Start-up, the page set and the navigation step as the user drives them with clicks.

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

#include "catalogue/page_directory.h"
#include "catalogue/station.h"

#include <QAccessible>
#include <QRandomGenerator>
#include <algorithm>

using namespace lumora;
using namespace lumora::test;

namespace {

// Main-page buttons and the pages they open.
constexpr Page kCategoryTargets[] = {
    Page::Form3,  Page::Form2,  Page::Form5,  Page::Form4,  Page::Form7,  Page::Form6,
    Page::Form9,  Page::Form8,  Page::Form11, Page::Form10, Page::Form13, Page::Form12,
    Page::Form15, Page::Form14, Page::Form17, Page::Form16, Page::Form18,
};

} // namespace

class Navigation : public QObject {
    Q_OBJECT

private slots:
    void startCreatesOnlyTheMainPage();
    void categoryButtonOpensItsPage_data();
    void categoryButtonOpensItsPage();
    void targetIsShownBeforeSourceIsHidden();
    void returningFindsTheSameInstance();
    void oneVisiblePageAfterEveryStep();
    void stationButtonsRunTheirOwnHandlers();
    void keyboardAloneFromTheMainPageToAStation();
};

void Navigation::startCreatesOnlyTheMainPage()
{
    PageSetDriver shell;
    QCOMPARE(shell.createdPages(), QList<Page>{Page::Form1});
    QCOMPARE(shell.visiblePages(), QList<Page>{Page::Form1});
    PageWindow *main = shell.window(Page::Form1);
    QVERIFY(main);
    QVERIFY(QTest::qWaitForWindowActive(main));
    QCOMPARE(main->windowTitle(), QStringLiteral("Lumora"));
    QVERIFY(dynamic_cast<MainPage *>(shell.pages.slot(Page::Form1)));
    QVERIFY(shell.ends.isEmpty());
}

void Navigation::categoryButtonOpensItsPage_data()
{
    QTest::addColumn<int>("button");
    for (int n = 1; n <= 17; ++n)
        QTest::newRow(qPrintable(QStringLiteral("Command%1").arg(n))) << n;
}

void Navigation::categoryButtonOpensItsPage()
{
    QFETCH(int, button);
    const Page target = kCategoryTargets[button - 1];
    PageSetDriver shell;
    PageWindow *main = shell.window(Page::Form1);
    QCOMPARE(MainPage::targetOf(button), target);
    QCOMPARE(main->button(button)->text(), PageDirectory::byPage(target)->title());

    PageSetDriver::click(main, button);
    QCOMPARE(shell.createdPages(), (QList<Page>{Page::Form1, target}));
    QCOMPARE(shell.visiblePages(), QList<Page>{target});
    PageWindow *window = shell.window(target);
    QVERIFY(QTest::qWaitForWindowActive(window));
    QCOMPARE(QApplication::activeWindow(), window);
    QCOMPARE(window->windowTitle(), main->button(button)->text());
    QCOMPARE(window->buttons().size(), int(stationsOf(target).size()));
    // The main page is hidden, not closed.
    QVERIFY(shell.pages.slot(Page::Form1)->isOpen());
    QCOMPARE(shell.window(Page::Form1), main);
}

void Navigation::targetIsShownBeforeSourceIsHidden()
{
    PageSetDriver shell;
    QList<NavigationStep> steps;
    bool targetWasNewAndClosed = false;
    QList<Page> visibleBeforeHide;
    shell.pages.setStepHook([&](NavigationStep step, Page page) {
        steps << step;
        if (step == NavigationStep::ShowTarget)
            targetWasNewAndClosed = shell.pages.slot(page) && !shell.pages.slot(page)->isOpen();
        if (step == NavigationStep::HideSource)
            visibleBeforeHide = shell.visiblePages();
    });
    PageSetDriver::click(shell.window(Page::Form1), 2);
    QCOMPARE(steps, (QList<NavigationStep>{NavigationStep::GetTarget, NavigationStep::ShowTarget,
                                           NavigationStep::GetSource, NavigationStep::HideSource}));
    QVERIFY(targetWasNewAndClosed); // created by getPage, opened by showing
    QCOMPARE(visibleBeforeHide, (QList<Page>{Page::Form1, Page::Form2}));
    QCOMPARE(shell.visiblePages(), QList<Page>{Page::Form2});
}

void Navigation::returningFindsTheSameInstance()
{
    PageSetDriver shell;
    PageInstance *main = shell.pages.slot(Page::Form1);
    PageWindow *mainWindow = main->window();
    PageSetDriver::click(mainWindow, 2);
    PageInstance *egypt = shell.pages.slot(Page::Form2);
    PageWindow *egyptWindow = egypt->window();
    QWidget *player = egyptWindow->player();
    QVERIFY(player);

    PageSetDriver::menuItem(egyptWindow, "to", "back")->trigger();
    QCOMPARE(shell.visiblePages(), QList<Page>{Page::Form1});
    QCOMPARE(shell.pages.slot(Page::Form1), main);
    QCOMPARE(main->window(), mainWindow);
    QVERIFY(egypt->isOpen() && !egypt->isVisible()); // hidden, keeping everything

    PageSetDriver::click(mainWindow, 2);
    QCOMPARE(shell.visiblePages(), QList<Page>{Page::Form2});
    QCOMPARE(shell.pages.slot(Page::Form2), egypt);
    QCOMPARE(egypt->window(), egyptWindow);
    QCOMPARE(egyptWindow->player(), player); // never rebuilt
    QCOMPARE(shell.createdPages(), (QList<Page>{Page::Form1, Page::Form2}));
}

void Navigation::oneVisiblePageAfterEveryStep()
{
    PageSetDriver shell;
    QRandomGenerator random(20240601);
    Page current = Page::Form1;
    QList<Page> created{Page::Form1};
    for (int stepNo = 0; stepNo < 120; ++stepNo) {
        PageWindow *window = shell.window(current);
        Page expected;
        if (current == Page::Form1) {
            const int button = 1 + int(random.bounded(17));
            expected = kCategoryTargets[button - 1];
            PageSetDriver::click(window, button);
        } else {
            QMenu *to = window->menuBar()->findChild<QMenu *>(QStringLiteral("to"));
            const QList<QAction *> items = to->actions();
            const int k = int(random.bounded(items.size()));
            if (k == 0) {
                expected = Page::Form1;
            } else {
                QList<Page> others;
                for (const PageEntry &e : PageDirectory::entries())
                    if (e.page != current)
                        others << e.page;
                expected = others[k - 1];
            }
            items[k]->trigger();
        }
        if (!created.contains(expected))
            created << expected;
        QCOMPARE(shell.visiblePages(), QList<Page>{expected});
        QVERIFY(!shell.pages.slot(current)->isVisible() || current == expected);
        current = expected;
    }
    std::sort(created.begin(), created.end());
    QCOMPARE(shell.createdPages(), created); // only pages that were reached exist
    QVERIFY(shell.ends.isEmpty());
}

void Navigation::stationButtonsRunTheirOwnHandlers()
{
    PageSetDriver shell;
    QStringList clicks;
    shell.pages.dispatcher().setClickHook([&](const QString &control) { clicks << control; });
    for (Page page : {Page::Form2, Page::Form16}) {
        const Page source = shell.visiblePages().first();
        shell.pages.showPage(page, source);
        clicks.clear();
        PageWindow *window = shell.window(page);
        QStringList expected;
        for (const Station &s : stationsOf(page)) {
            PageSetDriver::click(window, s.number);
            expected << pageName(page) + "." + s.buttonName();
        }
        QCOMPARE(clicks, expected);
        QCOMPARE(shell.visiblePages(), QList<Page>{page}); // a station click navigates nowhere
    }
}

void Navigation::keyboardAloneFromTheMainPageToAStation()
{
    PageSetDriver shell;
    QStringList clicks;
    shell.pages.dispatcher().setClickHook([&](const QString &control) { clicks << control; });
    PageWindow *main = shell.window(Page::Form1);
    QVERIFY(QTest::qWaitForWindowActive(main));
    // Screen readers name the buttons by their captions.
    QCOMPARE(QAccessible::queryAccessibleInterface(main->button(1))->text(QAccessible::Name),
             PageDirectory::byMainButton(1)->title());
    // Enter on a focused category button opens its page, as Space does.
    main->button(1)->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(main->button(1)->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(shell.visiblePages(), QList<Page>{Page::Form3});

    // On the page the player comes first, as one stop: one Tab reaches Command1.
    PageWindow *page = shell.window(Page::Form3);
    QVERIFY(QTest::qWaitForWindowActive(page));
    QTRY_VERIFY(QApplication::focusWidget() && page->player()->isAncestorOf(QApplication::focusWidget()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), page->button(1));
    QCOMPARE(QAccessible::queryAccessibleInterface(page->button(1))->text(QAccessible::Name),
             findStation(Page::Form3, 1)->caption());
    QTest::keyClick(page->button(1), Qt::Key_Enter);
    QTest::keyClick(page->button(1), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), page->button(2));
    QTest::keyClick(page->button(2), Qt::Key_Space);
    QCOMPARE(clicks, (QStringList{"Form1.Command1", "Form3.Command1", "Form3.Command2"}));
    // Shift+Tab from Command1 goes back into the player in one press.
    page->button(1)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(page->button(1), Qt::Key_Backtab);
    QVERIFY(page->player()->isAncestorOf(QApplication::focusWidget()));
}

QTEST_MAIN(Navigation)
#include "tst_navigation.moc"
