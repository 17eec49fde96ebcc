#pragma once

#include "player/extras/extras_settings.h"
#include "player/net/net_clock.h"
#include "sleep_timer.h"

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QPointer>
#include <memory>

namespace lumora {

class PlayerControl;
class PlayerExtras;

// What the players' extras share across the program: the listener's choices (loaded once,
// saved at each change), the clock, the session bus and the sleep timer. attach() gives a
// page's player its notifications, recording, sleep timer and even loudness, reached from its
// context menu.
class ProgramExtras : public QObject {
    Q_OBJECT
public:
    // clock: the system's when null.
    explicit ProgramExtras(std::unique_ptr<NetClock> clock = {}, QObject *parent = nullptr);
    ~ProgramExtras() override;

    PlayerExtras *attach(PlayerControl *player);

    const ExtrasSettings &settings() const { return m_settings; }
    // Saves the choice and applies it to every player.
    void setSettings(const ExtrasSettings &settings);
    // Why the settings file could not be read or written, when it could not.
    QString settingsError() const { return m_settingsError; }

    SleepTimer &sleepTimer() { return m_sleep; }
    NetClock &clock() { return *m_clock; }
    QDBusConnection bus() const { return m_bus; }

private:
    std::unique_ptr<NetClock> m_clock;
    QDBusConnection m_bus;
    SleepTimer m_sleep;
    ExtrasSettings m_settings;
    QString m_settingsError;
    QList<QPointer<PlayerExtras>> m_players;
};

} // namespace lumora
