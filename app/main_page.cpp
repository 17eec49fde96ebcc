#include "main_page.h"

#include "catalogue/page_directory.h"
#include "page_menus.h"
#include "page_set.h"
#include "ui/layout.h"
#include "ui/page_window.h"
#include "ui/station_button.h"

#include <stdexcept>
#include <string>

namespace lumora {

MainPage::MainPage(PageSet &pages) : PageInstance(Page::Form1, pages) {}

Page MainPage::targetOf(int button)
{
    const PageEntry *entry = PageDirectory::byMainButton(button);
    if (!entry)
        throw std::out_of_range("the main page has no category button " + std::to_string(button));
    return entry->page;
}

std::unique_ptr<PageWindow> MainPage::build()
{
    auto window = std::make_unique<PageWindow>(pageLayout(Page::Form1));
    buildMenuBar(window->menuBar(), Page::Form1, pages());
    for (const PageEntry &entry : PageDirectory::entries()) {
        StationButton *button = window->button(entry.mainButton);
        if (!button)
            throw std::logic_error("main page layout lacks a category button");
        dispatcher().bind(button, controlName(button->objectName()),
                          [this, target = entry.page] { pages().showPage(target, Page::Form1); });
    }
    return window;
}

} // namespace lumora
