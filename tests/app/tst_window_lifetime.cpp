// Page windows are built on opening and destroyed on a close from the frame; page instances
// stay for the run; the program ends when no page is left visible, or at once on exit.

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

#include <QEventLoop>
#include <QPointer>
#include <QScreen>
#include <QTimer>

using namespace lumora;
using namespace lumora::test;

namespace {

void closeFromFrame(PageWindow *window)
{
    window->close(); // what the frame's close box does
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

bool isCentred(QWidget *window)
{
    const QPoint screen = window->screen()->availableGeometry().center();
    const QPoint centre = window->geometry().center();
    return qAbs(screen.x() - centre.x()) <= 1 && qAbs(screen.y() - centre.y()) <= 1;
}

} // namespace

class WindowLifetime : public QObject {
    Q_OBJECT

private slots:
    void closingTheMainPageFirstEndsTheProgram();
    void frameCloseDestroysTheWindowNotThePage();
    void reopeningBuildsAFreshCentredWindow();
    void hiddenPageReappearsWhereItWas();
    void closingAHiddenPagesFrontPageEnds();
    void exitEndsAtOnce();
    void theProgramsEndLeavesTheEventLoop();
};

void WindowLifetime::closingTheMainPageFirstEndsTheProgram()
{
    PageSetDriver shell;
    closeFromFrame(shell.window(Page::Form1));
    QCOMPARE(shell.ends, QList<int>{0});
    QVERIFY(shell.pages.slot(Page::Form1));
    QVERIFY(!shell.pages.slot(Page::Form1)->isOpen());
}

void WindowLifetime::frameCloseDestroysTheWindowNotThePage()
{
    PageSetDriver shell;
    PageSetDriver::click(shell.window(Page::Form1), 3); // Form5
    PageInstance *syria = shell.pages.slot(Page::Form5);
    QPointer<PageWindow> window = syria->window();
    QPointer<QWidget> player = window->player();
    QPointer<QWidget> button = window->button(1);

    closeFromFrame(window);
    QVERIFY(window.isNull());
    QVERIFY(player.isNull()); // the player goes with its window
    QVERIFY(button.isNull());
    QCOMPARE(shell.pages.slot(Page::Form5), syria);
    QVERIFY(!syria->isOpen());
    QVERIFY(!syria->window());
    // No page is visible now: the hidden main page cannot be reached, so the program ends.
    QCOMPARE(shell.visiblePages(), QList<Page>{});
    QCOMPARE(shell.ends, QList<int>{0});
}

void WindowLifetime::reopeningBuildsAFreshCentredWindow()
{
    PageSetDriver shell;
    PageSetDriver::click(shell.window(Page::Form1), 3);
    PageWindow *first = shell.window(Page::Form5);
    first->setProperty("first", true);
    first->move(0, 0);
    QVERIFY(!isCentred(first));
    closeFromFrame(first);

    // Showing the page again opens it again.
    shell.pages.showPage(Page::Form5, Page::Form1);
    PageWindow *second = shell.window(Page::Form5);
    QVERIFY(second);
    QVERIFY(!second->property("first").isValid());
    QVERIFY(QTest::qWaitForWindowExposed(second));
    QVERIFY(isCentred(second));
    QCOMPARE(second->clientArea()->size(), QSize(525, 452));
    QCOMPARE(second->buttons().size(), 12);
    QVERIFY(second->player());
}

void WindowLifetime::hiddenPageReappearsWhereItWas()
{
    PageSetDriver shell;
    PageWindow *main = shell.window(Page::Form1);
    QVERIFY(QTest::qWaitForWindowExposed(main));
    QVERIFY(isCentred(main));
    PageSetDriver::click(main, 2);
    PageWindow *egypt = shell.window(Page::Form2);
    QVERIFY(QTest::qWaitForWindowExposed(egypt));
    QVERIFY(isCentred(egypt));
    egypt->move(20, 30);
    const QPoint moved = egypt->pos();
    PageSetDriver::menuItem(egypt, "to", "back")->trigger();
    PageSetDriver::click(main, 2);
    QCOMPARE(shell.window(Page::Form2), egypt);
    QCOMPARE(egypt->pos(), moved);
}

void WindowLifetime::closingAHiddenPagesFrontPageEnds()
{
    // Two pages open, one hidden: closing the visible one ends the program.
    PageSetDriver shell;
    PageSetDriver::click(shell.window(Page::Form1), 2);
    closeFromFrame(shell.window(Page::Form2));
    QCOMPARE(shell.ends, QList<int>{0});
    QVERIFY(shell.pages.slot(Page::Form1)->isOpen());
}

void WindowLifetime::exitEndsAtOnce()
{
    PageSetDriver shell;
    PageSetDriver::click(shell.window(Page::Form1), 2);
    PageSetDriver::menuItem(shell.window(Page::Form2), "to", QStringLiteral("م"))->trigger(); // Form4
    PageSetDriver::menuItem(shell.window(Page::Form4), "file", "exit")->trigger();
    QCOMPARE(shell.ends, QList<int>{0});
    QVERIFY(!QApplication::activeModalWidget());
}

void WindowLifetime::theProgramsEndLeavesTheEventLoop()
{
    // With the program's own ending, exit leaves the running event loop with code 0.
    PageSet pages;
    pages.start();
    QEventLoop loop;
    QTimer::singleShot(0, [&] { PageSetDriver::menuItem(pages.slot(Page::Form1)->window(), "file", "exit")->trigger(); });
    QTimer::singleShot(5000, &loop, [&] { loop.exit(99); });
    QCOMPARE(loop.exec(), 0);
}

QTEST_MAIN(WindowLifetime)
#include "tst_window_lifetime.moc"
