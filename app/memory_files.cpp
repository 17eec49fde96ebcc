#include "memory_files.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace lumora {

namespace {

// An XDG base folder: the variable when it holds an absolute path, else the default below
// the home folder.
QString xdgFolder(const char *variable, const QString &underHome)
{
    const QString set = qEnvironmentVariable(variable);
    if (!set.isEmpty() && QFileInfo(set).isAbsolute())
        return set;
    return QDir::homePath() + u'/' + underHome;
}

} // namespace

MemoryFiles MemoryFiles::user()
{
    return {xdgFolder("XDG_STATE_HOME", QStringLiteral(".local/state")) + QStringLiteral("/lumora/state.json"),
            xdgFolder("XDG_CONFIG_HOME", QStringLiteral(".config")) + QStringLiteral("/lumora/settings.json")};
}

} // namespace lumora
