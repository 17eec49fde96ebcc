#pragma once

#include <QFont>
#include <QPushButton>
#include <QRectF>
#include <QStringList>

namespace lumora {

// A push button with the platform's button look whose caption is centred and wrapped at spaces
// onto further lines when it is wider than the button, laid out in the button's layout
// direction (right to left on every page, whatever script the caption begins with).
// A caption is never cut: when it cannot fit the button at the button's font even wrapped, it
// is drawn at the largest smaller size that fits. Enter and Return click it as Space does, and
// a ring of 2 pixels shows when it has the keyboard focus.
class StationButton : public QPushButton {
    Q_OBJECT

public:
    explicit StationButton(const QString &caption, QWidget *parent = nullptr);

    // The caption as it is drawn.
    struct CaptionLayout {
        QFont font;        // the button's font, or a smaller size of it
        QStringList lines; // the text of each line, in logical order
        QRectF bounds;     // the ink of all lines, in button coordinates
        bool fits = false; // bounds lie inside the button's content area
    };
    CaptionLayout captionLayout() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QRectF captionArea() const;
};

} // namespace lumora
