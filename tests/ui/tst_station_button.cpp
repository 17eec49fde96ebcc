// StationButton: captions centred, wrapped at spaces, right to left, never cut.

#include "../player/contrast.h"
#include "catalogue/station.h"
#include "ui/layout.h"
#include "ui/page_window.h"
#include "ui/station_button.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QStyleOptionButton>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace lumora;

namespace {

QWidget *hostPlayer(QWidget *client) { return new QWidget(client); }

// Rows of the button's picture that hold caption ink (pixels much darker than the face).
QList<bool> inkRows(const QImage &image, const QRect &area)
{
    const QRgb face = image.pixel(area.left() + 1, area.top() + 1);
    QList<bool> rows;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        bool ink = false;
        for (int x = area.left(); x <= area.right() && !ink; ++x)
            ink = qGray(image.pixel(x, y)) < qGray(face) - 90;
        rows.append(ink);
    }
    return rows;
}

int bands(const QList<bool> &rows)
{
    int count = 0;
    for (int i = 0; i < rows.size(); ++i)
        if (rows[i] && (i == 0 || !rows[i - 1]))
            ++count;
    return count;
}

QRect contentArea(StationButton &b)
{
    QStyleOptionButton option;
    option.initFrom(&b);
    return b.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &b);
}

// Horizontal centre of the ink lying below the text's baseline.
double descenderInkCentre(StationButton &b)
{
    const QImage image = b.grab().toImage();
    const QFontMetricsF fm(b.font());
    const int baseline = int((b.height() - fm.height()) / 2 + fm.ascent());
    const QRgb face = image.pixel(3, 3);
    double sum = 0;
    int n = 0;
    for (int y = baseline + 2; y < b.height() - 3; ++y)
        for (int x = 3; x < b.width() - 3; ++x)
            if (qGray(image.pixel(x, y)) < qGray(face) - 90) {
                sum += x;
                ++n;
            }
    return n ? sum / n : -1;
}

} // namespace

class StationButtons : public QObject {
    Q_OBJECT

private slots:
    void longCaptionWrapsOntoTwoLines();
    void shortCaptionStaysOnOneLine();
    void latinFirstCaptionReadsRightToLeft();
    void noCaptionIsCutOnAnyPage();
    void clickIsAClick();
    void focusIsSeenAndEnterClicks();
};

void StationButtons::longCaptionWrapsOntoTwoLines()
{
    // Form2 Command11 on a 1215-twip button: too wide for one line.
    PageWindow window(pageLayout(Page::Form2), &hostPlayer);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    StationButton *b = window.button(11);
    QCOMPARE(b->text(), QStringLiteral("إذاعة راديو إسماعيلية مول"));
    QCOMPARE(b->width(), 1215 / 15);
    const QRect area = contentArea(*b);
    QVERIFY2(QFontMetricsF(b->font()).horizontalAdvance(b->text()) > area.width(),
             "the caption must be wider than the button for this case to mean anything");

    const StationButton::CaptionLayout caption = b->captionLayout();
    QCOMPARE(caption.lines.size(), 2);
    QCOMPARE(caption.lines.join(QString()), b->text()); // broken at a space, nothing lost
    QVERIFY(caption.lines.first().endsWith(QLatin1Char(' ')) || caption.lines.last().startsWith(QLatin1Char(' ')));
    QCOMPARE(caption.font, b->font()); // wrapped, not shrunk
    QVERIFY(caption.fits);
    QVERIFY(QRectF(area).contains(caption.bounds));
    // Centred: equal room left and right of the widest line, above and below the block.
    QVERIFY(qAbs((caption.bounds.left() - area.left()) - (area.right() + 1 - caption.bounds.right())) <= 1.5);

    // What is drawn: two separate bands of ink, none touching the button's edge.
    const QImage image = b->grab().toImage();
    const QList<bool> rows = inkRows(image, area.adjusted(1, 1, -1, -1));
    QCOMPARE(bands(rows), 2);
}

void StationButtons::shortCaptionStaysOnOneLine()
{
    StationButton b(QStringLiteral("نايل اف ام"));
    b.resize(1215 / 15, 615 / 15);
    b.setLayoutDirection(Qt::RightToLeft);
    b.setFocusPolicy(Qt::NoFocus); // the caption alone, without the focus ring
    b.show();
    QVERIFY(QTest::qWaitForWindowExposed(&b));
    const auto caption = b.captionLayout();
    QCOMPARE(caption.lines, QStringList{b.text()});
    QCOMPARE(caption.font, b.font());
    const QImage image = b.grab().toImage();
    QCOMPARE(bands(inkRows(image, contentArea(b).adjusted(1, 1, -1, -1))), 1);
}

void StationButtons::latinFirstCaptionReadsRightToLeft()
{
    // "FM" first in the text; the Arabic word after it has ink below the baseline, the Latin
    // letters none. Laid out right to left, "FM" is at the right end and the Arabic at the left.
    const QString caption = QStringLiteral("FM بيبي");
    StationButton rtl(caption);
    rtl.setLayoutDirection(Qt::RightToLeft);
    rtl.resize(200, 41);
    StationButton ltr(caption);
    ltr.setLayoutDirection(Qt::LeftToRight);
    ltr.resize(200, 41);
    rtl.show();
    ltr.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rtl));
    QVERIFY(QTest::qWaitForWindowExposed(&ltr));
    const double rtlCentre = descenderInkCentre(rtl);
    const double ltrCentre = descenderInkCentre(ltr);
    QVERIFY(rtlCentre > 0 && ltrCentre > 0);
    QVERIFY2(rtlCentre < 100, qPrintable(QString::number(rtlCentre)));
    QVERIFY2(ltrCentre > 100, qPrintable(QString::number(ltrCentre)));

    // A real caption of this kind keeps the same direction in its button.
    const Station *libya = nullptr;
    for (const Station &s : stationsOf(Page::Form6))
        if (s.caption().startsWith(QLatin1String("FM")))
            libya = &s;
    QVERIFY(libya);
    PageWindow window(pageLayout(Page::Form6), &hostPlayer);
    QCOMPARE(window.button(libya->number)->layoutDirection(), Qt::RightToLeft);
}

void StationButtons::noCaptionIsCutOnAnyPage()
{
    int shrunk = 0;
    for (const PageLayout &layout : allPageLayouts()) {
        PageWindow window(layout, &hostPlayer);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (StationButton *b : window.buttons()) {
            const auto caption = b->captionLayout();
            const QString where = pageName(layout.page) + "." + b->objectName() + " " + b->text();
            QVERIFY2(caption.fits, qPrintable(where));
            QVERIFY2(QRectF(contentArea(*b)).contains(caption.bounds), qPrintable(where));
            QCOMPARE(caption.lines.join(QString()), b->text());
            if (caption.font.pointSizeF() < b->font().pointSizeF())
                ++shrunk;
        }
    }
    qInfo("captions drawn smaller than their font to fit: %d of 175", shrunk);
}

void StationButtons::clickIsAClick()
{
    StationButton b(QStringLiteral("راديو"));
    b.resize(100, 30);
    b.show();
    QVERIFY(QTest::qWaitForWindowExposed(&b));
    int clicks = 0;
    connect(&b, &QPushButton::clicked, [&] { ++clicks; });
    QTest::mouseClick(&b, Qt::LeftButton);
    QCOMPARE(clicks, 1);
}

void StationButtons::focusIsSeenAndEnterClicks()
{
    QWidget page;
    page.setLayoutDirection(Qt::RightToLeft);
    StationButton first(QStringLiteral("راديو مصر"), &page);
    StationButton second(QStringLiteral("نجوم اف ام"), &page);
    first.setGeometry(10, 10, 81, 41);
    second.setGeometry(100, 10, 81, 41);
    page.show();
    QVERIFY(QTest::qWaitForWindowActive(&page));
    second.setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(second.hasFocus());
    const QImage unfocused = first.grab().toImage();
    first.setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(first.hasFocus());
    const QImage focused = first.grab().toImage();
    // Along the top of the button, where the ring runs, it stands out from the face by 3:1.
    double ring = 1;
    for (int y = 1; y < 6; ++y)
        ring = qMax(ring, test::contrastRatio(unfocused.pixel(first.width() / 2, y),
                                              focused.pixel(first.width() / 2, y)));
    QVERIFY2(ring >= 3.0, qPrintable(QString::number(ring)));

    QSignalSpy clicked(&first, &QPushButton::clicked);
    QTest::keyClick(&first, Qt::Key_Return);
    QTest::keyClick(&first, Qt::Key_Enter);
    QTest::keyClick(&first, Qt::Key_Space);
    QCOMPARE(clicked.size(), 3);
}

QTEST_MAIN(StationButtons)
#include "tst_station_button.moc"
