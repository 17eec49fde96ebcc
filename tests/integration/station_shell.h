#pragma once

// The program's page set with a configuration of the test's own, and the ways a user moves
// through it: main-page buttons, the "to" and "back" menu items, station buttons.

#include "address.h"
#include "main_page.h"
#include "page_directory.h"
#include "page_instance.h"
#include "page_set.h"
#include "page_window.h"
#include "player_control.h"
#include "station_button.h"
#include "station.h"
#include "station_page.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>

namespace lumora::test {

// Points the config locations of this process at a folder of the test's own; with content,
// writes lumora/endpoints.conf there.
class ConfigHome {
public:
    ConfigHome() : m_oldHome(qgetenv("XDG_CONFIG_HOME")), m_oldDirs(qgetenv("XDG_CONFIG_DIRS"))
    {
        qputenv("XDG_CONFIG_HOME", m_dir.filePath("home").toUtf8());
        qputenv("XDG_CONFIG_DIRS", m_dir.filePath("sys").toUtf8());
    }
    ~ConfigHome()
    {
        restore("XDG_CONFIG_HOME", m_oldHome);
        restore("XDG_CONFIG_DIRS", m_oldDirs);
    }
    void write(const QByteArray &content) const
    {
        QDir().mkpath(m_dir.filePath("home/lumora"));
        QFile f(m_dir.filePath("home/lumora/endpoints.conf"));
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            qFatal("cannot write the test configuration");
    }

private:
    static void restore(const char *name, const QByteArray &value)
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }

    QByteArray m_oldHome, m_oldDirs;
    QTemporaryDir m_dir;
};

// A started page set whose end of program is recorded instead of carried out.
struct StationShell {
    QList<int> ends;
    PageSet pages{[this](int code) { ends.append(code); }};

    explicit StationShell(PageSet::PlayerFactory factory = {})
    {
        if (factory)
            pages.setPlayerFactory(std::move(factory));
        pages.start();
    }

    Page visible() const
    {
        for (int n = 1; n <= kPageCount; ++n)
            if (PageInstance *p = pages.slot(Page(n)); p && p->isVisible())
                return Page(n);
        return Page::Form1;
    }
    PageWindow *window(Page page) const
    {
        PageInstance *p = pages.slot(page);
        return p ? p->window() : nullptr;
    }
    StationPage *stationPage(Page page) const { return dynamic_cast<StationPage *>(pages.slot(page)); }
    PlayerControl *player(Page page) const
    {
        StationPage *p = stationPage(page);
        return p ? p->player() : nullptr;
    }

    static QAction *menuItem(PageWindow *window, const QString &name)
    {
        for (QAction *a : window->menuBar()->findChildren<QAction *>())
            if (a->objectName() == name)
                return a;
        return nullptr;
    }

    // Goes to a page as the user does: a category button from the main page, "back", or the
    // page's item in the "to" menu.
    void goTo(Page target)
    {
        const Page from = visible();
        if (from == target)
            return;
        PageWindow *w = window(from);
        if (from == Page::Form1) {
            QTest::mouseClick(w->button(PageDirectory::byPage(target)->mainButton), Qt::LeftButton);
        } else if (target == Page::Form1) {
            menuItem(w, QStringLiteral("back"))->trigger();
        } else {
            const QString title = PageDirectory::byPage(target)->title();
            for (QAction *a : w->menuBar()->findChild<QMenu *>(QStringLiteral("to"))->actions())
                if (a->text() == title)
                    a->trigger();
        }
        if (visible() != target)
            qFatal("navigation to %s failed", qPrintable(pageName(target)));
    }

    // Clicks a station's button on its page, going there first.
    void click(const Station &station)
    {
        goTo(station.page);
        QTest::mouseClick(window(station.page)->button(station.number), Qt::LeftButton);
    }
};

inline const Station &station(Page page, int number)
{
    const Station *s = findStation(page, number);
    if (!s)
        qFatal("no such station");
    return *s;
}

} // namespace lumora::test
