#pragma once

#include "player/net/net_clock.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <memory>

namespace lumora {

class PlayerControl;

// The program's sleep timer: when it runs out every player that is on its way to sound or
// making it stops, after its sound has faded out over the last kFadeMs. Until then the time
// left shows in the tool tip of each such player. Cancelling gives every sound back as it was.
class SleepTimer : public QObject {
    Q_OBJECT
public:
    static constexpr int kFadeMs = 30000;
    static constexpr int kTickMs = 1000;      // the time left shown
    static constexpr int kFadeTickMs = 250;   // the steps of the fade

    explicit SleepTimer(NetClock &clock, QObject *parent = nullptr);
    ~SleepTimer() override;

    void start(qint64 ms);
    void cancel();
    bool isActive() const { return m_endAt >= 0; }
    qint64 remainingMs() const;

    // A player the timer acts on, for its life.
    void addPlayer(PlayerControl *player);

signals:
    void activeChanged(bool active);

private:
    void tick();
    void finish();
    void release(PlayerControl *player);

    NetClock &m_clock;
    std::unique_ptr<NetTimer> m_timer;
    qint64 m_endAt = -1;
    QList<QPointer<PlayerControl>> m_players;
};

} // namespace lumora
