#include "kept_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLoggingCategory>
#include <QSaveFile>

Q_LOGGING_CATEGORY(lcKept, "lumora.memory", QtInfoMsg)

namespace lumora {

namespace {
const QString kFormatKey = QStringLiteral("format");
}

KeptFile::KeptFile(QString path, QString format, int delayMs, QObject *parent)
    : QObject(parent), m_path(std::move(path)), m_format(std::move(format))
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(delayMs);
    connect(&m_timer, &QTimer::timeout, this, &KeptFile::save);
}

KeptFile::~KeptFile()
{
    flush();
}

QJsonObject KeptFile::read(QString *problem) const
{
    problem->clear();
    QFile file(m_path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = tr("%1: cannot be read: %2").arg(m_path, file.errorString());
        return {};
    }
    if (file.size() > kMaxBytes) {
        *problem = tr("%1: %2 bytes, more than Lumora ever writes (%3)")
                       .arg(m_path).arg(file.size()).arg(kMaxBytes);
        return {};
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.read(kMaxBytes), &error);
    if (error.error != QJsonParseError::NoError) {
        *problem = tr("%1: not JSON at byte %2: %3").arg(m_path).arg(error.offset).arg(error.errorString());
        return {};
    }
    const QJsonObject object = doc.object();
    if (!doc.isObject() || object.value(kFormatKey).toString() != m_format) {
        *problem = tr("%1: not a file Lumora wrote (its \"%2\" is not \"%3\")")
                       .arg(m_path, kFormatKey, m_format);
        return {};
    }
    return object;
}

void KeptFile::write(const QJsonObject &content)
{
    m_content = content;
    m_content.insert(kFormatKey, m_format);
    if (!m_timer.isActive())
        m_timer.start();
}

bool KeptFile::flush()
{
    if (!m_timer.isActive())
        return true;
    m_timer.stop();
    return save();
}

bool KeptFile::save()
{
    // A folder made here is the user's alone, as XDG asks.
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QFileInfo::exists(folder) && QDir().mkpath(folder))
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QSaveFile file(m_path);
    const QByteArray bytes = QJsonDocument(m_content).toJson(QJsonDocument::Indented);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        qCWarning(lcKept).noquote() << m_path << "could not be written:" << file.errorString();
        return false;
    }
    qCDebug(lcKept).noquote() << m_path << "written," << bytes.size() << "bytes";
    return true;
}

} // namespace lumora
