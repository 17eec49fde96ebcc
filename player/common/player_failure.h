#pragma once

#include <QString>
#include <stdexcept>

namespace lumora {

// A failure of a page's player that the page cannot go on from: the player cannot be made
// (libVLC missing or broken) or its stored settings are damaged. Stopping and taking an
// address never fail (a station that cannot be played is a status, not an error). The
// application turns it into its run-time error report.
class PlayerFailure : public std::runtime_error {
public:
    enum class Kind { CannotCreate, InvalidSettings };

    PlayerFailure(Kind kind, const QString &description)
        : std::runtime_error(description.toStdString()), m_kind(kind), m_description(description)
    {
    }

    Kind kind() const { return m_kind; }
    QString description() const { return m_description; }

private:
    Kind m_kind;
    QString m_description;
};

} // namespace lumora
