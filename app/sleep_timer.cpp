#include "sleep_timer.h"

#include "player/widget/player_control.h"
#include "player/widget/player_texts.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcSleep, "lumora.sleep", QtInfoMsg)

namespace lumora {

namespace {

const QString kNoteKey = QStringLiteral("sleep");

} // namespace

SleepTimer::SleepTimer(NetClock &clock, QObject *parent)
    : QObject(parent), m_clock(clock), m_timer(clock.createTimer())
{
    m_timer->timeout = [this] { tick(); };
}

SleepTimer::~SleepTimer()
{
    for (const QPointer<PlayerControl> &p : m_players)
        if (p)
            release(p);
}

void SleepTimer::addPlayer(PlayerControl *player)
{
    m_players.removeAll(nullptr);
    m_players << player;
    if (isActive())
        tick();
}

qint64 SleepTimer::remainingMs() const
{
    return isActive() ? qMax<qint64>(0, m_endAt - m_clock.nowMs()) : 0;
}

void SleepTimer::start(qint64 ms)
{
    const bool was = isActive();
    m_endAt = m_clock.nowMs() + qMax<qint64>(0, ms);
    qCInfo(lcSleep) << "every player stops in" << ms / 1000 << "s";
    tick();
    if (!was)
        emit activeChanged(true);
}

void SleepTimer::cancel()
{
    if (!isActive())
        return;
    m_endAt = -1;
    m_timer->stop();
    for (const QPointer<PlayerControl> &p : m_players)
        if (p)
            release(p);
    emit activeChanged(false);
}

void SleepTimer::release(PlayerControl *player)
{
    player->setFadeLevel(1.0);
    player->setStatusNote(kNoteKey, {});
}

void SleepTimer::tick()
{
    const qint64 left = remainingMs();
    if (left <= 0) {
        finish();
        return;
    }
    const double level = left >= kFadeMs ? 1.0 : double(left) / kFadeMs;
    for (const QPointer<PlayerControl> &p : m_players) {
        if (!p)
            continue;
        if (isUnderWay(p->status().state)) {
            p->setStatusNote(kNoteKey, sleepNote(left));
            p->setFadeLevel(level);
        } else {
            release(p);
        }
    }
    // The next whole second of the time left, or the next step of the fade.
    const qint64 step = left > kFadeMs ? (left - 1) % kTickMs + 1 : qMin<qint64>(kFadeTickMs, left);
    m_timer->start(int(step));
}

void SleepTimer::finish()
{
    m_endAt = -1;
    qCInfo(lcSleep) << "time is up: every player stops";
    for (const QPointer<PlayerControl> &p : m_players) {
        if (!p)
            continue;
        if (isUnderWay(p->status().state) || p->status().state == PlaybackState::Paused)
            p->ownStop();
        release(p);
    }
    emit activeChanged(false);
}

} // namespace lumora
