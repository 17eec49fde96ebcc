#pragma once

#include <QLabel>

class QTextLayout;

namespace lumora {

// The player's status line: plain text (a stream's title is network text and never markup)
// shown whole within the line's fixed rectangle, never cut with an ellipsis. It wraps at
// spaces, and inside a word (a long file path) where no space is left; when the text still
// does not fit it is set smaller, down to kSmallestPixelSize. The whole text is also in its
// tool tip and its accessible description. A screen reader hears its accessible name, which
// changes, and is announced, only when what it says really changes; details that change on
// their own (the audio buffered) go in the tool tip and the accessible description, which
// are not announced.
class StatusLine : public QLabel {
    Q_OBJECT
public:
    // The smallest text the line sets: about 6 points on a screen of 96 dots per inch.
    static constexpr int kSmallestPixelSize = 8;

    explicit StatusLine(QWidget *parent);

    // True when the spoken text changed and was announced.
    bool display(const QString &text, const QString &spoken, const QString &toolTip,
                 const QString &description);

    // The size of the text now shown, and whether all of it fits the line (false only for a
    // text too long to fit even at the smallest size; its end is then cut at the bottom).
    int shownPixelSize() const { return m_pixelSize; }
    bool showsWhole() const { return m_whole; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void fit();
    // Lays the text out at pixelSize in the line's width; returns the height it needs.
    qreal layOut(QTextLayout &layout, int pixelSize) const;

    int m_pixelSize = 0;
    bool m_whole = true;
};

} // namespace lumora
