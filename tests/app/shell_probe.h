#pragma once

// What the shell tests look at: which pages exist, which are visible, and how the program
// was asked to end.

#include "main_page.h"
#include "page_instance.h"
#include "page_set.h"
#include "page_window.h"
#include "station_button.h"

#include <QAction>
#include <QApplication>
#include <QList>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <memory>

namespace probe {

using namespace lumora;

// Stands in for the end of the program: records each request.
struct ProgramEndRecorder {
    QList<int> codes;
    EndProgram endProgram()
    {
        return [this](int code) { codes.append(code); };
    }
};

// A page set whose ending is recorded, started as the program starts.
struct Shell {
    ProgramEndRecorder ends;
    PageSet pages{ends.endProgram()};

    Shell() { pages.start(); }
};

inline QList<Page> createdPages(const PageSet &pages)
{
    QList<Page> result;
    for (int n = 1; n <= kPageCount; ++n)
        if (pages.slot(Page(n)))
            result << Page(n);
    return result;
}

inline QList<Page> visiblePages(const PageSet &pages)
{
    QList<Page> result;
    for (Page p : createdPages(pages))
        if (pages.slot(p)->isVisible())
            result << p;
    return result;
}

inline PageWindow *windowOf(const PageSet &pages, Page page)
{
    PageInstance *instance = pages.slot(page);
    return instance ? instance->window() : nullptr;
}

inline QAction *menuItem(PageWindow *window, const QString &menu, const QString &item)
{
    QMenu *m = window->menuBar()->findChild<QMenu *>(menu);
    if (!m)
        return nullptr;
    for (QAction *a : m->actions())
        if (a->objectName() == item)
            return a;
    return nullptr;
}

inline void click(PageWindow *window, int button)
{
    QTest::mouseClick(window->button(button), Qt::LeftButton);
}

} // namespace probe
