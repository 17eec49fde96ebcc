#pragma once

// Points this process's XDG config and state locations at folders of the test's own for as
// long as it lives, and gives back afterwards exactly what was there before (a variable that was unset
// is unset again, one that was set gets its old value).

#include "scoped_environment.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace lumora::test {

class ConfigHome {
public:
    ConfigHome();
    // With the endpoint configuration given already written.
    explicit ConfigHome(const QByteArray &endpointsConf);
    ConfigHome(const ConfigHome &) = delete;
    ConfigHome &operator=(const ConfigHome &) = delete;

    // Writes lumora/endpoints.conf in the config home.
    void write(const QByteArray &endpointsConf) const;
    // The folder that holds the config home ("home"), the system's ("sys") and the state
    // home ("state").
    QString folder() const;

private:
    QTemporaryDir m_dir;
    ScopedEnvironment m_environment; // restored before the folder goes
};

} // namespace lumora::test
