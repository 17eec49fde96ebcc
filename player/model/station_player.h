#pragma once

#include "player/common/media_backend.h"
#include "player/common/player_settings.h"
#include "player/common/player_status.h"
#include "title_history.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace lumora {

// A station page's player without its looks: the address it plays, what it is doing
// (PlayerStatus), the station's caption, the volume and mute, the titles heard. It owns the
// media engine (libVLC through VlcBackend in the program). PlayerControl shows one; MPRIS,
// the program's memory and anything else that follows a player watch this object instead of
// the widget. Everything is on the GUI thread.
class StationPlayer : public QObject {
    Q_OBJECT
public:
    // With the stored PlayerSettings and libVLC. Throws lumora::PlayerFailure when libVLC is
    // missing or broken, saying what to install.
    explicit StationPlayer(QObject *parent = nullptr);
    StationPlayer(const PlayerSettings &settings, std::unique_ptr<MediaBackend> backend,
                  QObject *parent = nullptr);
    ~StationPlayer() override;

    const PlayerSettings &settings() const { return m_settings; }
    // The engine, for what only a picture needs: the position, seeking, video.
    MediaBackend &backend() const { return *m_backend; }
    // Asked for the window to draw a picture into each time a stream is opened; none: no
    // picture.
    void setVideoWindowSource(std::function<WId()> source) { m_videoWindow = std::move(source); }

    // What a page does: stops whatever plays, opens or buffers (nothing on an idle player).
    void stop();
    // Keeps address exactly as given and, with autoStart, starts opening it; returns at once.
    // An address that cannot be played shows in the status; nothing is raised.
    void setAddress(const QString &address);
    QString address() const { return m_address; }
    // A station whose address is incomplete: the status says which keys are missing and where
    // the user's endpoint file is.
    void showNoAddress(const QStringList &missingKeys, const QString &configFile);
    // The caption of the station the page last played.
    void setStationCaption(const QString &caption);
    QString stationCaption() const { return m_stationCaption; }

    // The listener's controls (buttons, menu, media keys). togglePlay does the state's
    // primary control; play only resumes or opens again, pause only pauses.
    void togglePlay();
    void play();
    void pause();
    void ownStop();
    int volume() const { return m_volume; } // 0 to 100
    void setVolume(int volume);
    bool isMuted() const { return m_muted; }
    void setMuted(bool muted);
    // A factor (0 to 1) on the volume the engine is given, which the volume the listener set
    // does not show and nothing remembers: for a fade. 1 by default.
    double outputGain() const { return m_gain; }
    void setOutputGain(double gain);

    PlayerStatus status() const { return m_status; }
    // The title the stream sends now (plain text); empty when none.
    QString title() const { return m_status.title; }
    // The titles heard on this player, kept by the program across runs.
    TitleHistory &history() { return m_history; }
    const TitleHistory &history() const { return m_history; }

    // Notes that other parts add to what the player says about itself (a timer's time left,
    // a recording's size), by key; the widget shows them in the status line's tool tip and
    // accessible description. Empty text removes the key's note.
    void setRemark(const QString &key, const QString &text);
    QStringList remarks() const { return m_remarks.values(); }

signals:
    void statusChanged(const lumora::PlayerStatus &status);
    // The stream's title changed (a new one began, or empty: none now). Sent after
    // statusChanged for the same change.
    void titleChanged(const QString &title);
    void stationCaptionChanged(const QString &caption);
    void addressChanged(const QString &address);
    void volumeChanged(int volume);
    void mutedChanged(bool muted);
    void remarksChanged();

private:
    void setStatus(const PlayerStatus &status);
    void open();
    void applyVolume();

    PlayerSettings m_settings;
    std::unique_ptr<MediaBackend> m_backend;
    std::function<WId()> m_videoWindow;
    QString m_address;
    PlayerStatus m_status;
    QString m_stationCaption;
    int m_volume = 0;
    bool m_muted = false;
    double m_gain = 1.0;
    TitleHistory m_history;
    QMap<QString, QString> m_remarks;
};

} // namespace lumora
