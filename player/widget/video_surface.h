#pragma once

#include <QWidget>

namespace lumora {

// The player's picture area. libVLC draws video into its native window (a child window of the
// player's own); without video it is a dark panel.
class VideoSurface : public QWidget {
public:
    explicit VideoSurface(QWidget *parent);

    // libVLC can draw only into an X11 window; on other platforms (offscreen in tests) there
    // is no picture.
    static bool canEmbed();
    // The window to draw into; 0 where there can be no picture.
    WId videoWindow();
    void setHasVideo(bool hasVideo);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_hasVideo = false;
};

} // namespace lumora
