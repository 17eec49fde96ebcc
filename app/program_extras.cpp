#include "program_extras.h"

#include "player/widget/player_control.h"
#include "player_extras.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcExtras, "lumora.extras", QtInfoMsg)

namespace lumora {

ProgramExtras::ProgramExtras(std::unique_ptr<NetClock> clock, QObject *parent)
    : QObject(parent),
      m_clock(clock ? std::move(clock) : systemNetClock()),
      m_bus(QDBusConnection::sessionBus()),
      m_sleep(*m_clock)
{
    m_settings = ExtrasSettings::load(&m_settingsError);
    if (!m_settingsError.isEmpty())
        qCWarning(lcExtras) << "the player's extras start from their defaults:" << m_settingsError;
}

ProgramExtras::~ProgramExtras() = default;

PlayerExtras *ProgramExtras::attach(PlayerControl *player)
{
    auto *extras = new PlayerExtras(player, *this);
    m_players.removeAll(nullptr);
    m_players << extras;
    m_sleep.addPlayer(player);
    return extras;
}

void ProgramExtras::setSettings(const ExtrasSettings &settings)
{
    if (settings == m_settings)
        return;
    m_settings = settings;
    m_settingsError.clear();
    if (!m_settings.save(&m_settingsError))
        qCWarning(lcExtras) << "the player's extras are not kept:" << m_settingsError;
    for (const QPointer<PlayerExtras> &p : m_players)
        if (p)
            p->apply(m_settings);
}

} // namespace lumora
