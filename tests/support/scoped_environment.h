#pragma once

// Sets environment variables of this process for as long as it lives, and gives back exactly
// what was there before: a variable that was unset is unset again, one that was set gets its
// old value, also when a test fails halfway.

#include <QByteArray>
#include <QList>
#include <QString>

namespace lumora::test {

class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;

    void set(const char *name, const QString &value);

private:
    struct Saved {
        const char *name;
        bool wasSet;
        QByteArray value;
    };
    QList<Saved> m_saved;
};

} // namespace lumora::test
