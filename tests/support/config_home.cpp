#include "config_home.h"

#include <QDir>
#include <QFile>

namespace lumora::test {

ConfigHome::ConfigHome()
{
    if (!m_dir.isValid())
        qFatal("cannot make a temporary config home: %s", qPrintable(m_dir.errorString()));
    set("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("home")));
    set("XDG_CONFIG_DIRS", m_dir.filePath(QStringLiteral("sys")));
}

ConfigHome::ConfigHome(const QByteArray &endpointsConf) : ConfigHome()
{
    write(endpointsConf);
}

ConfigHome::~ConfigHome()
{
    for (auto it = m_saved.crbegin(); it != m_saved.crend(); ++it) {
        if (it->wasSet)
            qputenv(it->name, it->value);
        else
            qunsetenv(it->name);
    }
}

void ConfigHome::set(const char *name, const QString &value)
{
    m_saved.append({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
    qputenv(name, value.toUtf8());
}

QString ConfigHome::home() const
{
    return m_dir.filePath(QStringLiteral("home"));
}

void ConfigHome::write(const QByteArray &endpointsConf) const
{
    const QString folder = m_dir.filePath(QStringLiteral("home/lumora"));
    QFile f(folder + QStringLiteral("/endpoints.conf"));
    if (!QDir().mkpath(folder) || !f.open(QIODevice::WriteOnly) || f.write(endpointsConf) != endpointsConf.size())
        qFatal("cannot write the test configuration %s: %s", qPrintable(f.fileName()), qPrintable(f.errorString()));
}

} // namespace lumora::test
