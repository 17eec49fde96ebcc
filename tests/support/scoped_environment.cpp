#include "scoped_environment.h"

namespace lumora::test {

ScopedEnvironment::~ScopedEnvironment()
{
    // Latest first, so that a variable set twice ends as it was before the first.
    for (auto it = m_saved.crbegin(); it != m_saved.crend(); ++it) {
        if (it->wasSet)
            qputenv(it->name, it->value);
        else
            qunsetenv(it->name);
    }
}

void ScopedEnvironment::set(const char *name, const QString &value)
{
    m_saved.append({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
    qputenv(name, value.toUtf8());
}

} // namespace lumora::test
