#pragma once

#include <QLabel>

namespace lumora {

// The player's status line: up to two lines of plain text (a stream's title is network text
// and never markup), wrapped at spaces and cut with an ellipsis where it is longer, the whole
// text in its tool tip. A screen reader hears its accessible name, which changes, and is
// announced, only when what it says really changes; details that change on their own (the
// audio buffered) go in the tool tip and the accessible description, which are not announced.
class StatusLine : public QLabel {
public:
    explicit StatusLine(QWidget *parent);

    // True when the spoken text changed and was announced.
    bool display(const QString &text, const QString &spoken, const QString &toolTip,
                 const QString &description);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void fit();

    QString m_text;
};

} // namespace lumora
