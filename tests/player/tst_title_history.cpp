// The titles a player heard: kept as the stream sends them (one entry per title, however
// often the server repeats it, the last 500), and shown in a dialog the keyboard drives:
// newest first, each title in its own direction, copied one or all, exported as text.

#include "contrast.h"
#include "tests/support/recording_backend.h"
#include "tests/support/wait.h"

#include "player/widget/player_texts.h"
#include "player/widget/title_history_dialog.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace lumora;
using namespace lumora::test;

namespace {

const QString kArabic = QString::fromUtf8("أغنية الصباح — فيروز");
const QString kLatin = QStringLiteral("Morning Song - The Band (live)");
const QString kMarkup = QStringLiteral("<b>bold</b> &amp; <img src=x>");

// A recorded player on a page of its own, active, as a page shows it.
struct PlayerPage {
    QWidget window;
    RecordedPlayer recorded{PlayerSettings::stored(), &window};
    PlayerPage()
    {
        window.setLayoutDirection(Qt::RightToLeft);
        (new QVBoxLayout(&window))->addWidget(recorded.player);
        window.show();
        QApplication::setActiveWindow(&window);
    }
    PlayerControl *player() const { return recorded.player; }
    void hear(const QString &title) { recorded.backend->publish(PlaybackState::Playing, 0, title); }
};

TitleHistoryDialog *openDialog(PlayerPage &page)
{
    page.player()->findChild<QWidget *>("playPauseButton")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_H, Qt::ControlModifier);
    auto *dialog = page.player()->findChild<TitleHistoryDialog *>();
    if (dialog)
        QApplication::setActiveWindow(dialog);
    return dialog;
}

// The columns of ink (anything far from the background) in a cell of a grabbed list.
std::pair<int, int> inkSpan(const QImage &image, const QRect &cell)
{
    const QRgb background = measureContrast(image, cell).background;
    int left = cell.right(), right = cell.left();
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x)
            if (contrastRatio(image.pixel(x, y), background) > 2.0) {
                left = qMin(left, x);
                right = qMax(right, x);
            }
    return {left, right};
}

} // namespace

class TestTitleHistory : public QObject {
    Q_OBJECT

private slots:
    void eachTitleOnceAndTheLastFiveHundred()
    {
        TitleHistory history;
        const QDateTime t0 = QDateTime::currentDateTimeUtc();
        QVERIFY(history.add(kArabic, t0, "a"));
        QVERIFY(!history.add(kArabic, t0.addSecs(5), "a")); // the server repeats itself
        QVERIFY(!history.add(QString(), t0.addSecs(6), "a"));
        QVERIFY(history.add(kLatin, t0.addSecs(10), "a"));
        QVERIFY(history.add(kArabic, t0.addSecs(20), "a")); // heard again after another
        QCOMPARE(history.size(), 3);
        for (int i = 0; i < 600; ++i)
            history.add(QString::number(i), t0.addSecs(30 + i), "b");
        QCOMPARE(history.size(), TitleHistory::kCapacity);
        QCOMPARE(history.newestFirst().first().title, QStringLiteral("599"));
        QCOMPARE(history.entries().first().title, QStringLiteral("100"));
    }

    void theModelRecordsWhatThePlayerHears()
    {
        PlayerPage page;
        StationPlayer &model = page.player()->model();
        page.player()->setStationCaption(QStringLiteral("Station One"));
        page.player()->setURL("http://h/live");
        QSignalSpy titles(&model, &StationPlayer::titleChanged);
        page.hear(kArabic);
        page.recorded.backend->publish(PlaybackState::Reconnecting);
        page.hear(kArabic);
        page.hear(kLatin);
        QCOMPARE(titles.size(), 4); // the title went and came back: said, yet one entry
        QCOMPARE(model.history().size(), 2);
        QCOMPARE(model.history().newestFirst().first().title, kLatin);
        QCOMPARE(model.history().newestFirst().first().station, QStringLiteral("Station One"));
    }

    void dialogDrivenByKeyboard()
    {
        QTemporaryDir dir;
        PlayerPage page;
        page.player()->setURL("http://h/live");
        page.hear(kArabic);
        page.hear(kLatin);
        TitleHistoryDialog *dialog = openDialog(page);
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->isVisible());
        page.hear(kMarkup); // comes in while the dialog is open
        auto *list = dialog->findChild<QTreeWidget *>("historyList");
        QTRY_COMPARE(QApplication::focusWidget(), list);
        QCOMPARE(list->topLevelItemCount(), 3);
        QCOMPARE(list->topLevelItem(0)->text(1), kMarkup); // newest first, as plain text
        QCOMPARE(list->topLevelItem(1)->text(1), kLatin);
        QCOMPARE(list->topLevelItem(2)->text(1), kArabic);
        QCOMPARE(dialog->layoutDirection(), Qt::RightToLeft);

        // The selection stayed on the newest title when it was opened, now second; copied.
        QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), kLatin);
        // Down to the Arabic title and copy it.
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), kArabic);

        // Tab to "copy all" and press Space: every line, newest first.
        QTest::keyClick(list, Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("copyAll"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        const QStringList lines = QApplication::clipboard()->text().split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(0).contains(kMarkup) && lines.at(2).contains(kArabic));

        // Tab to "export", Enter, and a file named in the file dialog.
        const QString path = dir.filePath(QString::fromUtf8("عناوين.txt"));
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto *files = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!files)
                return;
            answer.stop();
            auto *name = files->findChild<QLineEdit *>("fileNameEdit");
            name->setText(path);
            QTest::keyClick(name, Qt::Key_Return);
        });
        answer.start(20);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("exportTitles"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QFile exported(path);
        QVERIFY(exported.open(QIODevice::ReadOnly));
        const QByteArray bytes = exported.readAll();
        QCOMPARE(bytes, dialog->text().toUtf8());
        QVERIFY(bytes.contains(kArabic.toUtf8()) && bytes.contains(kMarkup.toUtf8()));

        // Escape closes it; the player keeps its history.
        QApplication::setActiveWindow(dialog);
        QTest::keyClick(dialog, Qt::Key_Escape);
        QTRY_VERIFY(!page.player()->findChild<TitleHistoryDialog *>());
        QCOMPARE(page.player()->model().history().size(), 3);
    }

    // Looked at: Arabic starts at the right of its cell, Latin at the left, readable.
    void eachTitleReadsInItsOwnDirection()
    {
        PlayerPage page;
        page.player()->setStationCaption(QString::fromUtf8("إذاعة القاهرة"));
        page.player()->setURL("http://h/live");
        page.hear(kArabic);
        page.hear(QStringLiteral("Hi"));
        TitleHistoryDialog *dialog = openDialog(page);
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->isVisible());
        auto *list = dialog->findChild<QTreeWidget *>("historyList");
        list->clearSelection();
        list->setCurrentItem(nullptr);
        const QImage shot = list->viewport()->grab().toImage();
        const QString png = QDir::temp().filePath("lumora-title-history.png");
        dialog->grab().save(png);
        qInfo("the dialog: %s", qPrintable(png));
        for (int row = 0; row < 2; ++row) {
            const QRect cell = list->visualRect(list->model()->index(row, 1)).adjusted(1, 1, -1, -1);
            const auto [left, right] = inkSpan(shot, cell);
            QVERIFY2(left < right, "nothing drawn");
            const int leftGap = left - cell.left(), rightGap = cell.right() - right;
            if (row == 0) // "Hi", newest: from the left
                QVERIFY2(leftGap < rightGap, qPrintable(QStringLiteral("%1 %2").arg(leftGap).arg(rightGap)));
            else
                QVERIFY2(rightGap < leftGap, qPrintable(QStringLiteral("%1 %2").arg(leftGap).arg(rightGap)));
            QVERIFY(measureContrast(shot, cell).ratio >= 4.5);
        }
        // Every control is named for screen readers.
        for (QWidget *w : dialog->findChildren<QPushButton *>())
            QVERIFY(!w->accessibleName().isEmpty());
        QCOMPARE(list->accessibleName(), playerLabel(PlayerLabel::HistoryList));
    }
};

QTEST_MAIN(TestTitleHistory)
#include "tst_title_history.moc"
