// Every page window against the layout rules: client size, every control's rectangle,
// captions, focus order, fonts, reading direction and icon, on all 18 pages.

#include "catalogue/page_directory.h"
#include "catalogue/station.h"
#include "ui/banner_image.h"
#include "ui/layout.h"
#include "ui/page_window.h"
#include "ui/station_button.h"

#include <QApplication>
#include <QMenuBar>
#include <QScreen>
#include <QTest>
#include <memory>

using namespace lumora;

namespace {

constexpr int px(int twips) { return twips / 15; }
QRect pxRect(int l, int t, int w, int h) { return {px(l), px(t), px(w), px(h)}; }

// The station band: banner, grids and player all span 480 .. 7455.
constexpr int kBandLeft = 480;
constexpr int kBandRight = 7455;

// What the grid rules need to know of a page; the rest follows from the rules.
enum class Order { Rows, Columns, Form9 };
struct GridFacts {
    Page page;
    int width, height;
    Order order;
};

constexpr GridFacts kGrids[] = {
    {Page::Form2, 1215, 615, Order::Rows},    {Page::Form3, 3255, 855, Order::Rows},
    {Page::Form4, 1215, 615, Order::Rows},    {Page::Form5, 2175, 615, Order::Rows},
    {Page::Form6, 6975, 735, Order::Rows},    {Page::Form7, 3375, 615, Order::Columns},
    {Page::Form8, 3375, 735, Order::Rows},    {Page::Form9, 2175, 735, Order::Form9},
    {Page::Form10, 3375, 735, Order::Rows},   {Page::Form11, 6975, 615, Order::Rows},
    {Page::Form12, 6975, 1335, Order::Rows},  {Page::Form13, 6975, 735, Order::Rows},
    {Page::Form14, 3375, 735, Order::Rows},   {Page::Form15, 3375, 735, Order::Rows},
    {Page::Form16, 1215, 375, Order::Rows},   {Page::Form17, 1575, 615, Order::Rows},
    {Page::Form18, 3375, 735, Order::Rows},
};

int horizontalGap(Page page) { return page == Page::Form3 ? 465 : 225; }
int firstRowTop(Page page) { return page == Page::Form12 ? 1560 : 1680; }
int rowPitch(Page page, int height)
{
    if (page == Page::Form12)
        return 1920;
    return height + (height == 735 ? 465 : 225);
}

// The rectangle (twips) of button `number` by the grid rules.
QRect ruleRect(const GridFacts &g, int count, int number)
{
    const int gap = horizontalGap(g.page);
    const int columns = (kBandRight - kBandLeft + gap) / (g.width + gap);
    const int k = number - 1;
    auto left = [&](int column) { return kBandLeft + column * (g.width + gap); };
    auto top = [&](int row) { return firstRowTop(g.page) + row * rowPitch(g.page, g.height); };
    switch (g.order) {
    case Order::Rows: {
        const int row = k / columns;
        const int rowsFull = count / columns;
        int column = k % columns;
        if (row == rowsFull) { // a short last row keeps the columns, centred
            const int empty = columns - count % columns;
            column += empty / 2;
        }
        return {left(column), top(row), g.width, g.height};
    }
    case Order::Columns: {
        const int rows = (count + columns - 1) / columns;
        return {left(k / rows), top(k % rows), g.width, g.height};
    }
    case Order::Form9: {
        // Groups of three numbers per column: two down the column, the third in the bottom row,
        // where the two such buttons are centred with the usual gap.
        const int group = k / 3, place = k % 3;
        if (place < 2)
            return {left(group), top(place), g.width, g.height};
        const int pair = 2 * g.width + gap;
        const int start = kBandLeft + (kBandRight - kBandLeft - pair) / 2;
        return {start + group * (g.width + gap), top(2), g.width, g.height};
    }
    }
    return {};
}

QWidget *hostPlayer(QWidget *client)
{
    auto *w = new QWidget(client);
    w->setFocusPolicy(Qt::StrongFocus);
    return w;
}

std::unique_ptr<PageWindow> openWindow(Page page)
{
    auto window = std::make_unique<PageWindow>(pageLayout(page), &hostPlayer);
    window->menuBar()->addMenu(QStringLiteral("ملف")); // a menu bar of ordinary height
    window->applyStartGeometry();
    window->show();
    return window;
}

// The focus chain of the window from its first focusable control.
QStringList focusOrder(QWidget *window)
{
    QStringList names;
    QWidget *w = window;
    for (int guard = 0; guard < 200; ++guard) {
        w = w->nextInFocusChain();
        if (w == window)
            break;
        if (w->focusPolicy() & Qt::TabFocus && w->isVisibleTo(window))
            names << w->objectName();
    }
    return names;
}

} // namespace

class PageLayouts : public QObject {
    Q_OBJECT

private slots:
    void everyLengthIsWholePixels();
    void mainPage();
    void stationPages_data();
    void stationPages();
    void stationPageFacts();
    void tabMovesInNumberOrder();
    void resizingMovesNothing();
};

void PageLayouts::everyLengthIsWholePixels()
{
    // One layout a page, in page order.
    for (std::size_t i = 0; i < allPageLayouts().size(); ++i)
        QCOMPARE(allPageLayouts()[i].page, Page(int(i) + 1));
    for (const PageLayout &p : allPageLayouts()) {
        QCOMPARE(p.clientWidth % 15, 0);
        QCOMPARE(p.clientHeight % 15, 0);
        QVERIFY(p.rightToLeft && p.startCentred);
        for (const ControlLayout &c : p.controls)
            for (int v : {c.left, c.top, c.width, c.height})
                QVERIFY2(v % 15 == 0, qPrintable(pageName(p.page) + "." + c.name));
    }
}

void PageLayouts::mainPage()
{
    auto window = openWindow(Page::Form1);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(window->windowTitle(), QStringLiteral("Lumora"));
    QCOMPARE(window->objectName(), QStringLiteral("Form1"));
    QCOMPARE(window->clientArea()->size(), QSize(px(5055), px(6735)));
    QCOMPARE(window->clientArea()->size(), QSize(337, 449));
    QVERIFY(!window->windowIcon().isNull());
    QCOMPARE(window->layoutDirection(), Qt::RightToLeft);
    QVERIFY(!window->player());
    QVERIFY(!window->banner());

    // Centred on the screen when first shown.
    const QRect screen = window->screen()->availableGeometry();
    QVERIFY(qAbs(window->geometry().center().x() - screen.center().x()) <= 1);
    QVERIFY(qAbs(window->geometry().center().y() - screen.center().y()) <= 1);

    QCOMPARE(window->buttons().size(), 17);
    for (int n = 1; n <= 17; ++n) {
        StationButton *b = window->button(n);
        QVERIFY(b);
        QCOMPARE(b->parentWidget(), window->clientArea());
        // Rows of two from 240 down by 720; odd numbers on the left, even on the right.
        const int row = (n - 1) / 2;
        QRect expected = n % 2 ? pxRect(240, 240 + 720 * row, 2055, 495)
                               : pxRect(2760, 240 + 720 * row, 2055, 495);
        if (n == 17) {
            // Alone in row 8, centred: equal margins left and right.
            const int left = (5055 - 2175) / 2;
            QCOMPARE(left, 1440);
            expected = pxRect(left, 240 + 720 * 8, 2175, 495);
        }
        QCOMPARE(b->geometry(), expected);
        QCOMPARE(b->text(), PageDirectory::byMainButton(n)->title());
        QCOMPARE(b->layoutDirection(), Qt::RightToLeft);
        QCOMPARE(b->font(), window->font());
    }
    // Margins of 240 all round.
    QCOMPARE(window->button(2)->geometry().right() + 1, px(5055 - 240));
    QCOMPARE(window->button(17)->geometry().bottom() + 1, px(6735 - 240));
    // Command2 is top right, Command1 top left: reading order does not swap them.
    QVERIFY(window->button(2)->x() > window->button(1)->x());
    QCOMPARE(window->button(1)->text(), QStringLiteral("إذاعات سودانية"));
    QCOMPARE(window->button(2)->text(), QStringLiteral("إذاعات مصرية"));

    QStringList order;
    for (int n = 1; n <= 17; ++n)
        order << QStringLiteral("Command%1").arg(n);
    QCOMPARE(focusOrder(window.get()), order);
}

void PageLayouts::stationPages_data()
{
    QTest::addColumn<int>("grid");
    for (int i = 0; i < int(std::size(kGrids)); ++i)
        QTest::newRow(qPrintable(pageName(kGrids[i].page))) << i;
}

void PageLayouts::stationPages()
{
    QFETCH(int, grid);
    const GridFacts &g = kGrids[grid];
    const auto stations = stationsOf(g.page);
    const int count = int(stations.size());
    auto window = openWindow(g.page);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    QCOMPARE(window->windowTitle(), PageDirectory::byPage(g.page)->title());
    QCOMPARE(window->objectName(), pageName(g.page));
    QCOMPARE(window->clientArea()->size(), QSize(px(7875), px(6780)));
    QVERIFY(!window->windowIcon().isNull());
    QCOMPARE(window->layoutDirection(), Qt::RightToLeft);

    // Banner and player share the band; Form16's player stands 120 lower.
    BannerImage *banner = window->banner();
    QVERIFY(banner);
    QCOMPARE(banner->objectName(), QStringLiteral("Image1"));
    QCOMPARE(banner->geometry(), pxRect(kBandLeft, 240, kBandRight - kBandLeft, 1215));
    QCOMPARE(banner->focusPolicy(), Qt::NoFocus);
    QCOMPARE(banner->picture().size(), g.page == Page::Form2 ? QSize(463, 80) : QSize(461, 81));
    QWidget *player = window->player();
    QVERIFY(player);
    QCOMPARE(player->objectName(), QStringLiteral("WindowsMediaPlayer1"));
    const int playerTop = g.page == Page::Form16 ? 5160 : 5040;
    QCOMPARE(player->geometry(), pxRect(kBandLeft, playerTop, kBandRight - kBandLeft, 1455));

    // One button per station, at the rule's rectangle, with the station's exact caption.
    QCOMPARE(window->buttons().size(), count);
    int lastRowBottom = 0;
    for (const Station &s : stations) {
        StationButton *b = window->button(s.number);
        QVERIFY2(b, qPrintable(s.buttonName()));
        QCOMPARE(b->objectName(), s.buttonName());
        const QRect twips = ruleRect(g, count, s.number);
        QCOMPARE(b->geometry(), pxRect(twips.x(), twips.y(), twips.width(), twips.height()));
        QCOMPARE(b->text(), s.caption());
        QCOMPARE(b->layoutDirection(), Qt::RightToLeft);
        QVERIFY(!b->geometry().intersects(banner->geometry()));
        QVERIFY(!b->geometry().intersects(player->geometry()));
        QVERIFY(b->x() >= px(kBandLeft) && b->geometry().right() < px(kBandRight));
        lastRowBottom = qMax(lastRowBottom, twips.y() + twips.height());
        const bool arial = g.page == Page::Form16 && s.number == 6;
        if (!arial)
            QCOMPARE(b->font(), window->font());
    }
    // Every grid fills the band exactly, and its last row ends where the page says.
    const int gap = horizontalGap(g.page);
    const int columns = (kBandRight - kBandLeft + gap) / (g.width + gap);
    QCOMPARE(columns * g.width + (columns - 1) * gap, kBandRight - kBandLeft);
    const int expectedBottom =
        g.page == Page::Form3 ? 4695 : g.page == Page::Form16 ? 5055 : 4815;
    QCOMPARE(lastRowBottom, expectedBottom);

    // Focus: player first, then the buttons by number whatever their places.
    QStringList order{QStringLiteral("WindowsMediaPlayer1")};
    for (int n = 1; n <= count; ++n)
        order << QStringLiteral("Command%1").arg(n);
    QCOMPARE(focusOrder(window.get()), order);
}

void PageLayouts::stationPageFacts()
{
    // Facts of single pages that the rules imply, stated as a reader sees them.
    auto f2 = openWindow(Page::Form2);
    QCOMPARE(f2->button(16)->x(), px(1920));
    QCOMPARE(f2->button(18)->x(), px(4800));
    auto f7 = openWindow(Page::Form7);
    QCOMPARE(f7->button(5)->y(), f7->button(1)->y()); // right of Command1, not below Command4
    QVERIFY(f7->button(5)->x() > f7->button(1)->x());
    auto f9 = openWindow(Page::Form9);
    QCOMPARE(f9->button(3)->pos(), QPoint(px(1680), px(4080)));
    auto f12 = openWindow(Page::Form12);
    QCOMPARE(f12->button(1)->y(), px(1560));
    auto f16 = openWindow(Page::Form16);
    QCOMPARE(f16->button(26)->x(), px(1920));
    const QFont arial = f16->button(6)->font();
    QCOMPARE(arial.family(), QStringLiteral("Arial"));
    QCOMPARE(arial.pointSizeF(), 9.75);
    QCOMPARE(arial.weight(), QFont::Normal);
    QVERIFY(!arial.italic() && !arial.underline() && !arial.strikeOut());
    QVERIFY(f16->button(5)->font() != arial);
    QVERIFY(f16->button(7)->font() != arial);
    // Captions keep their spaces and spellings.
    QCOMPARE(f16->button(8)->text(), QStringLiteral(" حياة أف أم "));
    QCOMPARE(f16->button(28)->text(), QStringLiteral("راديوالشمال"));
}

void PageLayouts::tabMovesInNumberOrder()
{
    auto window = openWindow(Page::Form1);
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    window->button(1)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), window->button(2));
    for (int n = 3; n <= 17; ++n)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), window->button(17));
    window.reset();

    auto station = openWindow(Page::Form7);
    QVERIFY(QTest::qWaitForWindowActive(station.get()));
    QCOMPARE(QApplication::focusWidget(), station->player()); // first in the focus order
    QTest::keyClick(station->player(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), station->button(1));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), station->button(2)); // down the column, by number
}

void PageLayouts::resizingMovesNothing()
{
    auto window = openWindow(Page::Form1);
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const QRect before = window->button(2)->geometry();
    window->showMaximized();
    window->resize(900, 700);
    QCoreApplication::processEvents();
    QCOMPARE(window->button(2)->geometry(), before);
    window->resize(200, 200);
    QCoreApplication::processEvents();
    QCOMPARE(window->button(17)->geometry(), pxRect(1440, 6000, 2175, 495));
}

QTEST_MAIN(PageLayouts)
#include "tst_page_layouts.moc"
