#include "station_page.h"

#include "catalogue/page_directory.h"
#include "catalogue/station.h"
#include "page_menus.h"
#include "page_set.h"
#include "play_station.h"
#include "player/common/player_failure.h"
#include "player/mpris/mpris_presence.h"
#include "player/widget/player_control.h"
#include "player/widget/player_texts.h"
#include "player_memory.h"
#include "program_extras.h"
#include "ui/layout.h"
#include "ui/page_window.h"
#include "ui/station_button.h"

#include <QAction>
#include <QLoggingCategory>
#include <stdexcept>

Q_LOGGING_CATEGORY(lcStation, "lumora.station", QtInfoMsg)

namespace lumora {

StationPage::StationPage(Page id, PageSet &pages) : PageInstance(id, pages) {}

PlayerControl *StationPage::player() const
{
    PageWindow *w = window();
    return w ? qobject_cast<PlayerControl *>(w->player()) : nullptr;
}

void StationPage::stationClicked(const Station &station)
{
    qCDebug(lcStation) << pageName(id()) << station.buttonName() << station.caption();
    if (PlayerMemory *memory = pages().memory())
        memory->stationChosen(id(), station.number);
    // The button was clicked, so the page is open and its player exists.
    playStation(*player(), station, pages().endpoints().table());
}

void StationPage::playInBackground(int number)
{
    const Station *station = findStation(id(), number);
    if (!station)
        return;
    openUnseen();
    if (!player())
        return;
    try {
        playStation(*player(), *station, pages().endpoints().table());
    } catch (const PlayerFailure &failure) {
        qCWarning(lcStation).noquote() << pageName(id()) << station->buttonName()
                                       << "could not play again:" << failure.description();
    }
}

void StationPage::attachToMemory(PlayerControl &player)
{
    PlayerMemory *memory = pages().memory();
    if (!memory)
        return;
    memory->attach(id(), player.model());
    // One switch for the whole program, in every page's player.
    auto *resume = new QAction(playerLabel(PlayerLabel::ResumePlaying), &player);
    resume->setObjectName(QStringLiteral("resumePlayingAction"));
    resume->setCheckable(true);
    resume->setChecked(memory->resumePlaying());
    QObject::connect(resume, &QAction::toggled, memory, &PlayerMemory::setResumePlaying);
    QObject::connect(&memory->choices(), &ListenerChoices::changed, resume,
                     [resume](const QString &name, bool on) {
                         if (name == QLatin1StringView(PlayerMemory::kResumePlaying))
                             resume->setChecked(on);
                     });
    player.addMenuAction(resume);
}

std::unique_ptr<PageWindow> StationPage::build()
{
    // The window places the player at its rectangle, names it and puts it first in the
    // focus order.
    auto window = std::make_unique<PageWindow>(pageLayout(id()), [this](QWidget *clientArea) -> QWidget * {
        PlayerControl &player = pages().players().create(clientArea);
        // Known to the desktop's media keys by the page's name and title.
        new MprisPresence(&player.model(), pageName(id()), PageDirectory::byPage(id())->title());
        attachToMemory(player);
        pages().extras().attach(&player);
        return &player;
    });
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
