#pragma once

// A seeded random walk through the program as a user takes it: going to pages (main-page
// buttons, "back", the "to" menu), clicking stations, and closing the page in front from its
// frame and opening it again. After every step it checks what must always hold.

#include "robustness.h"

#include <QRandomGenerator>

namespace lumora::test {

class RandomWalk {
public:
    struct Counts {
        int navigations = 0, clicks = 0, closes = 0;
    };
    // Extra checks after a station click, by the engine's kind; return a failure or "".
    using ClickCheck = std::function<QString(PlayerControl *player, const Station &station, const QString &address)>;

    RandomWalk(PageSetDriver &shell, EndpointTable table, quint32 seed, ClickCheck check = {})
        : m_shell(shell), m_table(std::move(table)), m_random(seed), m_check(std::move(check))
    {
    }

    // One step; a description of what broke, or "" when all is well.
    QString step()
    {
        const int roll = int(m_random.bounded(100));
        if (roll < 35)
            return navigate();
        if (roll < 88)
            return click();
        return closeAndReopen();
    }

    // The user's pause between two steps, ms long (their rhythm, deliberately fixed): what
    // must always hold holds all through it. A description of what broke, or "".
    QString pause(int ms)
    {
        QString failure;
        holdsFor([&] { return (failure = invariants()).isEmpty(); }, ms);
        return failure;
    }

    const Counts &counts() const { return m_counts; }
    // The station each open page last played, for pages that played since they opened.
    const QHash<Page, const Station *> &lastPlayed() const { return m_last; }
    QString lastStep() const { return m_lastStep; }

private:
    Page randomStationPage() { return Page(pageNumber(Page::Form2) + int(m_random.bounded(kStationPageCount))); }

    QString navigate()
    {
        Page target = m_random.bounded(6) == 0 ? Page::Form1 : randomStationPage();
        if (target == m_shell.visible())
            target = target == Page::Form1 ? Page::Form2 : Page::Form1;
        m_lastStep = QStringLiteral("go to ") + pageName(target);
        m_shell.goTo(target);
        ++m_counts.navigations;
        return invariants();
    }

    QString click()
    {
        if (m_shell.visible() == Page::Form1) {
            const Page page = randomStationPage();
            m_lastStep = QStringLiteral("go to ") + pageName(page);
            m_shell.goTo(page);
            ++m_counts.navigations;
        }
        const Page page = m_shell.visible();
        const std::span<const Station> stations = stationsOf(page);
        const Station &s = stations[m_random.bounded(int(stations.size()))];
        m_lastStep = QStringLiteral("click ") + pageName(page) + u'.' + s.buttonName();
        // Every other page's player must stay as it is.
        QHash<Page, QPair<PlayerControl *, QString>> others;
        for (int n = pageNumber(Page::Form2); n <= pageNumber(Page::Form18); ++n)
            if (Page(n) != page && m_shell.player(Page(n)))
                others.insert(Page(n), {m_shell.player(Page(n)), m_shell.player(Page(n))->URL()});
        m_shell.click(s);
        ++m_counts.clicks;
        m_last.insert(page, &s);

        PlayerControl *player = m_shell.player(page);
        const QString address = addressOf(s, m_table).text;
        if (player->URL() != address)
            return QStringLiteral("%1: the player holds %2").arg(m_lastStep, player->URL());
        if (player->status().state != PlaybackState::Opening)
            return QStringLiteral("%1: the player is %2, not opening")
                .arg(m_lastStep, playbackStateName(player->status().state));
        for (auto it = others.cbegin(); it != others.cend(); ++it)
            if (m_shell.player(it.key()) != it.value().first || it.value().first->URL() != it.value().second)
                return QStringLiteral("%1: the player of %2 changed").arg(m_lastStep, pageName(it.key()));
        if (m_check)
            if (const QString failure = m_check(player, s, address); !failure.isEmpty())
                return m_lastStep + QStringLiteral(": ") + failure;
        return invariants();
    }

    QString closeAndReopen()
    {
        const Page page = m_shell.visible();
        if (page == Page::Form1)
            return navigate(); // the main page closed is the program's end: not in this walk
        m_lastStep = QStringLiteral("close and reopen ") + pageName(page);
        QPointer<PlayerControl> old = m_shell.player(page);
        const int ends = int(m_shell.ends.size());
        m_shell.closeFront();
        // No page is left visible: the program asks to end (recorded here, not done).
        if (m_shell.ends.size() != ends + 1 || m_shell.ends.last() != 0)
            return m_lastStep + QStringLiteral(": closing the last visible page did not end the program");
        if (m_shell.pages.slot(page)->isOpen())
            return m_lastStep + QStringLiteral(": the page is still open");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (old)
            return m_lastStep + QStringLiteral(": the closed page's player still exists");
        m_last.remove(page);
        m_shell.pages.showPage(page, Page::Form1);
        ++m_counts.closes;
        PlayerControl *fresh = m_shell.player(page);
        if (!fresh || fresh->status().state != PlaybackState::Idle || !fresh->URL().isEmpty())
            return m_lastStep + QStringLiteral(": the reopened page has no new idle player");
        return invariants();
    }

    QString invariants()
    {
        int visible = 0;
        for (int n = 1; n <= kPageCount; ++n)
            if (PageInstance *p = m_shell.pages.slot(Page(n)); p && p->isVisible())
                ++visible;
        if (visible != 1)
            return QStringLiteral("%1: %2 pages visible").arg(m_lastStep).arg(visible);
        if (QApplication::activeModalWidget())
            return m_lastStep + QStringLiteral(": a dialog is up");
        if (m_shell.pages.dispatcher().stopped())
            return m_lastStep + QStringLiteral(": a click raised a run-time error");
        // Only the closes asked the program to end.
        if (m_shell.ends.size() != m_counts.closes)
            return m_lastStep + QStringLiteral(": the program was asked to end");
        return {};
    }

    PageSetDriver &m_shell;
    EndpointTable m_table;
    QRandomGenerator m_random;
    ClickCheck m_check;
    Counts m_counts;
    QHash<Page, const Station *> m_last;
    QString m_lastStep;
};

} // namespace lumora::test
