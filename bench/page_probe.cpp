// Opening a station page for the first time (its window, and its player with the libVLC
// instance, the first one of the run) and showing it again, each from the click on the main
// page to the page's first paint; beside them the same for a plain Qt window with as many
// buttons, a picture and a menu bar. Prints "name milliseconds" lines.

#include "app/page_instance.h"
#include "app/page_set.h"
#include "bench_support.h"
#include "catalogue/station.h"
#include "player/widget/player_control.h"
#include "ui/page_window.h"
#include "ui/station_button.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>

using namespace lumora;
using namespace lumora::bench;

namespace {

// Milliseconds from calling act() to the window's next paint.
double timeToPaint(QWidget *window, const std::function<void()> &act)
{
    double at = -1;
    QElapsedTimer clock;
    FirstPaint watch(window, [&] { at = double(clock.nsecsElapsed()) / 1e6; });
    clock.start();
    act();
    waitFor([&] { return at >= 0; }, 10000);
    return at;
}

// A plain window of a station page's size and content, built with nothing but Qt.
std::unique_ptr<QMainWindow> plainWindow(int buttons)
{
    auto w = std::make_unique<QMainWindow>();
    w->setWindowTitle(QStringLiteral("plain"));
    w->menuBar()->addMenu(QStringLiteral("File"))->addAction(QStringLiteral("Exit"));
    w->menuBar()->addMenu(QStringLiteral("Go"))->addAction(QStringLiteral("Back"));
    auto *area = new QWidget;
    auto *picture = new QLabel(area);
    QPixmap banner(QStringLiteral(":/lumora/banners/Form2.jpg"));
    picture->setPixmap(banner);
    picture->setGeometry(8, 8, 509, 60);
    for (int i = 0; i < buttons; ++i)
        (new QPushButton(QStringLiteral("Station %1").arg(i + 1), area))
            ->setGeometry(8 + (i % 3) * 170, 76 + (i / 3) * 34, 164, 30);
    w->setCentralWidget(area);
    w->resize(525, 452 + 22);
    return w;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);

    PageSet pages;
    double playerMs = 0;
    pages.setPlayerFactory([&](QWidget *area) -> PlayerControl * {
        QElapsedTimer clock;
        clock.start();
        auto *p = new PlayerControl(area);
        playerMs += double(clock.nsecsElapsed()) / 1e6;
        return p;
    });
    pages.start();
    PageWindow *main = pages.slot(Page::Form1)->window();
    bool ready = false;
    FirstPaint mainPainted(main, [&] { ready = true; });
    waitFor([&] { return ready; }, 10000);
    idle(200);

    // The plain window, first shown and shown again.
    auto plain = plainWindow(int(stationsOf(Page::Form2).size()));
    const double plainFirst = timeToPaint(plain.get(), [&] { plain->show(); });
    plain->hide();
    idle(100);
    const double plainAgain = timeToPaint(plain.get(), [&] { plain->show(); });
    plain->hide();
    idle(100);

    // Form2 from the main page's Command2, then back, then Command2 again.
    StationButton *command2 = main->button(2);
    double pageFirst = -1;
    {
        // The page's window exists only once the click has built it: watched from then on,
        // before the event loop can paint it.
        std::unique_ptr<FirstPaint> watch;
        QElapsedTimer clock;
        clock.start();
        command2->click();
        watch = std::make_unique<FirstPaint>(pages.slot(Page::Form2)->window(),
                                             [&] { pageFirst = double(clock.nsecsElapsed()) / 1e6; });
        waitFor([&] { return pageFirst >= 0; }, 10000);
    }
    PageWindow *page = pages.slot(Page::Form2)->window();
    timeToPaint(main, [&] { pages.showPage(Page::Form1, Page::Form2); });
    idle(100);
    const double pageAgain = timeToPaint(page, [&] { command2->click(); });

    report("plain_first", plainFirst);
    report("plain_again", plainAgain);
    report("page_first", pageFirst);
    report("page_player", playerMs);
    report("page_again", pageAgain);
    return 0;
}
