#pragma once

#include "kept_file.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

namespace lumora {

// What the listener chose from the players' context menus, each choice a switch by name
// ("resumePlaying"), all off until turned on. Kept in settings.json (see MemoryFiles).
class ListenerChoices : public QObject {
    Q_OBJECT
public:
    // Reads the file; a damaged or foreign one gives every switch off and, in *problem,
    // what was wrong.
    ListenerChoices(const QString &path, QString *problem, QObject *parent = nullptr);

    bool isOn(const QString &name) const;
    void set(const QString &name, bool on);
    // Writes what waits at once (the program ends).
    void flush() { m_file.flush(); }

signals:
    void changed(const QString &name, bool on);

private:
    KeptFile m_file;
    QJsonObject m_choices;
};

} // namespace lumora
