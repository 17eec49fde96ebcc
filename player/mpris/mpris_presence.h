#pragma once

#include "player/common/player_status.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>
#include <optional>

namespace lumora {

class StationPlayer;

// A station page's player as the desktop sees it: an MPRIS2 media player on the session bus,
// "org.mpris.MediaPlayer2.lumora.Form2" and so on, so that media keys, sound menus and panel
// widgets show what the page plays and can pause it, stop it and set its volume.
//
// It appears when the player first plays (its first sound, or kAppearAfterMs after the first
// station was asked for, whichever comes first) and goes when the player is destroyed (with
// its page window). Joining the bus takes the GUI thread for milliseconds (far more when no
// session bus exists and D-Bus tries to start one), so it is kept off the way from a click to
// the first sound. Each player has a bus connection of its own: every MPRIS player is the object
// /org/mpris/MediaPlayer2 of the name it owns. When another Lumora holds the name already,
// ".instance<pid>" is added to it, as MPRIS asks. Without a session bus nothing happens; one
// debug line (lumora.player.mpris) says so.
class MprisPresence : public QObject {
    Q_OBJECT
public:
    static constexpr const char *kObjectPath = "/org/mpris/MediaPlayer2";
    static constexpr const char *kNamePrefix = "org.mpris.MediaPlayer2.lumora.";
    static constexpr int kAppearAfterMs = 1000;

    // Watches a page's player (the model its widget shows) and becomes its child; pageName ("Form2") names it on the bus and
    // pageTitle is what the desktop shows as its album.
    MprisPresence(StationPlayer *player, const QString &pageName, const QString &pageTitle);
    ~MprisPresence() override;

    StationPlayer &player() const { return *m_player; }
    // The bus name owned; empty while the player is not on the bus.
    QString busName() const { return m_busName; }

    // What the two interfaces report.
    QString identity() const;         // "Lumora — <page title>"
    QString playbackStatus() const;   // "Playing", "Paused" or "Stopped"
    QVariantMap metadata() const;
    double volume() const;            // 0 to 1
    void setVolume(double volume);
    bool canPlay() const;
    bool canPause() const;
    void play();
    void pause();

private:
    void onStatus(const PlayerStatus &status);
    void appear();
    void publishChanges();
    QVariantMap changeableProperties() const;

    StationPlayer *m_player;
    QString m_pageName;
    QString m_pageTitle;
    std::optional<QDBusConnection> m_bus;
    QString m_connectionName;
    QString m_busName;
    QVariantMap m_published; // the values clients were last told
    int m_track = 0;         // counts the stations played, for mpris:trackid
    bool m_triedBus = false;
    QTimer m_appearTimer; // the latest moment to appear, once playback is under way
};

} // namespace lumora
