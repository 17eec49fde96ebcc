#include "station_page.h"

#include "layout.h"
#include "page_menus.h"
#include "page_set.h"
#include "page_window.h"
#include "station.h"
#include "station_button.h"

#include <QLoggingCategory>
#include <QPalette>
#include <QWidget>
#include <stdexcept>

Q_LOGGING_CATEGORY(lcStation, "lumora.station", QtInfoMsg)

namespace lumora {

StationPage::StationPage(Page id, PageSet &pages) : PageInstance(id, pages) {}

QWidget *StationPage::createPlayer(QWidget *clientArea)
{
    // Until the player component arrives, a host that holds the player's place: its
    // rectangle, its focus and a dark face.
    auto *host = new QWidget(clientArea);
    host->setFocusPolicy(Qt::StrongFocus);
    host->setAutoFillBackground(true);
    QPalette palette = host->palette();
    palette.setColor(QPalette::Window, Qt::black);
    host->setPalette(palette);
    return host;
}

void StationPage::stationClicked(const Station &station)
{
    // Playing the station belongs to the player component; until it is here the click is
    // dispatched and logged only.
    qCDebug(lcStation) << pageName(id()) << station.buttonName() << station.caption();
}

std::unique_ptr<PageWindow> StationPage::build()
{
    auto window = std::make_unique<PageWindow>(pageLayout(id()), &StationPage::createPlayer);
    buildMenuBar(window->menuBar(), id(), pages());
    for (const Station &station : stationsOf(id())) {
        StationButton *button = window->button(station.number);
        if (!button)
            throw std::logic_error("station page layout lacks a station's button");
        dispatcher().bind(button, controlName(station.buttonName()),
                          [this, &station] { stationClicked(station); });
    }
    return window;
}

} // namespace lumora
