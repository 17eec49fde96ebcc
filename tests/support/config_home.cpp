#include "config_home.h"

#include <QDir>
#include <QFile>

namespace lumora::test {

ConfigHome::ConfigHome()
{
    if (!m_dir.isValid())
        qFatal("cannot make a temporary config home: %s", qPrintable(m_dir.errorString()));
    m_environment.set("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("home")));
    m_environment.set("XDG_CONFIG_DIRS", m_dir.filePath(QStringLiteral("sys")));
    m_environment.set("XDG_STATE_HOME", m_dir.filePath(QStringLiteral("state")));
}

QString ConfigHome::folder() const
{
    return m_dir.path();
}

ConfigHome::ConfigHome(const QByteArray &endpointsConf) : ConfigHome()
{
    write(endpointsConf);
}

void ConfigHome::write(const QByteArray &endpointsConf) const
{
    const QString folder = m_dir.filePath(QStringLiteral("home/lumora"));
    QFile f(folder + QStringLiteral("/endpoints.conf"));
    if (!QDir().mkpath(folder) || !f.open(QIODevice::WriteOnly) || f.write(endpointsConf) != endpointsConf.size())
        qFatal("cannot write the test configuration %s: %s", qPrintable(f.fileName()), qPrintable(f.errorString()));
}

} // namespace lumora::test
