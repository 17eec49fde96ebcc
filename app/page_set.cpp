#include "page_set.h"

#include "main_page.h"
#include "page_instance.h"
#include "player_memory.h"
#include "program_extras.h"
#include "station_page.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcPageSet, "lumora.pageset", QtInfoMsg)

namespace lumora {

namespace {

std::size_t slotIndex(Page page)
{
    return std::size_t(pageNumber(page) - pageNumber(Page::Form1));
}

} // namespace

PageSet::PageSet(EndProgram endProgram)
    : m_endProgram(std::move(endProgram)), m_dispatcher(m_endProgram)
{
}

PageSet::~PageSet()
{
    if (m_memory)
        m_memory->programEnds();
    // The pages go, last first as before, while the memory that follows their players lives.
    for (auto it = m_slots.rbegin(); it != m_slots.rend(); ++it)
        it->reset();
}

void PageSet::rememberIn(const MemoryFiles &files)
{
    m_memory = std::make_unique<PlayerMemory>(files);
}

void PageSet::start()
{
    getPage(Page::Form1).show();
    if (!m_memory)
        return;
    for (Page page : m_memory->pagesToResume()) {
        auto &stationPage = static_cast<StationPage &>(getPage(page));
        qCDebug(lcPageSet) << pageName(page) << "plays again in the background";
        stationPage.playInBackground(m_memory->lastStation(page));
    }
}

PageInstance &PageSet::getPage(Page page)
{
    std::unique_ptr<PageInstance> &slot = m_slots[slotIndex(page)];
    if (!slot) {
        if (page == Page::Form1)
            slot = std::make_unique<MainPage>(*this);
        else
            slot = std::make_unique<StationPage>(page, *this);
        qCDebug(lcPageSet) << pageName(page) << "created";
    }
    return *slot;
}

ProgramExtras &PageSet::extras()
{
    if (!m_extras)
        m_extras = std::make_unique<ProgramExtras>();
    return *m_extras;
}

PageInstance *PageSet::slot(Page page) const
{
    return m_slots[slotIndex(page)].get();
}

void PageSet::step(NavigationStep step, Page page)
{
    if (m_stepHook)
        m_stepHook(step, page);
}

void PageSet::showPage(Page target, Page source)
{
    step(NavigationStep::GetTarget, target);
    PageInstance &to = getPage(target);
    step(NavigationStep::ShowTarget, target);
    to.show();
    step(NavigationStep::GetSource, source);
    PageInstance &from = getPage(source);
    step(NavigationStep::HideSource, source);
    from.hide();
    qCDebug(lcPageSet) << pageName(source) << "->" << pageName(target);
}

void PageSet::endProgram()
{
    qCDebug(lcPageSet) << "program ends";
    if (m_memory)
        m_memory->programEnds();
    m_endProgram(0);
}

void PageSet::pageClosed(Page page)
{
    for (const auto &p : m_slots)
        if (p && p->isVisible())
            return;
    qCDebug(lcPageSet) << pageName(page) << "was the last visible page";
    endProgram();
}

} // namespace lumora
