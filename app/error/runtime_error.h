#pragma once

#include <QString>
#include <stdexcept>

namespace lumora {

// An error raised inside a click handler: a number and a description, as the run-time error
// report shows them ("Run-time error 'N': description"). Raised by any subsystem (the player
// raises it when stop or an address write fails); caught only where clicks are dispatched.
class RuntimeError : public std::runtime_error {
public:
    RuntimeError(int number, const QString &description)
        : std::runtime_error(description.toStdString()), m_number(number), m_description(description)
    {
    }

    int number() const { return m_number; }
    const QString &description() const { return m_description; }

private:
    int m_number;
    QString m_description;
};

} // namespace lumora
