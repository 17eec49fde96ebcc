// The run-time error report: an error raised inside any click ends that click, is shown as
// "Run-time error 'N':" with its description, and the program ends once it is dismissed.

#include "tests/support/page_set_driver.h"

#include "app/main_page.h"
#include "app/page_instance.h"
#include "ui/page_window.h"
#include "ui/station_button.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include "player/common/player_failure.h"
#include "ui/banner_image.h"
#include "ui/picture_failure.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <new>
#include <stdexcept>

using namespace lumora;
using namespace lumora::test;

namespace {

// Dismisses the next message box and remembers what it said and what had happened by then.
class ReportReader : public QObject {
public:
    explicit ReportReader(const QList<int> &ends) : m_ends(ends)
    {
        connect(&m_poll, &QTimer::timeout, this, [this] { look(); });
        m_poll.start(10);
    }

    QString text, title;
    bool seen = false;
    bool endedBeforeDismissal = false;

private:
    void look()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        m_poll.stop();
        seen = true;
        text = box->text();
        title = box->windowTitle();
        endedBeforeDismissal = !m_ends.isEmpty();
        box->button(QMessageBox::Ok)->click();
    }

    const QList<int> &m_ends;
    QTimer m_poll;
};

// Makes one step of showPage fail the way the program's own parts fail: raise() throws one
// of their failures.
void failAt(PageSetDriver &shell, NavigationStep failing, Page page, std::function<void()> raise)
{
    shell.pages.setStepHook([=](NavigationStep step, Page p) {
        if (step == failing && p == page)
            raise();
    });
}

} // namespace

class ErrorReport : public QObject {
    Q_OBJECT

private slots:
    void failedShowIsReportedThenTheProgramEnds();
    void failedHideLeavesBothPagesShown();
    void menuItemAndShortcutFailuresAreReported();
    void unreadablePictureIsReported();
    void playerFailuresGetTheirNumbers_data();
    void playerFailuresGetTheirNumbers();
    void otherExceptionsAreReportedToo();
};

void ErrorReport::failedShowIsReportedThenTheProgramEnds()
{
    PageSetDriver shell;
    failAt(shell, NavigationStep::ShowTarget, Page::Form2,
           [] { throw PictureFailure(QStringLiteral(":/lumora/banners/Form2.jpg")); });
    ReportReader report(shell.ends);
    PageSetDriver::click(shell.window(Page::Form1), 2); // returns once the report is dismissed

    QVERIFY(report.seen);
    QCOMPARE(report.text, QStringLiteral("Run-time error '481':\n\nInvalid picture: :/lumora/banners/Form2.jpg"));
    QCOMPARE(report.title, QStringLiteral("Lumora"));
    QVERIFY(!report.endedBeforeDismissal);
    QCOMPARE(shell.ends, QList<int>{ClickDispatcher::kErrorExitCode});
    // The click ended at the failing step: the target was created, never opened; the source
    // was not hidden.
    QVERIFY(shell.pages.slot(Page::Form2));
    QVERIFY(!shell.pages.slot(Page::Form2)->isOpen());
    QCOMPARE(shell.visiblePages(), QList<Page>{Page::Form1});
    // Nothing more runs while the program ends.
    QVERIFY(shell.pages.dispatcher().stopped());
    PageSetDriver::click(shell.window(Page::Form1), 1);
    QVERIFY(!shell.pages.slot(Page::Form3));
    QCOMPARE(shell.ends.size(), 1);
}

void ErrorReport::failedHideLeavesBothPagesShown()
{
    PageSetDriver shell;
    failAt(shell, NavigationStep::HideSource, Page::Form1,
           [] { throw PlayerFailure(PlayerFailure::Kind::CannotCreate, QStringLiteral("libVLC has no plugins.")); });
    ReportReader report(shell.ends);
    PageSetDriver::click(shell.window(Page::Form1), 17);
    QCOMPARE(report.text, QStringLiteral("Run-time error '429':\n\nlibVLC has no plugins."));
    QCOMPARE(shell.visiblePages(), (QList<Page>{Page::Form1, Page::Form18}));
    QCOMPARE(shell.ends, QList<int>{ClickDispatcher::kErrorExitCode});
}

void ErrorReport::menuItemAndShortcutFailuresAreReported()
{
    {
        PageSetDriver shell;
        PageSetDriver::click(shell.window(Page::Form1), 2);
        failAt(shell, NavigationStep::ShowTarget, Page::Form3,
               [] { throw std::logic_error("layout names a station that the page does not have"); });
        ReportReader report(shell.ends);
        PageSetDriver::menuItem(shell.window(Page::Form2), "to", QStringLiteral("ن"))->trigger();
        QCOMPARE(report.text,
                 QStringLiteral(
                     "Run-time error '51':\n\nInternal error: layout names a station that the page does not have"));
        QCOMPARE(shell.visiblePages(), QList<Page>{Page::Form2});
        QCOMPARE(shell.ends, QList<int>{ClickDispatcher::kErrorExitCode});
    }
    {
        PageSetDriver shell;
        PageSetDriver::click(shell.window(Page::Form1), 2);
        PageWindow *egypt = shell.window(Page::Form2);
        QVERIFY(QTest::qWaitForWindowActive(egypt));
        failAt(shell, NavigationStep::ShowTarget, Page::Form1, [] { throw std::bad_alloc(); });
        ReportReader report(shell.ends);
        QTest::keyClick(egypt, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(report.text, QStringLiteral("Run-time error '7':\n\nOut of memory"));
        QCOMPARE(shell.ends, QList<int>{ClickDispatcher::kErrorExitCode});
    }
}

void ErrorReport::unreadablePictureIsReported()
{
    // A real failure from building a window: a picture that cannot be read.
    QList<int> ends;
    ClickDispatcher dispatcher([&ends](int code) { ends.append(code); });
    ReportReader report(ends);
    bool built = false;
    dispatcher.dispatch(QStringLiteral("Form2.Command1"), [&] {
        BannerImage banner(QStringLiteral(":/lumora/banners/missing.jpg"));
        built = true;
    });
    QVERIFY(!built);
    QVERIFY(report.text.startsWith(QStringLiteral("Run-time error '481':\n\nInvalid picture")));
    QCOMPARE(ends, QList<int>{ClickDispatcher::kErrorExitCode});
}

void ErrorReport::playerFailuresGetTheirNumbers_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("number");
    QTest::newRow("cannot create") << int(PlayerFailure::Kind::CannotCreate) << 429;
    QTest::newRow("damaged settings") << int(PlayerFailure::Kind::InvalidSettings) << 380;
}

void ErrorReport::playerFailuresGetTheirNumbers()
{
    // The player raises its own failures; the report gives each its number.
    QFETCH(int, kind);
    QFETCH(int, number);
    QList<int> ends;
    ClickDispatcher dispatcher([&ends](int code) { ends.append(code); });
    ReportReader report(ends);
    dispatcher.dispatch(QStringLiteral("Form2.Command1"), [&] {
        throw PlayerFailure(PlayerFailure::Kind(kind), QStringLiteral("what went wrong"));
    });
    QCOMPARE(report.text, QStringLiteral("Run-time error '%1':\n\nwhat went wrong").arg(number));
    QCOMPARE(ends, QList<int>{ClickDispatcher::kErrorExitCode});
}

void ErrorReport::otherExceptionsAreReportedToo()
{
    PageSetDriver shell;
    shell.pages.dispatcher().setClickHook([](const QString &control) {
        if (control == QStringLiteral("Form1.Command4"))
            throw std::runtime_error("stream table damaged");
    });
    ReportReader report(shell.ends);
    PageSetDriver::click(shell.window(Page::Form1), 4);
    QCOMPARE(report.text, QStringLiteral("Run-time error '51':\n\nInternal error: stream table damaged"));
    QVERIFY(!shell.pages.slot(Page::Form4));
    QCOMPARE(shell.ends, QList<int>{ClickDispatcher::kErrorExitCode});
}

QTEST_MAIN(ErrorReport)
#include "tst_error_report.moc"
