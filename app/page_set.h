#pragma once

#include "catalogue/configured_endpoints.h"
#include "catalogue/page.h"
#include "click_dispatcher.h"
#include "player_factory.h"
#include "program_end.h"

#include <array>
#include <functional>
#include <memory>

class QWidget;

namespace lumora {

class PageInstance;
class PlayerMemory;
struct MemoryFiles;
class ProgramExtras;

// The steps of showPage, in the order they run.
enum class NavigationStep { GetTarget, ShowTarget, GetSource, HideSource };

// The pages of the run, one slot each. A slot is filled the first time anything refers to
// its page and keeps that instance until the program ends. Every page reaches every other
// page through its page set.
class PageSet {
public:
    // Runs before each step of showPage; may raise to make that step fail. For tests.
    using StepHook = std::function<void(NavigationStep step, Page page)>;

    explicit PageSet(EndProgram endProgram = quitEventLoop());
    ~PageSet();
    PageSet(const PageSet &) = delete;
    PageSet &operator=(const PageSet &) = delete;

    // What the players remember between runs is kept in files (the program: the user's
    // folders); before start(). Without it nothing is read or written.
    void rememberIn(const MemoryFiles &files);
    PlayerMemory *memory() const { return m_memory.get(); }

    // Start-up: fills the Form1 slot and shows the main page. When the listener asked for
    // it, the pages that were playing at the last end are opened behind it, unseen, and play
    // their last station again.
    void start();

    // The page's instance, created (not opened) when its slot is empty.
    PageInstance &getPage(Page page);
    // The slot's content without creating anything: nullptr while the slot is empty.
    PageInstance *slot(Page page) const;

    // Navigation: shows the target (opening it first if needed), then hides the source.
    void showPage(Page target, Page source);

    // Ends the program at once.
    void endProgram();

    ClickDispatcher &dispatcher() { return m_dispatcher; }
    void setStepHook(StepHook hook) { m_stepHook = std::move(hook); }

    // The endpoint configuration of the run, read at the first station click.
    ConfiguredEndpoints &endpoints() { return m_endpoints; }

    // What makes the station pages' players (see PlayerFactory); set before a page is built.
    const PlayerFactory &players() const { return m_players; }
    void setPlayerFactory(PlayerFactory factory) { m_players = std::move(factory); }
    // What every page's player shares besides playing: notifications, recording, the sleep
    // timer, even loudness; made at the first use.
    ProgramExtras &extras();

private:
    friend class PageInstance;
    // A page's window was closed from its frame: when no page is visible any more, the
    // program ends, since hidden pages could not be reached again.
    void pageClosed(Page page);
    void step(NavigationStep step, Page page);

    EndProgram m_endProgram;
    ClickDispatcher m_dispatcher;
    StepHook m_stepHook;
    PlayerFactory m_players;
    ConfiguredEndpoints m_endpoints;
    std::unique_ptr<PlayerMemory> m_memory; // outlives the pages, whose players it follows
    std::unique_ptr<ProgramExtras> m_extras;
    std::array<std::unique_ptr<PageInstance>, kPageCount> m_slots;
};

} // namespace lumora
