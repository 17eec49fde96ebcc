#pragma once

#include <QString>
#include <stdexcept>

namespace lumora {

// A picture of a window that cannot be read. The application turns it into its run-time
// error report.
class PictureFailure : public std::runtime_error {
public:
    explicit PictureFailure(const QString &path)
        : std::runtime_error(path.toStdString()), m_path(path)
    {
    }

    QString path() const { return m_path; }

private:
    QString m_path;
};

} // namespace lumora
