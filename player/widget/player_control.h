#pragma once

#include "player/common/media_backend.h"
#include "player/common/player_settings.h"
#include "player/common/player_status.h"
#include "player/model/station_player.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>

class QAction;
class QDialog;
class QHBoxLayout;
class QMenu;
class QSlider;
class QToolButton;

namespace lumora {

class StatusLine;
class VideoSurface;

// A station page's player, `WindowsMediaPlayer1`: what the page uses of it is stop() and
// writing URL, which starts playback by itself. Everything else, opening playlists and
// streams, buffering, the picture, the transport controls and the status line, is the
// player's own business and runs without the page waiting for it.
//
// The widget shows a StationPlayer (model()), which it creates and owns and which holds the
// engine; the calls below that are not about looks pass to it.
//
// Settings that have no effect here, by design:
// - invokeURLs: streams (ASF script commands, for instance) can carry addresses to be opened
//   in the web browser. They are never acted on: a radio stream must not drive the browser.
// - enableErrorDialogs is false and the player has no dialogs anyway: a stream that cannot
//   be opened only shows in the status line.
// - balance, currentPosition, defaultFrame, currentMarker, baseURL and the caption settings
//   are the neutral values the engine starts with.
class PlayerControl : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString URL READ URL WRITE setURL)
public:
    // With the stored PlayerSettings and libVLC. Throws lumora::PlayerFailure when libVLC is
    // missing or broken, saying what to install.
    explicit PlayerControl(QWidget *parent = nullptr);
    PlayerControl(const PlayerSettings &settings, std::unique_ptr<MediaBackend> backend,
                  QWidget *parent = nullptr);
    ~PlayerControl() override;

    // What the widget shows; watch it, not the widget, for what the player does.
    StationPlayer &model() const { return *m_model; }

    // Stops whatever plays, opens or buffers; on an idle player it does nothing.
    void stop();
    // Keeps url exactly as given and starts opening it (autoStart); returns at once. An
    // address that cannot be played shows in the status line; nothing is raised.
    void setURL(const QString &url);
    QString URL() const { return m_model->address(); }

    // The status line for a station whose address is incomplete: says that the stations are
    // not set up and where the user's endpoint file (configFile) is; its tool tip names the
    // missing keys and the command that writes the file.
    void showNoAddress(const QStringList &missingKeys, const QString &configFile);

    // The caption of the station the page last played (playStation sets it).
    void setStationCaption(const QString &caption);
    QString stationCaption() const { return m_model->stationCaption(); }

    // The player's own controls, as its buttons and the desktop's media keys work them.
    void togglePlay();
    void ownStop();
    int volume() const; // 0 to 100
    void setVolume(int volume);

    // The titles this player heard, in a dialog of their own (the context menu's item and
    // Ctrl+H while the player has the focus). One dialog per player: a second call raises it.
    void showHistory();

    // An item of the context menu after the player's own, its shortcut working while the
    // player has the focus. The action stays the caller's; the menu shows it while it lives.
    void addMenuAction(QAction *action);

    const PlayerSettings &settings() const { return m_model->settings(); }
    PlayerStatus status() const { return m_model->status(); }

    // The sound at this share (0 to 1) of the volume set, without moving the volume control:
    // a fade (the sleep timer's). 1 again when it is over.
    void setFadeLevel(double level)
    {
        if (m_model) // not while the model goes: its engine's end may still report
            m_model->setOutputGain(level);
    }
    double fadeLevel() const { return m_model ? m_model->outputGain() : 1.0; }
    // See MediaBackend::setStreamTap, setEvenLoudness and setBandwidthLimit.
    void setStreamTap(StreamTap *tap)
    {
        if (m_model)
            m_model->backend().setStreamTap(tap);
    }
    void setEvenLoudness(bool on)
    {
        if (m_model)
            m_model->backend().setEvenLoudness(on);
    }
    void setBandwidthLimit(qint64 bitsPerSecond)
    {
        if (m_model)
            m_model->backend().setBandwidthLimit(bitsPerSecond);
    }
    // A line that goes under the status in the status line's tool tip and accessible
    // description, kept under key (a recording's time and size, the sleep timer's time left);
    // an empty note takes that key's line away. Plain text.
    void setStatusNote(const QString &key, const QString &note)
    {
        if (m_model)
            m_model->setRemark(key, note);
    }
    QString statusNotes() const { return m_model ? m_model->remarks().join(u'\n') : QString(); }
    // What the player is doing, in words a listener understands: the state, why a station
    // could not be opened or was lost and what to do about it.
    QString statusText() const;
    static QString statusText(const PlayerStatus &status);
    // The whole status line: the station's caption before the state while it is opened,
    // played or failing, and the stream's title, as plain text. It starts with a right-to-left
    // mark, and the caption, a title and a file path are set in Unicode isolates.
    QString statusLineText() const;

    QSize sizeHint() const override;

signals:
    void statusChanged(const lumora::PlayerStatus &status);
    void stationCaptionChanged(const QString &caption);
    // The status line's accessible name changed, and screen readers were told: once per real
    // change of what it says (the buffering percentage is not spoken).
    void statusAnnounced(const QString &spoken);
    void volumeChanged(int volume);
    // The context menu is about to open with the player's own items: others add theirs.
    void contextMenuOpening(QMenu *menu);

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    // The player's widgets, built once in steps.
    void build();
    QSlider *buildPositionBar();
    QHBoxLayout *buildTransportRow();
    QWidget *buildStatusLine();
    void buildHistoryAction();
    void applySettings();
    void showStatus(const PlayerStatus &status);
    void refreshStatusLine();
    void toggleMute();
    void updateMuteButton();
    void updatePlayButton();

    std::unique_ptr<StationPlayer> m_model;
    QAction *m_historyAction = nullptr;
    QList<QPointer<QAction>> m_menuActions;
    QPointer<QDialog> m_historyDialog;

    VideoSurface *m_picture = nullptr;
    QSlider *m_position = nullptr;
    QToolButton *m_playPause = nullptr;
    QToolButton *m_stop = nullptr;
    QToolButton *m_mute = nullptr;
    QSlider *m_volume = nullptr;
    StatusLine *m_statusLine = nullptr;
    QWidget *m_controls = nullptr;
};

} // namespace lumora
