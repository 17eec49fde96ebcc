#pragma once

#include "catalogue/page.h"

#include <QPointer>
#include <memory>

namespace lumora {

class ClickDispatcher;
class PageSet;
class PageWindow;

// One page of the program, alive for the whole run in its PageSet slot. The page is open while
// it has a window: opening builds the window from the page's layout with its menus and every
// click bound; closing it from the frame destroys the window and leaves the page not open.
// Hiding keeps the window and all it holds.
class PageInstance {
public:
    PageInstance(Page id, PageSet &pages);
    virtual ~PageInstance();
    PageInstance(const PageInstance &) = delete;
    PageInstance &operator=(const PageInstance &) = delete;

    Page id() const { return m_id; }
    bool isOpen() const { return !m_window.isNull(); }
    bool isVisible() const;
    // nullptr while the page is not open.
    PageWindow *window() const;

    // Opens the window first when the page is not open (centred on the screen), then makes it
    // visible and the active window.
    void show();
    void hide();
    // Opens the window when the page is not open, without showing it.
    void openUnseen();

protected:
    // Builds the page's window with its menus and every click bound, not yet shown.
    virtual std::unique_ptr<PageWindow> build() = 0;

    PageSet &pages() const { return m_pages; }
    ClickDispatcher &dispatcher() const;
    // The name a click handler of this page is known by: "Form2.Command3".
    QString controlName(const QString &control) const;

private:
    void open();
    void closedFromFrame();

    const Page m_id;
    PageSet &m_pages;
    QPointer<PageWindow> m_window;
};

} // namespace lumora
