#include "listener_choices.h"

namespace lumora {

namespace {
const QString kFormat = QStringLiteral("lumora-settings");
}

ListenerChoices::ListenerChoices(const QString &path, QString *problem, QObject *parent)
    : QObject(parent), m_file(path, kFormat)
{
    const QJsonObject read = m_file.read(problem);
    for (auto it = read.begin(); it != read.end(); ++it)
        if (it.value().isBool())
            m_choices.insert(it.key(), it.value());
    if (!problem->isEmpty()) {
        m_file.write(m_choices); // the damaged file is said once, then replaced
        m_file.flush();
    }
}

bool ListenerChoices::isOn(const QString &name) const
{
    return m_choices.value(name).toBool(false);
}

void ListenerChoices::set(const QString &name, bool on)
{
    if (isOn(name) == on)
        return;
    m_choices.insert(name, on);
    m_file.write(m_choices);
    emit changed(name, on);
}

} // namespace lumora
